#!/usr/bin/env bash
# RAR decryption benchmark: `tandor t/x -p` against `7z t/x -p` on the same encrypted RAR 5 archive
# (stored entries, so that the figures are decryption and checking, not decompression: 7-Zip as
# packaged for Debian cannot unpack RAR data but can decrypt it). Best of three runs each.
# Usage: bench/rar/run_bench.sh [build folder]   (RAR_BENCH_MIB: archive size, default 1024)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
maker=$build/bin/rar_bench_maker
tandor=$build/bin/tandor
[ -x "$maker" ] && [ -x "$tandor" ] || { echo "build rar_bench_maker and tandor first" >&2; exit 1; }
mib=${RAR_BENCH_MIB:-1024}
work=$(mktemp -d "${TMPDIR:-/tmp}/rar-bench-XXXXXX")
out=/dev/shm
[ -w /dev/shm ] || out=$work
x=$(mktemp -d "$out/rar-bench-x-XXXXXX")
trap 'rm -rf "$work" "$x"' EXIT
best() {
  local b="" wall user sys
  for _ in 1 2 3; do
    rm -rf "$x"/*
    /usr/bin/time -f "%e %U %S" -o "$work/time.txt" sh -c "$1" >/dev/null 2>&1
    read -r wall user sys <"$work/time.txt"
    if [ -z "$b" ] || [ "$(echo "$wall < $b" | bc)" = 1 ]; then b=$wall; fi
  done
  echo "$b"
}
echo "machine load: $(uptime)"
printf "%-34s %9s %9s %7s\n" "archive / operation" "7z (s)" "ours (s)" "ratio"
for kind in data headers; do
  arc=$work/bench-$kind.rar
  "$maker" "$arc" "$mib" 8 "bench password" $([ "$kind" = headers ] && echo headers)
  for op in t x; do
    dest=$([ $op = x ] && echo "-o$x" || true)
    p=$(best "7z $op -y -p'bench password' $dest '$arc'")
    o=$(best "'$tandor' $op -q -o -p 'bench password' '$arc' $([ $op = x ] && echo "-d '$x'")")
    printf "%-34s %9s %9s %7s\n" "$mib MiB, $kind encrypted, $op" "$p" "$o" "$(echo "scale=2; $o / $p" | bc)"
  done
done
