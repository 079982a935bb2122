#!/usr/bin/env bash
# The main job on the embedded default: the example quote into the default
# template beside the program. On a desktop the window opens (press "Send To
# Excel"); without a display the transfer runs headless and prints where the
# filled workbook was written.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"${VZ_JOBS:-2}" --target vi2zezir
export TENDRIX_DOCUMENT="${TENDRIX_DOCUMENT:-$PWD/examples/quote-typical.json}"
exec build/default/vi2zezir "$@"
