#!/usr/bin/env bash
# Shows the Qt window on a virtual X display and saves a screenshot of it.
#
#   tools/screenshot-qt.sh [PROGRAM [PNG [ARGUMENT...]]]
#
# PROGRAM is the vi2zezir executable built with its Qt window (default
# build/default/vi2zezir); without ARGUMENTs it starts with none, so the window
# only proposes the default template and waits. PNG defaults to
# <program's directory>/artifacts/vi2zezir-qt-window.png. An argument such as
# "/f:missing.xls" shows a refusal in the status bar (the window stays open).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
program="$(realpath "${1:-$here/build/default/vi2zezir}")"
png="${2:-$(dirname "$program")/artifacts/vi2zezir-qt-window.png}"
shift $(( $# < 2 ? $# : 2 ))
title="Tendrix -> Excel Template"

[ -x "$program" ] || { echo "screenshot-qt: no program at $program (build it first)" >&2; exit 2; }
for tool in xvfb-run import xwininfo; do
  command -v "$tool" >/dev/null || { echo "screenshot-qt: $tool is missing (tools/install-deps.sh)" >&2; exit 2; }
done
mkdir -p "$(dirname "$png")"

# Inside the virtual display: start the window, wait until it is mapped and
# painted, grab it by its title, and end the program we started. A display
# that another job grabbed at the same moment can kill the program at once,
# so a second attempt is made on a fresh display.
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
export SCREENSHOT_PROGRAM="$program" SCREENSHOT_PNG="$png" SCREENSHOT_TITLE="$title" SCREENSHOT_LOG="$log"
for attempt in 1 2; do
  if xvfb-run -a -s "-screen 0 800x600x24" bash -c '
    set -euo pipefail
    unset VI2ZEZIR_HEADLESS QT_QPA_PLATFORM WAYLAND_DISPLAY
    for _ in $(seq 1 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
    "$SCREENSHOT_PROGRAM" "$@" >"$SCREENSHOT_LOG" 2>&1 &
    pid=$!
    trap "kill $pid 2>/dev/null || true" EXIT
    for _ in $(seq 1 100); do
      xwininfo -name "$SCREENSHOT_TITLE" 2>/dev/null | grep -q "Map State: IsViewable" && break
      kill -0 $pid 2>/dev/null || exit 1
      sleep 0.1
    done
    sleep 1  # the first paint
    import -window "$SCREENSHOT_TITLE" "$SCREENSHOT_PNG"
  ' screenshot "$@"; then
    echo "screenshot-qt: $png"
    exit 0
  fi
  echo "screenshot-qt: attempt $attempt: the window did not show; the program said:" >&2
  cat "$log" >&2
done
exit 1
