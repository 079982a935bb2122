#!/usr/bin/python3
"""The line-item transfer done by LibreOffice Calc over UNO, for comparison.

    uno_fill.py TEMPLATE.xls QUOTE.json OUTPUT.xls TIMES.txt

Starts a private headless soffice, then times what the program does with the
same template and quote document: open the template, replace the
header placeholders, for every item placeholder and every line find the
placeholder, insert a cell above it (shifting down) and write the line's value
or the extended-price formula, clear the placeholder, replace the macros, and
save as .xls. The seconds of that work (soffice's start-up not included) go
to TIMES.txt: the wall clock, then the CPU time of soffice and of this
client together. Needs /usr/bin/python3 with python3-uno.
"""
import datetime
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import uno
from com.sun.star.beans import PropertyValue
from com.sun.star.connection import NoConnectException
from com.sun.star.table import CellRangeAddress

DOWN = uno.Enum("com.sun.star.sheet.CellInsertMode", "DOWN")
TYPE2_FIELDS = {"Description", "CustomMemo01", "CustomMemo02", "CustomMemo03", "CustomMemo04", "CustomMemo05"}


def prop(name, value):
    p = PropertyValue()
    p.Name, p.Value = name, value
    return p


def number(value):
    """A JSON value as Calc takes it: a number (a date as its serial), or None for a text."""
    if isinstance(value, bool) or value is None:
        return None
    if isinstance(value, (int, float)):
        return float(value)
    if isinstance(value, dict) and "currency" in value:
        return float(value["currency"])
    if isinstance(value, dict) and "date" in value:
        return float((datetime.date.fromisoformat(value["date"][:10]) - datetime.date(1899, 12, 30)).days)
    return None


def text(value):
    if isinstance(value, dict):
        return str(next(iter(value.values())))
    return "" if value is None else str(value)


def office_pids(pipe):
    """The soffice processes listening on `pipe`: this script's own."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if pipe.encode() in f.read():
                    yield int(pid)
        except OSError:
            continue


def office_cpu(pipe):
    """CPU seconds so far of the soffice processes listening on `pipe`."""
    total = 0.0
    for pid in office_pids(pipe):
        try:
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        except OSError:
            continue
    return total


def connect(pipe):
    resolver = uno.getComponentContext().ServiceManager.createInstanceWithContext(
        "com.sun.star.bridge.UnoUrlResolver", uno.getComponentContext())
    for _ in range(600):
        try:
            return resolver.resolve(f"uno:pipe,name={pipe};urp;StarOffice.ComponentContext")
        except NoConnectException:
            time.sleep(0.1)
    raise RuntimeError("soffice did not answer")


def replace_all(sheet, what, replacement):
    descriptor = sheet.createReplaceDescriptor()
    descriptor.SearchString, descriptor.ReplaceString = what, replacement
    sheet.replaceAll(descriptor)


def find(sheet, what):
    descriptor = sheet.createSearchDescriptor()
    descriptor.SearchString = what
    return sheet.findFirst(descriptor)


def column_letters(col):
    letters = ""
    col += 1
    while col:
        col, rest = divmod(col - 1, 26)
        letters = chr(65 + rest) + letters
    return letters


def fill(desktop, template, quote, output):
    # Not opened read-only: Calc refuses every edit of a read-only document.
    # The template is not written either way; the result is stored elsewhere.
    document = desktop.loadComponentFromURL(uno.systemPathToFileUrl(template), "_blank", 0, (prop("Hidden", True),))
    sheet = document.Sheets.getByIndex(0)
    for field, value in quote.get("Header", {}).items():
        if find(sheet, "&DH_" + field) is not None:
            replace_all(sheet, "&DH_" + field, text(value))

    columns = {}
    for field in ("UnitPrice", "QtyTotal"):
        cell = find(sheet, "&DI_" + field)
        if cell is not None:
            columns[field] = column_letters(cell.CellAddress.Column)
    fields = []
    for line in quote["Items"]:
        fields += [f for f in line if f not in fields and f != "LineType"]
    # Longer names first, so that a name beginning another ("Manufacturer")
    # does not take the other's cell; the writers' table is ordered so.
    fields.sort(key=len, reverse=True)
    for field in fields:
        placeholder = "&DI_" + field
        if find(sheet, placeholder) is None:
            continue
        for line in quote["Items"]:
            address = find(sheet, placeholder).CellAddress
            sheet.insertCells(CellRangeAddress(address.Sheet, address.Column, address.Row, address.Column,
                                               address.Row), DOWN)
            cell = sheet.getCellByPosition(address.Column, address.Row)
            line_type = line.get("LineType", 0)
            if line_type in (2, 4):
                if field in TYPE2_FIELDS or (line_type == 4 and field == "ExtendedPrice"):
                    cell.setString(text(line.get(field, ""))[:255])
            elif field == "ExtendedPrice" and len(columns) == 2:
                row = address.Row + 1
                cell.setFormula(f"={columns['UnitPrice']}{row} * {columns['QtyTotal']}{row}")
            elif number(line.get(field)) is not None:
                cell.setValue(number(line[field]))
            else:
                cell.setString(text(line.get(field, "")))
        replace_all(sheet, placeholder, "")
    for macro, value in quote.get("Macros", {}).items():
        if find(sheet, macro) is not None:
            replace_all(sheet, macro, text(value))
    document.storeToURL(uno.systemPathToFileUrl(output), (prop("FilterName", "MS Excel 97"),))
    document.close(True)


def main():
    template, quote_path, output, times_path = (os.path.abspath(a) for a in sys.argv[1:5])
    with open(quote_path, encoding="utf-8") as f:
        quote = json.load(f)
    profile = tempfile.mkdtemp(prefix="lo-longquotes-")
    pipe = "vz_uno_fill_%d" % os.getpid()
    office = subprocess.Popen(["soffice", "--headless", "--invisible", "--norestore", "--nologo",
                               "-env:UserInstallation=" + uno.systemPathToFileUrl(profile),
                               f"--accept=pipe,name={pipe};urp;"])
    terminated = False
    try:
        context = connect(pipe)
        desktop = context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", context)
        start, cpu = time.monotonic(), office_cpu(pipe) + time.process_time()
        fill(desktop, template, quote, output)
        seconds, cpu = time.monotonic() - start, office_cpu(pipe) + time.process_time() - cpu
        with open(times_path, "w") as f:
            f.write(f"{seconds:.3f} {cpu:.3f}\n")
        try:
            desktop.terminate()
        except Exception:  # the bridge goes down with soffice
            pass
        terminated = True
        office.wait(timeout=60)
    finally:
        # The launcher may be gone while soffice.bin lingers: after a
        # terminate, wait for every process on this pipe; end what is left.
        deadline = time.monotonic() + (30 if terminated else 0)
        while list(office_pids(pipe)) and time.monotonic() < deadline:
            time.sleep(0.2)
        for pid in office_pids(pipe):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if office.poll() is None:
            office.kill()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    main()
