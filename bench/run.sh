#!/usr/bin/env bash
# Runs every benchmark of the project against its peer tools; heavy (several GB of temporary files
# under $TMPDIR or /var/tmp, many minutes). The last one, table/speed_table.sh, writes the speed and
# memory table to BUILD_DIR/bench-table.md. Usage: bench/run.sh [BUILD_DIR]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
status=0
for script in "$here"/cli/cli_bench.sh "$here"/engines/zip_bench.sh "$here"/engines-unzip/run.sh \
              "$here"/tar/*.sh "$here"/zip/*.sh "$here"/unzippage/*.sh "$here"/filters/*.sh "$here"/createpage/*.sh \
              "$here"/update/*.sh "$here"/spanning/*.sh "$here"/sfx/*.sh "$here"/startup/*.sh "$here"/rar/*.sh \
              "$here"/batch/*.sh "$here"/table/*.sh; do
  [ -f "$script" ] || continue
  echo "== ${script#$here/}"
  bash "$script" "$build" || status=1
done
exit $status
