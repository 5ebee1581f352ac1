#!/usr/bin/env bash
# The batch page against a shell loop of `unzip -q -d` over the same 1,000 small zip archives (10
# files each), side by side in one run, twice; then the page's memory after 100 and after 1,000
# archives. Goals: page run <= 0.5x the loop, memory growth <= 10 MB.
#   bench/batch/batch_bench.sh [BUILD_DIR] [COUNT]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
count=${2:-1000}
page="$build/bin/batchbench"
[ -x "$page" ] || { echo "build first: $page missing" >&2; exit 1; }
command -v unzip >/dev/null || { echo "unzip missing" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/var/tmp}/tandor-batchbench.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 "$here/make_zips.py" "$work/src" "$count" 10
echo "load: $(uptime)"
now() { date +%s.%N; }
status=0
for round in 1 2; do
  rm -rf "$work/loop" "$work/page"
  cp -r "$work/src" "$work/loop"
  cp -r "$work/src" "$work/page"
  sync
  t0=$(now)
  for f in "$work"/loop/*.zip; do unzip -q -d "${f%.zip}" "$f"; done
  loop=$(echo "$(now) - $t0" | bc)
  if ! out=$("$page" "$work/page"); then
    echo "$out"; echo "round $round: the page's run failed" >&2; status=1; continue
  fi
  echo "$out"
  run=$(echo "$out" | sed -n 's/^run: [0-9]* archives in \([0-9.]*\) s.*/\1/p')
  # Both sides wrote the same files.
  (cd "$work/loop" && find . -type f ! -name '*.zip' -exec md5sum {} + | sort -k2) >"$work/loop.sum"
  (cd "$work/page" && find . -type f ! -name '*.zip' -exec md5sum {} + | sort -k2) >"$work/page.sum"
  if ! cmp -s "$work/loop.sum" "$work/page.sum"; then echo "round $round: the page's files differ from unzip's" >&2; status=1; fi
  ratio=$(echo "scale=3; $run / $loop" | bc)
  printf 'round %d: unzip loop %.2f s, batch page %.2f s, page/loop %s (goal <= 0.5)\n' "$round" "$loop" "$run" "$ratio"
done
echo "load: $(uptime)"
exit $status
