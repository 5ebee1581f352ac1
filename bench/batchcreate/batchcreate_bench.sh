#!/usr/bin/env bash
# 100 small jobs (zip, tar.gz, tar, gz in turn; three files of 2-40 KB each, a gzip job one; tags)
# through the batch create queue, beside the same 100 creations made one by one with the create
# page's ZIP button, offscreen. Prints both wall times, their ratio and the load at the start.
#   bench/batchcreate/batchcreate_bench.sh [BUILD_DIR] [JOBS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
jobs=${2:-100}
bench="$build/bin/batchcreatebench"
[ -x "$bench" ] || { echo "build first: $bench missing" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/var/tmp}/tandor-batchcreate.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src" "$work/out"
python3 - "$work/src" <<'PY'
import os, random, sys
random.seed(5)
words = [b"alpha", b"beta", b"gamma", b"delta", b"archive", b"tandor", b"batch", b"create"]
for i in range(300):
    size = random.randint(2000, 40000)
    data = b" ".join(random.choice(words) for _ in range(size // 5))[:size]
    with open(os.path.join(sys.argv[1], f"f{i}.txt"), "wb") as f:
        f.write(data)
PY
echo "load at start: $(uptime)"
"$bench" "$work/src" "$work/out" "$jobs"
for f in "$work"/out/batch/*.zip; do unzip -tq "$f" >/dev/null || { echo "unzip -t failed: $f" >&2; exit 1; }; done
for f in "$work"/out/batch/*.gz; do gzip -t "$f" || { echo "gzip -t failed: $f" >&2; exit 1; }; done
echo "archives of the batch run: unzip -t and gzip -t ok"
