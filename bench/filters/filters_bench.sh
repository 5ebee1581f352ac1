#!/usr/bin/env bash
# The unzip page's filters and explorer window with 1,000,000 entries. Usage: filters_bench.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
work=${BENCH_DIR:-${TMPDIR:-/var/tmp}/filters-bench}
mkdir -p "$work"
echo "load at start: $(uptime)"
[ -f "$work/entries1000000.zip" ] || python3 "$here/../unzippage/make_zip.py" "$work/entries1000000.zip" 1000000
[ -f "$work/flat1000000.zip" ] || python3 "$here/make_flat_zip.py" "$work/flat1000000.zip" 1000000
cmake --build "$build" --target filters_bench -j2 > /dev/null
"$build/bin/filters_bench" "$work"
echo "peer, for scale: unzip -Z1 | grep of the same rows"
/usr/bin/time -f "  unzip -Z1 | grep -c: %e s" sh -c "unzip -Z1 '$work/entries1000000.zip' | grep -c '/file00[^/]*\\.\\(txt\\|md\\)\$'"
