#!/usr/bin/env bash
# Self-extraction benchmark: a program made by `tandor a mixed.run` from the mixed tree (about 200 MB)
# extracts itself (no terminal, folder on its command line) against Info-ZIP `unzip -q` on the very
# same file (the archive inside the program). Prints times and the ratio; outputs are compared.
#
#   bench/sfx/run.sh [BUILD_DIR]
#   MIXED_MB=200 REPS=3 (environment, the defaults)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
tandor=$build/bin/tandor
[ -x "$tandor" ] && [ -f "$build/bin/SfxStub.bin" ] || { echo "missing tandor or SfxStub.bin in $build/bin: build first" >&2; exit 1; }
command -v unzip >/dev/null || { echo "unzip is needed" >&2; exit 1; }
MIXED_MB=${MIXED_MB:-200} REPS=${REPS:-3}

work=$(mktemp -d "${TMPDIR:-/tmp}/sfx-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "building the input in $work ..."
python3 "$here/../engines-unzip/make_corpus.py" mixed "$work/mixed" "$MIXED_MB"
(cd "$work" && "$tandor" a -r -q -6 mixed.run mixed)
unzip -tqq "$work/mixed.run" || { echo "unzip does not accept the program" >&2; exit 1; }
ls -l "$work/mixed.run" | awk '{printf "  mixed.run %12d bytes\n", $5}'

seconds() {  # runs "$@" quietly with no terminal, prints its wall time in seconds
  local start end
  start=$(date +%s.%N)
  "$@" </dev/null >/dev/null 2>&1 || { echo "FAILED: $*" >&2; exit 1; }
  end=$(date +%s.%N)
  echo "$start $end" | awk '{printf "%.3f", $2 - $1}'
}
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }

u=() s=()
for ((i = 1; i <= REPS; i++)); do
  rm -rf "$work/out" && mkdir -p "$work/out" && sync
  u+=("$(seconds unzip -q "$work/mixed.run" -d "$work/out/unzip")")
  sync
  s+=("$(seconds env -u DISPLAY -u WAYLAND_DISPLAY "$work/mixed.run" -d "$work/out/self")")
  diff -r "$work/out/unzip" "$work/out/self" >/dev/null || { echo "OUTPUT DIFFERS" >&2; exit 1; }
done
mu=$(median "${u[@]}")
ms=$(median "${s[@]}")
echo "timing ($REPS runs each, median; outputs verified identical):"
echo "  unzip -q: ${u[*]} / program: ${s[*]}"
printf '%-24s %9s %9s %7s   %s\n' "" "unzip -q" "program" "ratio" "target"
printf '%-24s %9s %9s %7s   %s\n' "mixed ${MIXED_MB} MB tree" "$mu" "$ms" \
  "$(awk -v a="$ms" -v b="$mu" 'BEGIN {printf "%.2f", a / b}')" "<= 1.20"
echo "load: $(uptime)"
