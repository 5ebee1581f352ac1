#!/usr/bin/env bash
# Extraction benchmark: our unzip engine (libunzeng.so, driven by unzeng_bench_driver the way the
# zip component drives it) against Info-ZIP `unzip -q`, on three inputs zipped with `zip -r -6`:
# a mixed tree, one large file and a tree of many small files. Prints times and ratios.
#
#   bench/engines-unzip/run.sh [BUILD_DIR]
#   MIXED_MB=200 BIG_MB=1000 MANY=50000 REPS=3 (environment, the defaults)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
driver=$build/bin/unzeng_bench_driver
[ -x "$driver" ] || { echo "missing $driver: build the project first" >&2; exit 1; }
command -v unzip >/dev/null && command -v zip >/dev/null || { echo "zip and unzip are needed" >&2; exit 1; }
MIXED_MB=${MIXED_MB:-200} BIG_MB=${BIG_MB:-1000} MANY=${MANY:-50000} REPS=${REPS:-3}

work=$(mktemp -d "${TMPDIR:-/tmp}/unzeng-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "building inputs in $work ..."
python3 "$here/make_corpus.py" mixed "$work/mixed" "$MIXED_MB"
mkdir -p "$work/big" && python3 "$here/make_corpus.py" big "$work/big/big.dat" "$BIG_MB"
python3 "$here/make_corpus.py" many "$work/many" "$MANY"
(cd "$work/mixed" && zip -qr -6 ../mixed.zip .)
(cd "$work/big" && zip -qr -6 ../big.zip .)
(cd "$work/many" && zip -qr -6 ../many.zip .)
ls -l "$work"/*.zip | awk '{printf "  %-12s %12d bytes\n", $NF, $5}' | sed "s|$work/||"

seconds() {  # runs "$@" quietly, prints its wall time in seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || { echo "FAILED: $*" >&2; exit 1; }
  end=$(date +%s.%N)
  echo "$start $end" | awk '{printf "%.3f", $2 - $1}'
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }

results=()
measure() {  # key label archive target
  local name=$1 label=$2 zip=$3 target=$4 u=() o=() i
  for ((i = 1; i <= REPS; i++)); do
    sync
    u+=("$(seconds unzip -q "$zip" -d "$work/out/unzip-$name-$i")")
    sync
    o+=("$(seconds "$driver" -q "$zip" "$work/out/ours-$name-$i")")
  done
  diff -r "$work/out/unzip-$name-1" "$work/out/ours-$name-1" >/dev/null || { echo "OUTPUT DIFFERS for $name" >&2; exit 1; }
  local mu mo
  mu=$(median "${u[@]}")
  mo=$(median "${o[@]}")
  results+=("$(printf '%-22s %9s %9s %7s   %s' "$label" "$mu" "$mo" "$(awk -v a="$mo" -v b="$mu" 'BEGIN {printf "%.2f", a / b}')" "$target")")
  echo "  $label: unzip ${u[*]} / ours ${o[*]}"
  rm -rf "$work/out" && mkdir -p "$work/out"
  sync
}

mkdir -p "$work/out"
echo "timing ($REPS runs each, median; outputs verified identical) ..."
measure mixed "mixed ${MIXED_MB} MB tree" "$work/mixed.zip" "<= 0.50"
measure big "one ${BIG_MB} MB file" "$work/big.zip" "<= 0.50"
measure many "${MANY}-file tree" "$work/many.zip" "<= 0.80"
cpa=$(seconds cp -a "$work/mixed" "$work/cp-copy")

echo
printf '%-22s %9s %9s %7s   %s\n' "input" "unzip s" "ours s" "ratio" "target"
printf '%s\n' "${results[@]}"
echo "(cp -a of the mixed tree: $cpa s; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
