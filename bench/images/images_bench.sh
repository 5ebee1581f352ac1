#!/usr/bin/env bash
# Thumbnails of 500 JPEG photos of 1920 x 1080 at size 128: the picture service's worker against
# `mogrify -thumbnail 128x128` over copies of the same files, side by side in one run, twice. Then
# the Image Browser scrolled through 500 and 5,000 thumbnails, every step painted. Goals: thumbnails
# in at most mogrify's time; no paint longer than 50 ms.
#   bench/images/images_bench.sh [BUILD_DIR] [COUNT]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
count=${2:-500}
bench="$build/bin/imagesbench"
[ -x "$bench" ] || { echo "build first: $bench missing" >&2; exit 1; }
command -v mogrify >/dev/null && command -v convert >/dev/null || { echo "ImageMagick missing" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/var/tmp}/tandor-imagesbench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Ten photo-like pictures (fractal plasma, a gradient, noise), copied to COUNT files.
mkdir -p "$work/src"
for i in $(seq 0 9); do
  convert -seed "$i" -size 1920x1080 plasma:fractal -blur 0x1 \( -size 1920x1080 gradient: \) \
    -compose overlay -composite -attenuate 0.3 +noise Gaussian -quality 88 "$work/src/seed$i.jpg"
done
for n in $(seq 1 "$count"); do cp "$work/src/seed$((n % 10)).jpg" "$work/src/photo$n.jpg"; done
rm "$work"/src/seed*.jpg
echo "corpus: $count JPEG photos 1920x1080, $(du -sh "$work/src" | cut -f1)"
echo "load: $(uptime)"
now() { date +%s.%N; }
status=0
for round in 1 2; do
  rm -rf "$work/mog"
  cp -r "$work/src" "$work/mog"
  sync
  t0=$(now)
  (cd "$work/mog" && mogrify -thumbnail 128x128 ./*.jpg)
  mog=$(echo "$(now) - $t0" | bc)
  read -r pictures made ours < <("$bench" thumbs "$work/src" 128) || { echo "round $round: thumbnails failed" >&2; status=1; continue; }
  echo "round $round: tandor $ours s ($made of $pictures thumbnails)   mogrify -thumbnail $mog s"
  if (($(echo "$ours > $mog" | bc))); then echo "round $round: slower than mogrify" >&2; status=1; fi
done
echo "load: $(uptime)"
for n in 500 5000; do
  read -r rows steps longest mean < <(QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} TANDOR_HOME="$work/home" timeout 300 \
    "$bench" scroll "$work/src" 128 "$n")
  echo "browser with $rows thumbnails: $steps scroll steps, longest paint $longest ms, mean $mean ms"
  if (($(echo "$longest > 50" | bc))); then echo "a paint took over 50 ms" >&2; status=1; fi
done
exit $status
