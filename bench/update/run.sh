#!/usr/bin/env bash
# The update page adding a folder of 5,000 small files to a zip of 50,000 entries, against
# `zip -r -6` on a copy of the same archive. Usage: bench/update/run.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
driver="$build/bin/updatepage_bench"
[ -x "$driver" ] || { echo "build first: $driver missing" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/var/tmp}/tandor-updatebench.XXXXXX")
trap 'rm -rf "$work"' EXIT
uptime
QT_QPA_PLATFORM=offscreen "$driver" "$work" 2>&1 | grep -v -e '^QStandardPaths' -e 'propagateSizeHints'
