#!/usr/bin/env bash
# Screenshots of "Batch Create" (three jobs queued) and "Batch Processing Results" under xvfb-run,
# and the create page after the run.
#   bench/batchcreate/batchcreate_shots.sh [BUILD_DIR] [OUT_FOLDER]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
out=$(mkdir -p "${2:-$PWD/batchcreate-shots}" && cd "${2:-$PWD/batchcreate-shots}" && pwd)
shots="$build/bin/batchcreateshots"
[ -x "$shots" ] || { echo "build first: $shots missing" >&2; exit 1; }
src=$(mktemp -d "${TMPDIR:-/var/tmp}/tandor-shots.XXXXXX")
trap 'rm -rf "$src"' EXIT
for i in 0 1 2 3; do seq 1 $((i * 500 + 100)) > "$src/f$i.txt"; done
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x700x24" "$shots" "$out" "$src"
ls -l "$out"/*.png
