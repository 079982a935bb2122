#!/usr/bin/env bash
# Checks the Windows program's imports, then runs it under Wine, through real
# COM, against the stand-in servers: a transfer end to end, the two refusals,
# a failure in the middle of a transfer, the window and the template picker
# read back through Win32, and a screenshot.
#
#   tests/wine/run-wine-tests.sh [BUILD_DIR]     (default: build/mingw)
#
# BUILD_DIR is a built mingw preset. The Wine prefix lives inside it, so the
# stand-in classes are registered nowhere else. Needs wine64, Xvfb and
# ImageMagick's import; LibreOffice, when present, reads the filled workbook
# back. Every step has a timeout. Exit status 0 when every check passed.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/mingw}" && pwd)
bin=$build/bin
work=$build/wine-tests
artifacts=$build/artifacts
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono/Gecko installer prompts

failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

# Z:\ is Wine's view of /.
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

for f in VI2Zezir.exe tendrix-standin.exe excel-standin.exe window-probe.exe; do
  [ -f "$bin/$f" ] || { echo "missing $bin/$f: build the mingw preset first" >&2; exit 2; }
done

rm -rf "$work"
mkdir -p "$work" "$artifacts"

# --- what a Windows user must have: nothing beyond Windows' own DLLs ---------
echo "== imports"
system_dlls=" advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll user32.dll "
for f in VI2Zezir.exe tendrix-standin.exe excel-standin.exe; do
  imports=$(x86_64-w64-mingw32-objdump -p "$bin/$f" | awk '/DLL Name:/ {print tolower($3)}' | sort -u | tr '\n' ' ')
  foreign=""
  for dll in $imports; do [[ "$system_dlls" == *" $dll "* ]] || foreign+=" $dll"; done
  check "$f imports only Windows' own DLLs ($imports)" test -z "$foreign" -a -n "$imports"
done

# --- Wine prefix and display -------------------------------------------------

display=""
for n in $(seq 91 130); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 2; }
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=$display

cleanup() {
  # Ends what this script started: the wine processes of this prefix only
  # (wineserver -k acts on $WINEPREFIX), then our Xvfb by its id.
  timeout 30 "$wineserver" -k >/dev/null 2>&1 || true
  kill "$xvfb_pid" >/dev/null 2>&1 || true
}
trap cleanup EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

# The prefix is created with the display in place: Wine's desktop process
# starts with it and stays unable to create windows when there is none.
# Wine boots a missing prefix by itself before it runs the first program; an
# explicit `wineboot -i` on top of that boots it a second time and leaves two
# service managers racing for the same pipes, so that every service start
# (the RPC service behind the running object table among them) times out
# for minutes. A do-nothing program makes the one and only boot.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating Wine prefix $WINEPREFIX"
  timeout 300 "$wine" cmd /c exit >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; exit 2; }
fi

timeout 60 "$wine" "$bin/tendrix-standin.exe" /regserver || fail "tendrix-standin /regserver"
timeout 60 "$wine" "$bin/excel-standin.exe" /regserver || fail "excel-standin /regserver"

# Bring Wine's COM services up before anything is measured: the first
# stand-in of a new prefix waits for them.
warm_up_document="$root/examples/quote-empty.json"
template="$root/examples/quote40.xls"
template_sum=$(sha256sum "$template" | cut -d' ' -f1)

# --- helpers -------------------------------------------------------------------
tendrix_pid=""
start_tendrix() { # start_tendrix DOCUMENT
  local out="$work/tendrix-$(basename "$1").out"
  timeout 600 "$wine" "$bin/tendrix-standin.exe" "$(winpath "$1")" >"$out" 2>&1 &
  tendrix_pid=$!
  for _ in $(seq 600); do
    grep -q "tendrix-standin: ready" "$out" 2>/dev/null && return 0
    kill -0 "$tendrix_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$tendrix_pid" 2>/dev/null
  wait "$tendrix_pid" 2>/dev/null
  tendrix_pid=""
  cat "$out"
  return 1
}
stop_tendrix() {
  [ -n "$tendrix_pid" ] || return 0
  timeout 30 "$wine" "$bin/tendrix-standin.exe" /quit >/dev/null 2>&1 || true
  timeout 30 tail --pid="$tendrix_pid" -f /dev/null || kill "$tendrix_pid" 2>/dev/null
  tendrix_pid=""
}

program_pid=""
# run_program NAME ARGS...: starts VI2Zezir.exe with its status log and the
# stand-in Excel's output and log under $work/NAME.*
run_program() {
  local name=$1; shift
  export VI2ZEZIR_STATUS_LOG; VI2ZEZIR_STATUS_LOG=$(winpath "$work/$name.status")
  export VI2ZEZIR_OUTPUT; VI2ZEZIR_OUTPUT=$(winpath "$work/$name.xls")
  export VI2ZEZIR_EXCEL_LOG; VI2ZEZIR_EXCEL_LOG=$(winpath "$work/$name.excel.log")
  timeout 300 "$wine" "$bin/VI2Zezir.exe" "$@" >"$work/$name.out" 2>&1 &
  program_pid=$!
}
wait_program() { # wait_program SECONDS -> the program's exit status
  local status=0
  for _ in $(seq $(($1 * 10))); do
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$program_pid" 2>/dev/null; then echo "program still running after $1 s"; return 124; fi
  wait "$program_pid" || status=$?
  return $status
}
wait_for_status() { # wait_for_status NAME TEXT SECONDS
  for _ in $(seq $(($3 * 10))); do
    grep -qxF "status: $2" "$work/$1.status" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
close_window() { timeout 60 "$wine" "$bin/window-probe.exe" close 30 >/dev/null 2>&1; }
last_status() { grep '^status: ' "$work/$1.status" | tail -1; }
check_status() { # check_status NAME TEXT SECONDS: the run shows TEXT in its status bar
  if wait_for_status "$1" "$2" "$3"; then
    pass "status \"$2\""
  else
    fail "status \"$2\" (last: $(last_status "$1"))"
  fi
}
close_and_wait() { # closes the window; the program's exit status in $status
  close_window
  status=0; wait_program 60 || status=$?
}
no_excel_standin() { # true when no stand-in Excel process is left (waits a little)
  for _ in $(seq 100); do
    pgrep -f 'excel-standin\.exe' >/dev/null || return 0
    sleep 0.1
  done
  return 1
}
is_compound_file() { [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = "d0cf11e0a1b11ae1" ]; }

# The first programs of a new prefix wait for Wine to start its desktop and
# RPC services; warm those up before anything is measured, and keep the
# wineserver running meanwhile.
echo "== starting Wine's desktop and COM services"
"$wineserver" -p >/dev/null 2>&1 || true
run_program warmup
if timeout 400 "$wine" "$bin/window-probe.exe" close 360 >/dev/null 2>&1; then
  wait_program 60 >/dev/null || true
else
  fail "the window does not come up in this prefix"
fi
if start_tendrix "$warm_up_document"; then stop_tendrix; else fail "the stand-in Tendrix does not start in this prefix"; fi

# --- the COM layer's unit tests (GoogleTest, in one process) -------------------
echo "== COM layer"
if [ -f "$bin/win32-com-tests.exe" ]; then
  if timeout 300 "$wine" "$bin/win32-com-tests.exe" >"$work/com-tests.txt" 2>&1; then
    pass "win32-com-tests ($(grep -o '[0-9]* tests from [0-9]* test suites ran' "$work/com-tests.txt"))"
  else
    fail "win32-com-tests"; cat "$work/com-tests.txt"
  fi
else
  fail "win32-com-tests.exe was not built"
fi

# --- (a) a transfer end to end through real COM ------------------------------------
echo "== transfer end to end"
document="$root/examples/quote-typical.json"
if start_tendrix "$document"; then
  run_program transfer "/f:$(winpath "$template")"
  status=0; wait_program 240 || status=$?
  check "the program ends by itself with exit status 0 (was $status)" test "$status" -eq 0
  check "status texts in the order of the run, cleared before Excel is shown" \
    diff <(printf '%s\n' "status: Creating Tendrix Object" "status: Creating Excel Object" "status: Opening Excel File" \
             "status: Writing Header Fields" "status: Writing Item Fields" "status: Writing Macros" "status: " "exit: 0") \
         "$work/transfer.status"
  check "Excel opened the template read-only and was made visible" \
    grep -qF "open $(winpath "$template") read-only" "$work/transfer.excel.log"
  check "the workbook was saved when made visible" grep -q " saved " "$work/transfer.excel.log"
  check "the filled workbook exists" test -s "$work/transfer.xls"
  check "the filled workbook is a compound file" is_compound_file "$work/transfer.xls"
  check "the template is unchanged" test "$(sha256sum "$template" | cut -d' ' -f1)" = "$template_sum"
  check "the stand-in Excel ended once its references were released" no_excel_standin
  if command -v soffice >/dev/null 2>&1; then
    if timeout 180 soffice --headless --norestore --convert-to csv --outdir "$work" "$work/transfer.xls" >"$work/soffice.log" 2>&1; then
      csv="$work/transfer.csv"
      doc_no=$(/usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["Header"]["DocNo"])' "$document")
      first_item=$(/usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["Items"][0]["Description"])' "$document")
      rep=$(/usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["Macros"]["&DH_&SalesRepFullName"])' "$document")
      check "LibreOffice reads the header value DocNo ($doc_no)" grep -qF "$doc_no" "$csv"
      check "LibreOffice reads the first line item ($first_item)" grep -qF "$first_item" "$csv"
      check "LibreOffice reads the sales-rep macro ($rep)" grep -qF "$rep" "$csv"
      check "no header, item or macro placeholder is left" bash -c "! grep -qE '&(DH|DI|APP)_' '$csv'"
    else
      fail "LibreOffice could not read the filled workbook"; cat "$work/soffice.log"
    fi
  else
    echo "(LibreOffice not installed: the workbook's contents are not read back)"
  fi
else
  fail "tendrix-standin did not come up"
fi

# --- (c) a template that does not exist ------------------------------------------
echo "== missing template"
# Tendrix stays running between transfers: the stand-in of the transfer
# above answers this run too.
[ -n "$tendrix_pid" ] || start_tendrix "$document" || fail "tendrix-standin did not come up for the missing-template run"
run_program missing "/f:$(winpath "$work/no-such-template.xls")"
check_status missing "File cannot be found. Operation Cancelled" 120
close_and_wait
check "after a refusal the window stays until closed, then exit status 1 (was $status)" test "$status" -eq 1
check "no Excel was started for a refused run" test ! -s "$work/missing.excel.log"
stop_tendrix

# --- (b) Tendrix not running ------------------------------------------------------
echo "== Tendrix not running"
run_program notrunning "/f:$(winpath "$template")"
check_status notrunning "Tendrix is not running. Operation Cancelled" 120
close_and_wait
check "exit status 1 after the refusal (was $status)" test "$status" -eq 1
check "no Excel was started" test ! -s "$work/notrunning.excel.log"

# --- (d) a failure in the middle: a null macro value -------------------------------
echo "== failure mid-transfer"
null_document="$work/quote-null-macro.json"
/usr/bin/python3 - "$document" "$null_document" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1]))
doc["Macros"] = {name: None for name in doc["Macros"]}
json.dump(doc, open(sys.argv[2], "w"), indent=1)
PY
if start_tendrix "$null_document"; then
  run_program nullmacro "/f:$(winpath "$template")"
  check_status nullmacro "Error 94: Invalid use of Null" 240
  check "the failure came while writing macros" grep -qxF "status: Writing Macros" "$work/nullmacro.status"
  check "the stand-in Excel was asked to quit" grep -q "\] quit$" "$work/nullmacro.excel.log"
  check "the stand-in Excel was never shown" bash -c "! grep -q '\] visible$' '$work/nullmacro.excel.log'"
  check "the stand-in Excel process is gone" no_excel_standin
  check "no workbook was written" test ! -e "$work/nullmacro.xls"
  close_and_wait
  check "exit status 1 after the failure (was $status)" test "$status" -eq 1
  stop_tendrix
else
  fail "tendrix-standin did not come up with the null-macro document"
fi

# --- (e) the window read back through Win32 ---------------------------------------
echo "== the window"
run_program window
if timeout 120 "$wine" "$bin/window-probe.exe" check 60 >"$work/window-probe.txt" 2>&1; then
  pass "controls, texts, positions, tab order, focus and top-most style"
else
  fail "the window read back (see below)"; grep -v '^ok' "$work/window-probe.txt"
fi
cat "$work/window-probe.txt"
check "status bar empty at start (no status text set)" test ! -s "$work/window.status"
close_and_wait
check "closing the window before any run ends the program with exit status 0 (was $status)" test "$status" -eq 0

echo "== the template picker"
run_program picker
if timeout 180 "$wine" "$bin/window-probe.exe" picker "$(winpath "$template")" >"$work/picker-probe.txt" 2>&1; then
  pass "the template picker: title, file type, start folder, Cancel, choosing a file"
else
  fail "the template picker (see below)"
fi
cat "$work/picker-probe.txt"
close_and_wait
check "the picker leaves no failure behind: exit status 0 on close (was $status)" test "$status" -eq 0
if timeout 60 "$wine" "$bin/window-probe.exe" version "$(winpath "$bin/VI2Zezir.exe")" >"$work/version.txt" 2>&1; then
  pass "version record"
else
  fail "version record"; cat "$work/version.txt"
fi

# --- (f) a screenshot under Xvfb ---------------------------------------------------
# In a Wine virtual desktop the window gets its title bar and frame, which
# no window manager draws under bare Xvfb.
echo "== screenshot"
unset VI2ZEZIR_STATUS_LOG
timeout 120 "$wine" explorer /desktop=VI2Zezir,600x260 "$bin/VI2Zezir.exe" >"$work/desktop.out" 2>&1 &
desktop_pid=$!
shot="$artifacts/vi2zezir-window.png"
rm -f "$shot"
sleep 12
if import -display "$display" -window root -crop 600x260+0+0 +repage "$shot" 2>"$work/import.log" && [ -s "$shot" ]; then
  pass "screenshot saved as $shot"
else
  fail "screenshot"; cat "$work/import.log"
fi
timeout 60 "$wine" explorer /desktop=VI2Zezir,600x260 "$bin/window-probe.exe" close 10 >/dev/null 2>&1 || true
timeout 30 tail --pid="$desktop_pid" -f /dev/null || kill "$desktop_pid" 2>/dev/null

echo
if [ "$failures" -eq 0 ]; then
  echo "wine tests: all passed"
else
  echo "wine tests: $failures failed"
fi
[ "$failures" -eq 0 ]
