#!/usr/bin/env bash
# The create page offscreen: zips a mixed 200 MB tree from the page and compares its wall time with
# the zip engine's own driver (bench/engines) on the same tree and level; reports the progress bar's
# movement and the longest event-loop gap, then times the folder scan of a 100,000-file tree.
#   bench/createpage/create_bench.sh [BUILD_DIR] [LEVEL]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
level=${2:-8}
page="$build/bin/createbench"
engine="$build/bin/zipbench"
[ -x "$page" ] || { echo "build first: $page missing" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/var/tmp}/tandor-createbench.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 "$here/../engines/make_corpus.py" mixed "$work/mixed"
tar cf - -C "$work" mixed >/dev/null  # warm the page cache
du -sb "$work/mixed" | awk '{printf "tree: %d bytes, ", $1}'; find "$work/mixed" -type f | wc -l | awk '{print $1 " files"}'

now() { date +%s.%N; }
if [ -x "$engine" ]; then
  best=""
  for _ in 1 2; do
    rm -f "$work/engine.zip"
    t0=$(now); "$engine" "$work/engine.zip" "$work/mixed" "$level" >/dev/null; t=$(echo "$(now) - $t0" | bc)
    if [ -z "$best" ] || (( $(echo "$t < $best" | bc) )); then best=$t; fi
  done
  printf 'engine driver (level %s): %.2f s, %d bytes\n' "$level" "$best" "$(stat -c %s "$work/engine.zip")"
  rm -f "$work/engine.zip"
fi
for run in 1 2; do
  echo "-- page run $run"
  "$page" "$work/page.zip" "$work/mixed" "$level"
  unzip -tq "$work/page.zip" >/dev/null && echo "unzip -t: ok" || { echo "unzip -t failed" >&2; exit 1; }
  printf 'page archive: %d bytes\n' "$(stat -c %s "$work/page.zip")"
done
rm -rf "$work/mixed" "$work/page.zip"

mkdir -p "$work/many"
(cd "$work/many" && for d in $(seq 0 99); do mkdir "d$d" && (cd "d$d" && seq 1 1000 | xargs touch); done)
"$page" --scan "$work/many"
