#!/usr/bin/env bash
# Start-up of the installed program: from its start to its first painted window, with cold settings (a
# fresh HOME every run, so the first-run window comes first) and with warm ones, on a virtual X server
# (Xvfb) and on Qt's offscreen platform. The program reports its paint times itself
# (`tandorfile --start-check`); the probe takes the wall clock just before it starts the program.
# Usage: bench/startup/startup_bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
runs=${2:-15}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
echo "machine: $(nproc) cores; load:$(uptime | sed 's/.*load average://')"
python3 "$here/startup_probe.py" "$stage/usr/bin/tandorfile" "$runs" offscreen
xvfb-run -a -s "-screen 0 1280x1024x24" python3 "$here/startup_probe.py" "$stage/usr/bin/tandorfile" "$runs" xcb
echo "load after:$(uptime | sed 's/.*load average://')"
