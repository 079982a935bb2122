#!/usr/bin/env bash
# Builds everything and runs every test: the Linux build with its unit and
# end-to-end tests, the whole suite once more under ASan + UBSan, the fuzz
# targets (from the same sanitizer build) for a bounded time, and the Windows
# program under Wine.
# Usage: tools/test.sh            (all stages)
#        VZ_STAGES="linux" tools/test.sh   (a subset: linux sanitize fuzz windows)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${VZ_JOBS:-2}
stages=${VZ_STAGES:-"linux sanitize fuzz windows"}

bash tools/install-deps.sh

has_stage() { [[ " $stages " == *" $1 "* ]]; }

if has_stage linux; then
  echo "== Linux build and tests"
  cmake --preset default
  cmake --build --preset default -j"$jobs"
  ctest --preset default -j"$jobs"
  # The window as a person sees it, kept as a build artifact.
  bash tools/screenshot-qt.sh build/default/vi2zezir build/default/artifacts/vi2zezir-qt-window.png ||
    echo "== the Qt window screenshot could not be taken (see above)"
fi

# One clang build with ASan + UBSan holds both the test suite and the fuzz
# targets (the sanitize preset).
if has_stage sanitize || has_stage fuzz; then
  echo "== The clang build with ASan + UBSan: the test suite and the fuzz targets"
  cmake --preset sanitize
  cmake --build --preset sanitize -j"$jobs"
fi

if has_stage sanitize; then
  echo "== The test suite under AddressSanitizer + UndefinedBehaviorSanitizer"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset sanitize -j"$jobs"
fi

if has_stage fuzz && [ -f fuzz/CMakeLists.txt ]; then
  echo "== Fuzz targets, a bounded run each, $jobs at a time"
  VZ_JOBS=$jobs bash fuzz/run-all.sh "$root/build/sanitize" "${VZ_FUZZ_SECONDS:-60}"
fi

if has_stage windows && [ -f src/platform/win32/CMakeLists.txt ]; then
  echo "== Windows program (MinGW-w64) under Wine"
  cmake --preset mingw
  cmake --build --preset mingw -j"$jobs"
  bash tests/wine/run-wine-tests.sh "$root/build/mingw"
fi
echo "== All stages passed: $stages"
