#!/usr/bin/env bash
# Archive creation: our zip engine (through the zipbench driver) against Info-ZIP `zip -r -6` on a
# mixed 200 MB tree and a 50,000-file tree. Prints times, sizes and ratios side by side.
#   bench/engines/zip_bench.sh [BUILD_DIR] [LEVEL]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
level=${2:-6}
driver="$build/bin/zipbench"
[ -x "$driver" ] || { echo "build first: $driver missing" >&2; exit 1; }
command -v zip >/dev/null || { echo "Info-ZIP zip is missing" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/tandor-zipbench.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 "$here/make_corpus.py" mixed "$work/mixed"
python3 "$here/make_corpus.py" many "$work/many"
sync

now() { date +%s.%N; }
best_of_two() {  # command... ; prints the shorter wall time of two runs
  local best=""
  for _ in 1 2; do
    rm -f "$out"
    local t0; t0=$(now)
    "$@" >/dev/null
    local t; t=$(echo "$(now) - $t0" | bc)
    if [ -z "$best" ] || (( $(echo "$t < $best" | bc) )); then best=$t; fi
  done
  echo "$best"
}

printf '%-8s %10s %10s %7s %12s %12s %7s\n' tree "zip -6 s" "ours s" ratio "zip bytes" "our bytes" size
for tree in mixed many; do
  src="$work/$tree"
  tar cf - -C "$src" . >/dev/null  # warm the page cache for both
  out="$work/$tree-infozip.zip"
  tz=$(cd "$src" && best_of_two zip -qr -$level "$out" .)
  sz=$(stat -c %s "$out")
  out="$work/$tree-ours.zip"
  to=$(best_of_two "$driver" "$out" "$src" "$level")
  so=$(stat -c %s "$out")
  unzip -tq "$out" >/dev/null || { echo "unzip -t failed on our archive" >&2; exit 1; }
  printf '%-8s %10.2f %10.2f %7.2f %12d %12d %7.3f\n' "$tree" "$tz" "$to" "$(echo "$to / $tz" | bc -l)" \
    "$sz" "$so" "$(echo "$so / $sz" | bc -l)"
  rm -f "$work/$tree-infozip.zip" "$work/$tree-ours.zip"
done
