#!/usr/bin/python3
"""An empty transfer over a corpus of real workbooks, compared cell by cell.

Every .xls file under the given folders goes through the program once with a
quote document that fills nothing (open, transfer, save). The output is then
read back beside the input by independent readers and compared: xlrd for
every cell's value and type (a formula's stored result included), merged
ranges, names, row heights and sheets; LibreOffice (--formulas) for every
formula's text. Nothing should change.

    /usr/bin/python3 tools/corpus/check-corpus.py build/default/vi2zezir DIR... \
        [--out /tmp/corpus-out] [--jobs 2] [--formulas] [--only NAME]

Prints one line per file that is refused, fails, hangs or changes, and the
counts at the end. Needs python3-xlrd (Debian), run with /usr/bin/python3.
"""
import argparse
import concurrent.futures
import csv
import glob
import hashlib
import json
import math
import os
import subprocess
import sys
import tempfile

import xlrd

EMPTY_QUOTE = {"VersionMajor": "4", "Header": {}, "Items": [], "Macros": {}}
TIMEOUT = 60


def run_program(program, template, output, quote):
    env = dict(os.environ, TENDRIX_DOCUMENT=quote, VI2ZEZIR_OUTPUT=output, VI2ZEZIR_HEADLESS="1")
    env.pop("DISPLAY", None)
    try:
        proc = subprocess.run([program, "/f:" + os.path.abspath(template)], env=env,
                              capture_output=True, timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        return "hang", ""
    text = (proc.stderr or b"").decode("utf-8", "replace").strip()
    if proc.returncode < 0 or proc.returncode > 1:
        return "crash", "signal/exit %d: %s" % (proc.returncode, text[-300:])
    if proc.returncode != 0:
        return "refused", text.splitlines()[-1] if text else ""
    return "ok", ""


def same_number(a, b):
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    return a == b


def row_look(sheet, r):
    """A row's height and hidden state as a reader shows them. A row without
    a ROW record, or with one that says "default height" (the top bit of its
    height), takes the sheet's default (None: the default font's)."""
    info = sheet.rowinfo_map.get(r)
    default_hidden = bool(getattr(sheet, "default_row_hidden", 0))
    if info is None:
        return sheet.default_row_height, default_hidden
    if info.has_default_height and sheet.default_row_height is None:
        return None, bool(info.hidden)
    return info.height, bool(info.hidden)


def describe(book_a, book_b):
    """Differences between two workbooks as read by xlrd."""
    diffs = []
    if book_a.nsheets != book_b.nsheets:
        return ["sheet count %d -> %d" % (book_a.nsheets, book_b.nsheets)]
    for i in range(book_a.nsheets):
        a, b = book_a.sheet_by_index(i), book_b.sheet_by_index(i)
        where = "sheet %d" % (i + 1)
        if a.name != b.name:
            diffs.append("%s name %r -> %r" % (where, a.name, b.name))
        rows = max(a.nrows, b.nrows)
        cols = max(a.ncols, b.ncols)
        for r in range(rows):
            for c in range(cols):
                ca = a.cell(r, c) if r < a.nrows and c < a.row_len(r) else None
                cb = b.cell(r, c) if r < b.nrows and c < b.row_len(r) else None
                ta = ca.ctype if ca else xlrd.XL_CELL_EMPTY
                tb = cb.ctype if cb else xlrd.XL_CELL_EMPTY
                va = ca.value if ca else ""
                vb = cb.value if cb else ""
                # A blank cell and no cell read the same to a user.
                if ta in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK) and tb in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    continue
                if ta != tb or not same_number(va, vb):
                    diffs.append("%s %s: %s %r -> %s %r" % (where, xlrd.cellname(r, c), ta, va, tb, vb))
        if sorted(a.merged_cells) != sorted(b.merged_cells):
            diffs.append("%s merged ranges %s -> %s" % (where, sorted(a.merged_cells)[:4], sorted(b.merged_cells)[:4]))
        if a.default_row_height != b.default_row_height:
            diffs.append("%s default row height %s -> %s" % (where, a.default_row_height, b.default_row_height))
        for r in range(rows):
            height_a, hidden_a = row_look(a, r)
            height_b, hidden_b = row_look(b, r)
            if height_a != height_b or hidden_a != hidden_b:
                diffs.append("%s row %d height %s%s -> %s%s" % (where, r + 1, height_a, " hidden" if hidden_a else "",
                                                                 height_b, " hidden" if hidden_b else ""))
    names_a = [(n.name, n.scope, n.hidden, n.raw_formula) for n in book_a.name_obj_list]
    names_b = [(n.name, n.scope, n.hidden, n.raw_formula) for n in book_b.name_obj_list]
    if names_a != names_b:
        diffs.append("names %s -> %s" % (names_a[:3], names_b[:3]))
    return diffs


def open_book(path):
    return xlrd.open_workbook(path, formatting_info=True, on_demand=False, logfile=open(os.devnull, "w"))


def compare_xlrd(template, output):
    try:
        before = open_book(template)
    except Exception as e:  # xlrd cannot read it: nothing to compare with
        return None, "xlrd cannot read the input (%s)" % (str(e) or type(e).__name__).splitlines()[0][:80]
    try:
        after = open_book(output)
    except Exception as e:
        return ["xlrd cannot read the output: %s" % e], None
    return describe(before, after), None


CSV_FORMULAS = "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,true,false,-1"


def libreoffice_formulas(paths, outdir):
    """Every sheet of every file as csv with formulas, by file name."""
    os.makedirs(outdir, exist_ok=True)
    profile = "file://" + tempfile.mkdtemp(prefix="lo-profile-")
    for start in range(0, len(paths), 40):
        subprocess.run(["soffice", "-env:UserInstallation=" + profile, "--headless", "--convert-to",
                        CSV_FORMULAS, "--outdir", outdir] + paths[start:start + 40],
                       capture_output=True, timeout=1800)


def read_csvs(outdir, stem, folders):
    """The sheets LibreOffice wrote for one workbook (<stem>-<sheet>.csv).
    Links to other files show their absolute path, which differs between a
    workbook and its copy in another folder: those folders read as DIR."""
    sheets = {}
    for path in sorted(glob.glob(glob.escape(os.path.join(outdir, stem)) + "-*.csv")):
        with open(path, newline="", encoding="utf-8", errors="replace") as f:
            text = f.read()
        for folder in folders:
            text = text.replace("file://" + folder + "/", "file:///DIR/")
        sheets[os.path.basename(path)[len(stem) + 1:]] = list(csv.reader(text.splitlines()))
    return sheets


def check_one(args, template, index):
    name = os.path.relpath(template)
    output = os.path.join(args.out, "%04d-%s" % (index, os.path.basename(template)))
    if os.path.exists(output):
        os.remove(output)
    status, message = run_program(args.program, template, output, args.quote)
    result = {"file": name, "status": status, "message": message, "output": output, "diffs": []}
    if status != "ok":
        return result
    if not os.path.exists(output):
        result["status"] = "crash"
        result["message"] = "exit 0 but no output written"
        return result
    diffs, note = compare_xlrd(template, output)
    if note:
        result["note"] = note
    result["diffs"] = diffs or []
    if result["diffs"]:
        result["status"] = "changed"
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("program")
    parser.add_argument("dirs", nargs="+")
    parser.add_argument("--out", default=os.path.join(tempfile.gettempdir(), "vz-corpus"))
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--formulas", action="store_true", help="compare formula texts through LibreOffice too")
    parser.add_argument("--only", help="only files whose path contains this text")
    parser.add_argument("--json", help="write every result to this file")
    args = parser.parse_args()
    args.program = os.path.abspath(args.program)
    os.makedirs(args.out, exist_ok=True)
    args.quote = os.path.join(args.out, "empty-quote.json")
    with open(args.quote, "w") as f:
        json.dump(EMPTY_QUOTE, f)

    files = []
    seen = set()
    for d in args.dirs:
        for path in sorted(glob.glob(os.path.join(d, "**", "*"), recursive=True)):
            if not path.lower().endswith(".xls") or not os.path.isfile(path):
                continue
            if args.only and args.only not in path:
                continue
            digest = hashlib.sha1(open(path, "rb").read()).hexdigest()
            if digest in seen:  # the same file in two suites counts once
                continue
            seen.add(digest)
            files.append(path)

    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        results = list(pool.map(lambda p: check_one(args, p[1], p[0]), enumerate(files)))

    if args.formulas:
        ok = [r for r in results if r["status"] in ("ok", "changed")]
        # Inputs go in under their output's numbered name: corpora hold
        # files of the same name, and a name may start another's.
        lo_src = os.path.join(args.out, "lo-src")
        lo_in = os.path.join(args.out, "lo-in")
        lo_out = os.path.join(args.out, "lo-out")
        os.makedirs(lo_src, exist_ok=True)
        for r in ok:
            link = os.path.join(lo_src, os.path.basename(r["output"]))
            if os.path.lexists(link):
                os.remove(link)
            os.symlink(os.path.abspath(r["file"]), link)
        libreoffice_formulas([os.path.join(lo_src, os.path.basename(r["output"])) for r in ok], lo_in)
        libreoffice_formulas([r["output"] for r in ok], lo_out)
        for r in ok:
            stem = os.path.splitext(os.path.basename(r["output"]))[0]
            a = read_csvs(lo_in, stem, [os.path.abspath(lo_src), os.path.dirname(os.path.abspath(r["file"]))])
            b = read_csvs(lo_out, stem, [os.path.abspath(args.out)])
            if not a:
                continue
            for (sa, rows_a), (sb, rows_b) in zip(sorted(a.items()), sorted(b.items())):
                if rows_a != rows_b:
                    first = next(((i, x, y) for i, (x, y) in enumerate(zip(rows_a, rows_b)) if x != y),
                                 (min(len(rows_a), len(rows_b)), None, None))
                    r["diffs"].append("formulas of %s differ from row %d: %s -> %s" %
                                      (sa, first[0] + 1, str(first[1])[:120], str(first[2])[:120]))
                    r["status"] = "changed"
            if len(a) != len(b):
                r["diffs"].append("LibreOffice reads %d sheets -> %d" % (len(a), len(b)))
                r["status"] = "changed"

    counts = {}
    for r in results:
        counts[r["status"]] = counts.get(r["status"], 0) + 1
        if r["status"] != "ok":
            print("%-8s %s  %s" % (r["status"], r["file"], r["message"]))
            for d in r["diffs"][:5]:
                print("           " + d)
            if len(r["diffs"]) > 5:
                print("           ... %d more" % (len(r["diffs"]) - 5))
    unread = sum(1 for r in results if r.get("note"))
    print("\n%d files: %s; %d of them not readable by xlrd (compared by LibreOffice only, with --formulas)" %
          (len(results), ", ".join("%s %d" % kv for kv in sorted(counts.items())), unread))
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
    return 0 if all(r["status"] == "ok" for r in results) else 1


if __name__ == "__main__":
    sys.exit(main())
