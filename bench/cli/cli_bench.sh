#!/usr/bin/env bash
# The command-line front against the peers, in one run on the same inputs: `tandor a` against
# `zip -r -6`, `tandor x` against `unzip`, `tandor l` against `unzip -l`, on a mixed 200 MB tree, a
# 50,000-file tree and a 1 GB file. Prints wall times (best of two, warm cache), sizes and ratios.
#   bench/cli/cli_bench.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
tandor="$build/bin/tandor"
[ -x "$tandor" ] || { echo "build first: $tandor missing" >&2; exit 1; }
for tool in zip unzip python3; do command -v $tool >/dev/null || { echo "$tool is missing" >&2; exit 1; }; done
work=$(mktemp -d "${TMPDIR:-/var/tmp}/tandor-clibench.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 "$here/../engines/make_corpus.py" mixed "$work/mixed/tree" >/dev/null
python3 "$here/../engines/make_corpus.py" many "$work/many/tree" >/dev/null
mkdir -p "$work/big/tree"
python3 - "$work/big/tree/big.bin" <<'PY'
import os, random, sys
# 1 GB of text-like and random blocks, as a large mixed file.
rng = random.Random(7)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(4000)]
text = b" ".join(rng.choice(words) for _ in range(200000))[:1 << 20]
with open(sys.argv[1], "wb") as f:
    for i in range(1024):
        f.write(os.urandom(1 << 20) if i % 3 == 0 else text[i % 1000:] + text[:i % 1000])
PY
sync

# best TIME of two runs of a command line, in seconds
best() {
  python3 - "$@" <<'PY'
import subprocess, sys, time
best = None
for _ in range(2):
    subprocess.run(["bash", "-c", "rm -rf \"$0\"", sys.argv[1]], check=True)
    t = time.perf_counter()
    subprocess.run(["bash", "-c", sys.argv[2]], check=True, stdout=subprocess.DEVNULL)
    t = time.perf_counter() - t
    best = t if best is None else min(best, t)
print("%.2f" % best)
PY
}

row() { python3 -c "import sys; a,b=float(sys.argv[2]),float(sys.argv[3]); print('%-22s %9.2f %9.2f %7.2f' % (sys.argv[1], a, b, b/a))" "$@"; }

echo "                        peer s   ours s   ratio"
for set in mixed many big; do
  d="$work/$set"
  tar cf - -C "$d" tree >/dev/null
  tz=$(best "$d/peer.zip" "cd '$d' && zip -qr -6 peer.zip tree")
  to=$(best "$d/ours.zip" "cd '$d' && '$tandor' a -q -r -6 ours.zip tree")
  row "$set: create" "$tz" "$to"
  ps=$(stat -c %s "$d/peer.zip"); os=$(stat -c %s "$d/ours.zip")
  python3 -c "import sys; print('%-22s %9d %9d %7.3f' % ('  size (bytes)', int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[2])/int(sys.argv[1])))" "$ps" "$os"
  unzip -tq "$d/ours.zip" >/dev/null
  tu=$(best "$d/out-peer" "mkdir -p '$d/out-peer' && cd '$d/out-peer' && unzip -q ../peer.zip")
  tx=$(best "$d/out-ours" "'$tandor' x -q '$d/peer.zip' -d '$d/out-ours'")
  row "$set: extract" "$tu" "$tx"
  diff -r "$d/out-peer" "$d/out-ours" >/dev/null || { echo "extracted trees differ" >&2; exit 1; }
  rm -rf "$d/out-peer" "$d/out-ours"
  if [ "$set" = many ]; then
    tl=$(best "$d/none" "unzip -l '$d/peer.zip'")
    tt=$(best "$d/none" "'$tandor' l '$d/peer.zip'")
    row "$set: list" "$tl" "$tt"
  fi
  rm -rf "$d"
done
