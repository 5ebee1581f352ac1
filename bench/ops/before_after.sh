#!/usr/bin/env bash
# The command-line and tar benchmarks for two builds, one after the other in one run: a build before a
# change and one after it (for instance before and after moving tandor onto the operations layer).
#   bench/ops/before_after.sh BEFORE_BUILD AFTER_BUILD
# Each build folder needs bin/tandor, the engines, libunrar.so and bin/tar_bench_driver.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
before=$(cd "$1" && pwd)
after=$(cd "$2" && pwd)
echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
for b in "$before" "$after"; do
  echo "=== cli_bench.sh: $b"
  bash "$here/../cli/cli_bench.sh" "$b"
  echo "load $(cut -d' ' -f1-3 /proc/loadavg)"
done
for b in "$before" "$after"; do
  echo "=== tar run_bench.sh: $b"
  bash "$here/../tar/run_bench.sh" "$b" 2>/dev/null
done
