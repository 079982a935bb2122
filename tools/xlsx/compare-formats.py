#!/usr/bin/python3
"""Every template, as .xls and converted to .xlsx by LibreOffice, filled with
every example quote: both outputs, read back through LibreOffice, must hold
the same values, types, formulas and number formats. LibreOffice converting
the .xlsx output at all is the check that it opens without complaint.

    compare-formats.py PROGRAM WORKDIR TEMPLATE.xls... -- QUOTE.json...
"""
import os
import re
import shutil
import signal
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sheet_cells  # noqa: E402

LO = ["soffice", "-env:UserInstallation=file:///tmp/lo-xlsx", "--headless"]


def convert(files, outdir):
    os.makedirs(outdir, exist_ok=True)
    # LibreOffice's launcher leaves its office process behind on a timeout:
    # the whole session goes.
    proc = subprocess.Popen(LO + ["--convert-to", "xlsx", "--outdir", outdir] + files,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        proc.wait(timeout=60 + 10 * len(files))
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
    return {f: os.path.join(outdir, os.path.splitext(os.path.basename(f))[0] + ".xlsx") for f in files}


def fill(program, template, quote, output):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(TENDRIX_DOCUMENT=quote, VI2ZEZIR_OUTPUT=output, VI2ZEZIR_HEADLESS="1")
    run = subprocess.run([program, "/f:" + template], env=env, capture_output=True, text=True, timeout=300)
    # The last line names the outcome; a refusal is compared between formats.
    last = (run.stdout.strip().splitlines() or [""])[-1]
    return run.returncode, re.sub(r"written to .*", "written", re.sub(r"'[^']*'", "''", last))


def normal(cells):
    # LibreOffice keeps a formula's spaces from .xlsx text but not from .xls
    # tokens, and spells a built-in date format with its locale.
    out = {}
    for ref, (t, v, f) in cells.items():
        if f:
            f = re.sub(r'\s+(?=(?:[^"]*"[^"]*")*[^"]*$)', "", f)
        if isinstance(v, float):
            v = round(v, 9)
        out[ref] = (t, v, f)
    return out


def main():
    program, work = sys.argv[1], sys.argv[2]
    split = sys.argv.index("--")
    templates, quotes = sys.argv[3:split], sys.argv[split + 1:]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    copies = []
    for i, t in enumerate(templates):
        copy = os.path.join(work, "t%d.xls" % i)
        shutil.copy(t, copy)
        copies.append(copy)
    packages = convert(copies, os.path.join(work, "xlsx"))
    outputs, failures = [], []
    for i, t in enumerate(copies):
        if not os.path.exists(packages[t]):
            failures.append("%s: LibreOffice did not convert it" % templates[i])
            continue
        for j, q in enumerate(quotes):
            a = os.path.join(work, "t%d-q%d-xls.xls" % (i, j))
            b = os.path.join(work, "t%d-q%d-xlsx.xlsx" % (i, j))
            ra, rb = fill(program, t, q, a), fill(program, packages[t], q, b)
            if ra != rb:
                failures.append("%s with %s: .xls %r, .xlsx %r" % (templates[i], quotes[j], ra, rb))
            elif ra[0] == 0:
                outputs.append((templates[i], quotes[j], a, b))
    back = convert([o for _, _, a, b in outputs for o in (a, b)], os.path.join(work, "back"))
    # Cells where LibreOffice reads the two templates differently (a feature
    # its .xls to .xlsx conversion does not keep) are no test of the engine.
    base_a = convert(copies, os.path.join(work, "base-xls"))
    base_b = convert([packages[t] for t in copies], os.path.join(work, "base-xlsx"))
    differ = {}
    for i, t in enumerate(copies):
        xa, xb = base_a[t], base_b[packages[t]]
        if os.path.exists(xa) and os.path.exists(xb):
            ca, cb = normal(sheet_cells.read(xa)[0]), normal(sheet_cells.read(xb)[0])
            differ[templates[i]] = {r for r in set(ca) | set(cb) if ca.get(r) != cb.get(r)}
    whole = 0
    for template, quote, a, b in outputs:
        if not os.path.exists(back[b]):
            failures.append("%s with %s: LibreOffice cannot open the .xlsx output" % (template, quote))
            continue
        ca, na, sa = sheet_cells.read(back[a])
        cb, nb, sb = sheet_cells.read(back[b])
        ca, cb = normal(ca), normal(cb)
        skipped = differ.get(template, set())
        if skipped and len(skipped) * 4 > len(ca):
            whole += 1
            continue  # LibreOffice's conversion lost too much of it to compare
        for ref in sorted(set(ca) | set(cb)):
            if ref not in skipped and ca.get(ref) != cb.get(ref):
                failures.append("%s with %s, %s: .xls %r, .xlsx %r" % (template, quote, ref, ca.get(ref), cb.get(ref)))
        for ref in sorted(set(sa) & set(sb)):
            fa, fb = (re.sub(r"^\[\$-409\]", "", str(x[0])) for x in (sa[ref], sb[ref]))
            if fa != fb or sa[ref][1] != sb[ref][1]:
                failures.append("%s with %s, %s format: .xls %r, .xlsx %r" % (template, quote, ref, sa[ref], sb[ref]))
        if na != nb:
            failures.append("%s with %s: names %r, %r" % (template, quote, na, nb))
    print("%d fills compared (%d templates x %d quotes); %d skipped whole and %d template cells left out, where "
          "LibreOffice reads the .xls and its .xlsx conversion differently"
          % (len(outputs) - whole, len(templates), len(quotes), whole, sum(len(d) for d in differ.values())))
    for f in failures[:60]:
        print("  " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
