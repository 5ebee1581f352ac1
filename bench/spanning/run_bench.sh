#!/usr/bin/env bash
# Spanning benchmark: splitting a 1 GB archive into 100 MB parts and joining them again, each side
# by side with a plain `cp` of the archive (target: each at most 1.5 x cp). Best of 3 runs, files in
# the page cache, written data flushed between runs. Usage: bench/spanning/run_bench.sh [build folder]; SPAN_BENCH_MIB makes it smaller.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
drv=$(cd "$build" && pwd)/bin/span_bench_driver
[ -x "$drv" ] || { echo "build the span_bench_driver target first" >&2; exit 1; }
mib=${SPAN_BENCH_MIB:-1024}
part=$((mib * 1000 * 1000 / 10 / 1024 * 1024))   # ten parts of about 100 MB for 1 GB
work=$(mktemp -d "${TMPDIR:-/var/tmp}/span-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Best of $runs: prints "wall cpu" (seconds) of the fastest run; `prep` runs untimed before each run,
# followed by a sync so that no run pays for the previous one's writeback.
best() {
  local runs=$1 prep=$2 cmd=$3 b="" bc="" wall user sys
  for _ in $(seq "$runs"); do
    sh -c "$prep"
    sync
    /usr/bin/time -f "%e %U %S" -o time.txt sh -c "$cmd" >/dev/null
    read -r wall user sys <time.txt
    if [ -z "$b" ] || [ "$(echo "$wall < $b" | bc)" = 1 ]; then b=$wall; bc=$(echo "$user + $sys" | bc); fi
  done
  echo "$b $bc"
}
rows=()
row() {  # label, peer prep, peer command, our prep, our command
  local p o
  p=$(best 3 "$2" "$3")
  o=$(best 3 "$4" "$5")
  local pw=${p% *} pc=${p#* } ow=${o% *} oc=${o#* }
  rows+=("$(printf '%-34s %7s %7s %6s   %7s %7s %6s' "$1" "$pw" "$ow" "$(echo "scale=2; $ow / $pw" | bc)" \
            "$pc" "$oc" "$(echo "scale=2; $oc / $pc" | bc)")")
  echo "  done: $1" >&2
}

echo "corpus: a ${mib} MiB stored archive in $work" >&2
mkdir src
for i in $(seq 0 9); do head -c $((mib * 1024 * 1024 / 10)) /dev/urandom > "src/f$i.bin"; done
(cd src && zip -q -0 -r ../big.zip .)
rm -rf src
cat big.zip >/dev/null

row "split into ~100 MB parts (vs cp)" "rm -f copy.zip" "cp big.zip copy.zip" \
    "rm -f part*.zip" "'$drv' split big.zip part.zip $part"
last=$(ls part*.zip | sort | tail -1)
echo "  parts: $(ls part*.zip | wc -l), largest $(stat -c %s part*.zip | sort -n | tail -1) bytes" >&2
row "join the parts (vs cp)" "rm -f copy.zip" "cp big.zip copy.zip" "rm -f joined.zip" "'$drv' join $last joined.zip"
cmp -s big.zip joined.zip || { echo "the joined archive differs from the original" >&2; exit 1; }
unzip -tqq joined.zip >/dev/null

echo "wall and CPU seconds, best of 3; target: ours <= 1.5 x cp (wall)"
printf '%-34s %7s %7s %6s   %7s %7s %6s\n' "operation" "cp" "ours" "ratio" "cp cpu" "cpu" "ratio"
for r in "${rows[@]}"; do echo "$r"; done
echo "load: $(uptime)"
