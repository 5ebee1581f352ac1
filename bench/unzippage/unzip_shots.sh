#!/usr/bin/env bash
# Screenshots of the unzip page under xvfb-run: after a cold start, with a zip archive listed, and
# with the one message of an archive that is not there.
#   bench/unzippage/unzip_shots.sh [BUILD_DIR] [OUT_FOLDER]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
out=$(mkdir -p "${2:-$PWD/unzip-shots}" && cd "${2:-$PWD/unzip-shots}" && pwd)
shots="$build/bin/unzipshots"
[ -x "$shots" ] || { echo "build first: $shots missing" >&2; exit 1; }
src=$(mktemp -d "${TMPDIR:-/var/tmp}/tandor-shots.XXXXXX")
trap 'rm -rf "$src"' EXIT
# Every start registers the program with the desktop: keep that away from the real home folder.
export HOME="$src/home" XDG_CONFIG_HOME="$src/home/.config" XDG_DATA_HOME="$src/home/.local/share" \
  XDG_CACHE_HOME="$src/home/.cache"
mkdir -p "$HOME"
mkdir -p "$src/docs"
echo "read me" > "$src/readme.txt"
seq 1 20000 > "$src/docs/numbers.txt"
(cd "$src" && zip -qr sample.zip readme.txt docs)
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x700x24" "$shots" "$out" "$src/sample.zip"
ls -l "$out"/*.png
