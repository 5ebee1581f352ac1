#!/usr/bin/env bash
# Archive creation: our zip engine (through the zipbench driver) against Info-ZIP `zip -r -6` on a
# mixed 200 MB tree and a 50,000-file tree. Prints times, sizes and ratios side by side.
#   bench/engines/zip_bench.sh [BUILD_DIR] [LEVEL]
# The trees are made afresh in a temporary folder (a few minutes) unless ZIPBENCH_CORPUS is set.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
level=${2:-6}
driver="$build/bin/zipbench"
[ -x "$driver" ] || { echo "build first: $driver missing" >&2; exit 1; }
command -v zip >/dev/null || { echo "Info-ZIP zip is missing" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/tandor-zipbench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# ZIPBENCH_CORPUS=DIR reuses trees made earlier by make_corpus.py (DIR/mixed, DIR/many).
corpus=${ZIPBENCH_CORPUS:-$work}
[ -d "$corpus/mixed" ] || python3 "$here/make_corpus.py" mixed "$corpus/mixed"
[ -d "$corpus/many" ] || python3 "$here/make_corpus.py" many "$corpus/many"
sync

# Runs a command twice; prints the shorter wall time and that run's CPU time (user + system), in
# seconds. The CPU time shows the work done even when other loads share the machine.
best_of_two() {
  python3 - "$out" "$@" <<'PY'
import os, resource, subprocess, sys, time
out, cmd = sys.argv[1], sys.argv[2:]
best = None
for _ in range(2):
    if os.path.exists(out):
        os.remove(out)
    r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.monotonic()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    wall = time.monotonic() - t0
    r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (r1.ru_utime - r0.ru_utime) + (r1.ru_stime - r0.ru_stime)
    if best is None or wall < best[0]:
        best = (wall, cpu)
print("%.2f %.2f" % best)
PY
}

printf '%-6s %9s %9s %6s %9s %9s %6s %12s %12s %6s\n' tree "zip -6 s" "ours s" ratio "zip cpu" "our cpu" ratio \
  "zip bytes" "our bytes" size
for tree in mixed many; do
  src="$corpus/$tree"
  tar cf - -C "$src" . >/dev/null  # warm the page cache for both
  out="$work/$tree-infozip.zip"
  read -r tz cz < <(cd "$src" && best_of_two zip -qr -"$level" "$out" .)
  sz=$(stat -c %s "$out")
  out="$work/$tree-ours.zip"
  read -r to co < <(best_of_two "$driver" "$out" "$src" "$level")
  so=$(stat -c %s "$out")
  unzip -tq "$out" >/dev/null || { echo "unzip -t failed on our archive" >&2; exit 1; }
  printf '%-6s %9.2f %9.2f %6.2f %9.2f %9.2f %6.2f %12d %12d %6.3f\n' "$tree" "$tz" "$to" \
    "$(echo "$to / $tz" | bc -l)" "$cz" "$co" "$(echo "$co / $cz" | bc -l)" "$sz" "$so" "$(echo "$so / $sz" | bc -l)"
  rm -f "$work/$tree-infozip.zip" "$work/$tree-ours.zip"
done
uptime
