#!/usr/bin/python3
"""The first worksheet of an .xlsx as cells: {"A1": (type, value, formula)},
read with zipfile and ElementTree only, so that it is independent of the
engine's reader. Also compares two workbooks cell by cell.

    sheet_cells.py dump FILE.xlsx
    sheet_cells.py compare A.xlsx B.xlsx     (exit status 1 on a difference)
"""
import posixpath
import re
import sys
import zipfile
import xml.etree.ElementTree as ET

MAIN = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
REL = "{http://schemas.openxmlformats.org/officeDocument/2006/relationships}"
PKG = "{http://schemas.openxmlformats.org/package/2006/relationships}"


def _target(base, target):
    if target.startswith("/"):
        return target[1:]
    return posixpath.normpath(posixpath.join(posixpath.dirname(base), target))


def _rels(z, part):
    name = posixpath.join(posixpath.dirname(part), "_rels", posixpath.basename(part) + ".rels")
    if name not in z.namelist():
        return {}
    root = ET.fromstring(z.read(name))
    return {r.get("Id"): (r.get("Type").rsplit("/", 1)[-1], _target(part, r.get("Target")))
            for r in root.iter(PKG + "Relationship")}


def _text(si):
    # Plain text of a string item: its runs, without phonetic runs.
    parts = []
    for node in si.iter():
        if node.tag == MAIN + "rPh":
            continue
        if node.tag == MAIN + "t" and node.text:
            parts.append(node.text)
    for ph in si.iter(MAIN + "rPh"):
        for t in ph.iter(MAIN + "t"):
            if t.text and t.text in parts:
                parts.remove(t.text)
    return "".join(parts)


def read(path):
    """Returns (cells, names, styles): cells maps "A1" to (type, value,
    formula), names maps name to text, styles maps "A1" to (numFmt code or
    id, quotePrefix)."""
    with zipfile.ZipFile(path) as z:
        rels = _rels(z, "")
        book = next(t for k, t in rels.values() if k == "officeDocument")
        wrels = _rels(z, book)
        wb = ET.fromstring(z.read(book))
        first = next(s for s in wb.iter(MAIN + "sheet") if wrels[s.get(REL + "id")][0] == "worksheet")
        sheet = wrels[first.get(REL + "id")][1]
        strings = []
        xfs, fmts = [], {}
        for kind, target in wrels.values():
            if kind == "sharedStrings":
                strings = [_text(si) for si in ET.fromstring(z.read(target)).iter(MAIN + "si")]
            if kind == "styles":
                st = ET.fromstring(z.read(target))
                fmts = {f.get("numFmtId"): f.get("formatCode") for f in st.iter(MAIN + "numFmt")}
                cellxfs = st.find(MAIN + "cellXfs")
                if cellxfs is not None:
                    xfs = [(x.get("numFmtId", "0"), x.get("quotePrefix", "0") in ("1", "true"))
                           for x in cellxfs.findall(MAIN + "xf")]
        names = {n.get("name") + ("@" + n.get("localSheetId") if n.get("localSheetId") else ""): n.text
                 for n in wb.iter(MAIN + "definedName")}
        cells, styles = {}, {}
        for c in ET.fromstring(z.read(sheet)).iter(MAIN + "c"):
            ref, t = c.get("r"), c.get("t", "n")
            v, f = c.find(MAIN + "v"), c.find(MAIN + "f")
            value = v.text if v is not None else None
            if t == "s" and value is not None:
                t, value = "str", strings[int(value)]
            elif t == "inlineStr":
                t, value = "str", _text(c.find(MAIN + "is"))
            elif t == "n" and value is not None:
                value = float(value)
            formula = f.text if f is not None else None
            if f is not None and f.get("t") == "shared" and not f.text:
                formula = "shared:" + f.get("si")
            s = int(c.get("s", "0"))
            fmt, prefix = xfs[s] if s < len(xfs) else ("0", False)
            styles[ref] = (fmts.get(fmt, fmt), prefix)
            if value is None and formula is None:
                continue
            cells[ref] = (t, value, formula)
        return cells, names, styles


def compare(a, b):
    ca, na, sa = read(a)
    cb, nb, sb = read(b)
    problems = []
    for ref in sorted(set(ca) | set(cb), key=lambda r: (int(re.sub(r"\D", "", r)), len(r), r)):
        if ca.get(ref) != cb.get(ref):
            problems.append("%s: %r != %r" % (ref, ca.get(ref), cb.get(ref)))
    for ref in sorted(set(sa) & set(sb)):
        if sa[ref] != sb[ref]:
            problems.append("%s format: %r != %r" % (ref, sa[ref], sb[ref]))
    if na != nb:
        problems.append("names: %r != %r" % (na, nb))
    return problems


if __name__ == "__main__":
    if sys.argv[1] == "dump":
        cells, names, _ = read(sys.argv[2])
        for ref, cell in cells.items():
            print(ref, cell)
        print(names)
    else:
        problems = compare(sys.argv[2], sys.argv[3])
        print("\n".join(problems[:40]))
        sys.exit(1 if problems else 0)
