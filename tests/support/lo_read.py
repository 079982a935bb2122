#!/usr/bin/python3
"""Reads a workbook the way LibreOffice sees it, for the C++ tests.

LibreOffice converts the workbook headless to .xlsx in a private profile; the
cells are then read from the package and printed one record a line, fields
separated by tabs (backslash, tab and line break escaped):

  S name                                   a sheet, in tab order
  C address type value formula format bold points
  M range | F ranges | V ranges            merge, conditional format, validation

Exit 3 with the reason on stdout when soffice is missing; any other failure
exits non-zero, so a broken file fails the test rather than skipping it.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile

NS = {"m": "http://schemas.openxmlformats.org/spreadsheetml/2006/main",
      "r": "http://schemas.openxmlformats.org/officeDocument/2006/relationships",
      "p": "http://schemas.openxmlformats.org/package/2006/relationships"}
BUILT_IN = {0: "General", 1: "0", 2: "0.00", 3: "#,##0", 4: "#,##0.00", 9: "0%", 10: "0.00%",
            11: "0.00E+00", 12: "# ?/?", 13: "# ??/??", 14: "mm-dd-yy", 15: "d-mmm-yy", 16: "d-mmm",
            17: "mmm-yy", 18: "h:mm AM/PM", 19: "h:mm:ss AM/PM", 20: "h:mm", 21: "h:mm:ss",
            22: "m/d/yy h:mm", 45: "mm:ss", 46: "[h]:mm:ss", 47: "mmss.0", 48: "##0.0E+0", 49: "@"}


def convert(workbook, timeout, work):
    source = os.path.join(work, "in" + os.path.splitext(workbook)[1])
    shutil.copyfile(workbook, source)
    argv = ["soffice", "--headless", "--norestore", "-env:UserInstallation=file://" + work + "/profile",
            "--convert-to", "xlsx", "--outdir", work, source]
    # soffice starts soffice.bin below itself: a timeout ends the whole group.
    child = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True)
    try:
        output = child.communicate(timeout=timeout)[0].decode(errors="replace")
    except subprocess.TimeoutExpired:
        os.killpg(child.pid, signal.SIGKILL)
        child.wait()
        sys.exit(f"soffice did not finish within {timeout} s")
    xlsx = os.path.join(work, "in.xlsx")
    if child.returncode != 0 or not os.path.exists(xlsx):
        sys.exit(f"soffice could not convert {workbook}: {output.strip()}")
    return xlsx


def styles_of(package):
    if "xl/styles.xml" not in package.namelist():
        return []
    root = ET.fromstring(package.read("xl/styles.xml"))
    custom = {int(f.get("numFmtId")): f.get("formatCode") for f in root.iterfind("m:numFmts/m:numFmt", NS)}
    fonts = []
    for font in root.iterfind("m:fonts/m:font", NS):
        bold = font.find("m:b", NS)
        size = font.find("m:sz", NS)
        fonts.append((bold is not None and bold.get("val", "true") in ("true", "1"),
                      size.get("val") if size is not None else "0"))
    styles = []
    for xf in root.iterfind("m:cellXfs/m:xf", NS):
        fmt = int(xf.get("numFmtId", "0"))
        font = int(xf.get("fontId", "0"))
        bold, points = fonts[font] if font < len(fonts) else (False, "0")
        styles.append((custom.get(fmt, BUILT_IN.get(fmt, f"#{fmt}")), "1" if bold else "0", points))
    return styles


def text_of(element):
    # Runs' texts, without phonetic readings.
    phonetic = {x for rph in element.iterfind("m:rPh", NS) for x in rph.iter()}
    return "".join(t.text or "" for t in element.iter(f"{{{NS['m']}}}t") if t not in phonetic)


def read(xlsx, emit):
    package = zipfile.ZipFile(xlsx)
    styles = styles_of(package)
    strings = []
    if "xl/sharedStrings.xml" in package.namelist():
        strings = [text_of(si) for si in ET.fromstring(package.read("xl/sharedStrings.xml")).iterfind("m:si", NS)]
    rels = ET.fromstring(package.read("xl/_rels/workbook.xml.rels"))
    targets = {r.get("Id"): r.get("Target") for r in rels.iterfind("p:Relationship", NS)}
    for sheet in ET.fromstring(package.read("xl/workbook.xml")).iterfind("m:sheets/m:sheet", NS):
        target = targets[sheet.get(f"{{{NS['r']}}}id")]
        emit("S", sheet.get("name"))
        root = ET.fromstring(package.read(target[1:] if target.startswith("/") else "xl/" + target))
        for c in root.iterfind("m:sheetData/m:row/m:c", NS):
            kind = c.get("t", "n")
            v, f, inline = c.find("m:v", NS), c.find("m:f", NS), c.find("m:is", NS)
            value = (v.text or "") if v is not None else (text_of(inline) if inline is not None else "")
            if kind == "s":
                value = strings[int(value)]
            formula = "=" + (f.text or "") if f is not None and f.text else ""
            style = styles[int(c.get("s", "0"))] if int(c.get("s", "0")) < len(styles) else ("General", "0", "0")
            emit("C", c.get("r"), kind, value, formula, *style)
        for merge in root.iterfind("m:mergeCells/m:mergeCell", NS):
            emit("M", merge.get("ref"))
        for cf in root.iterfind("m:conditionalFormatting", NS):
            emit("F", cf.get("sqref"))
        for dv in root.iterfind("m:dataValidations/m:dataValidation", NS):
            emit("V", dv.get("sqref"))


def main():
    workbook, timeout = sys.argv[1], float(sys.argv[2]) if len(sys.argv) > 2 else 180
    if shutil.which("soffice") is None:
        print("LibreOffice (soffice) is not installed")
        sys.exit(3)
    if not os.path.isfile(workbook):
        sys.exit(f"no such workbook: {workbook}")

    def emit(*fields):
        escaped = (str(x).replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n") for x in fields)
        sys.stdout.write("\t".join(escaped) + "\n")

    with tempfile.TemporaryDirectory(prefix="vz-lo-") as work:
        read(convert(os.path.abspath(workbook), timeout, work), emit)


if __name__ == "__main__":
    main()
