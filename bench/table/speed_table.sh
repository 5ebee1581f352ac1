#!/usr/bin/env bash
# The speed and memory table: tandor against the peer tools in one side-by-side run, on a 1 GB mixed
# file, a 200 MB mixed tree and a 50,000-file tree; extraction into a memory file system. Writes a
# markdown table (peer, ours, ratio, peak resident memory, output size, target) to stdout and to
# BUILD_DIR/bench-table.md.
#   bench/table/speed_table.sh [BUILD_DIR]
#   TABLE_MIB=1024 TABLE_FILES=50000 TABLE_RUNS=2 (environment, the defaults; the best run counts)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
tandor=$build/bin/tandor
drv=$build/bin/tar_bench_driver
for f in "$tandor" "$drv"; do [ -x "$f" ] || { echo "build first: $f missing" >&2; exit 1; }; done
for tool in zip unzip gzip tar python3; do command -v $tool >/dev/null || { echo "$tool is missing" >&2; exit 1; }; done
mib=${TABLE_MIB:-1024} files=${TABLE_FILES:-50000} runs=${TABLE_RUNS:-2}
work=$(mktemp -d "${TMPDIR:-/var/tmp}/tandor-table.XXXXXX")
shm_free=$(df -Pk /dev/shm 2>/dev/null | awk 'NR==2 {print $4}')
if [ -w /dev/shm ] && [ "${shm_free:-0}" -gt $((3 * mib * 1024)) ]; then xroot=/dev/shm; else xroot=$work; fi
x=$(mktemp -d "$xroot/tandor-table-x.XXXXXX")
trap 'rm -rf "$work" "$x"' EXIT
cd "$work"

load_start=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date +%s)
echo "corpus in $work (a ${mib} MiB mixed file, a 200 MB mixed tree, a ${files}-file tree); extracting into $x" >&2
mkdir big && "$drv" gen-mixed big/big.bin "$mib"
python3 "$here/../engines/make_corpus.py" mixed mixed >/dev/null
"$drv" gen-tree many "$files"
cat big/big.bin >/dev/null; tar -cf - mixed many | cat >/dev/null

# Best of $runs: "wall_seconds max_resident_kb cpu_seconds" of the fastest run; `prep` runs untimed
# before each. The CPU time (user + system) shows the work done even when other loads share the machine.
best() {
  local prep=$1 cmd=$2 b="" bm="" bc="" wall kb user sys
  for _ in $(seq "$runs"); do
    bash -c "$prep"
    /usr/bin/time -f "%e %M %U %S" -o time.txt bash -c "$cmd" >/dev/null 2>err.txt || { cat err.txt >&2; echo "FAILED: $cmd" >&2; exit 1; }
    read -r wall kb user sys <time.txt
    if [ -z "$b" ] || [ "$(echo "$wall < $b" | bc)" = 1 ]; then b=$wall; bm=$kb; bc=$(echo "$user + $sys" | bc); fi
  done
  echo "$b $bm $bc"
}
mb() { echo "scale=1; $1 / 1024" | bc; }
size() { stat -c %s "$1"; }
rows=()
# label, peer name, peer prep, peer command, our prep, our command, output files (peer ours, or "-"), target
row() {
  local p o pw pk pc ow ok oc ratio cratio sizes="-"
  read -r pw pk pc < <(best "$3" "$4")
  read -r ow ok oc < <(best "$5" "$6")
  ratio=$(echo "scale=2; $ow / $pw" | bc)
  cratio=$(echo "scale=2; $oc / $pc" | bc)
  if [ "$7" != "-" ]; then
    local ps os; ps=$(size "${7% *}"); os=$(size "${7#* }")
    sizes="$ps / $os ($(echo "scale=3; $os / $ps" | bc))"
  fi
  rows+=("| $1 | \`$2\` $pw s (cpu $pc s), $(mb "$pk") MB | $ow s (cpu $oc s), $(mb "$ok") MB | $(printf '%.2f' "$ratio") (cpu $(printf '%.2f' "$cratio")) | $sizes | $8 |")
  echo "  done: $1" >&2
}

row "zip create, ${mib} MiB file" "zip -6" "rm -f peer1.zip" "cd big && zip -q -6 ../peer1.zip big.bin" \
  "rm -f ours1.zip" "cd big && '$tandor' a -q -6 ../ours1.zip big.bin" "peer1.zip ours1.zip" "<= 0.30 at <= 1.0x size"
unzip -tq ours1.zip >/dev/null || { echo "unzip -t failed on our zip" >&2; exit 1; }
row "zip extract, ${mib} MiB entry" "unzip" "rm -rf '$x/p'" "unzip -q -o peer1.zip -d '$x/p'" \
  "rm -rf '$x/o'" "'$tandor' x -q -o peer1.zip -d '$x/o'" - "<= 0.30, <= 64 MB"
cmp -s "$x/p/big.bin" "$x/o/big.bin" || { echo "zip: extracted files differ" >&2; exit 1; }
rm -rf "$x/p" "$x/o"
rows=("${rows[1]}" "${rows[0]}")  # extraction first, as in the issue
row "zip create, 200 MB mixed tree" "zip -6" "rm -f peer2.zip" "zip -qr -6 peer2.zip mixed" \
  "rm -f ours2.zip" "'$tandor' a -q -r -6 ours2.zip mixed" "peer2.zip ours2.zip" "<= 0.15 at <= 1.0x size"
unzip -tq ours2.zip >/dev/null || { echo "unzip -t failed on our zip" >&2; exit 1; }
row "gzip -6, ${mib} MiB file" "gzip -6" "rm -f peer.gz" "gzip -6 -c big/big.bin > peer.gz" \
  "rm -f ours.gz" "'$tandor' a -q -6 ours.gz big/big.bin" "peer.gz ours.gz" "<= 0.35, one member"
members=$(python3 -c 'import sys, zlib
d = open(sys.argv[1], "rb").read(); n = 0
while d:
    o = zlib.decompressobj(31); o.decompress(d); n += 1; d = o.unused_data
print(n)' ours.gz)
gzip -t ours.gz
row "tar create, ${files} files" "tar -cf" "rm -f peer.tar" "tar -cf peer.tar many" \
  "rm -f ours.tar" "'$tandor' a -q -r ours.tar many" "peer.tar ours.tar" "<= 0.90"
tar -czf mixed.tgz mixed; tar -czf many.tgz many
row "tar.gz extract, mixed tree" "tar -xzf" "rm -rf '$x/p'; mkdir '$x/p'" "tar -xzf mixed.tgz -C '$x/p'" \
  "rm -rf '$x/o'" "'$tandor' x -q -o mixed.tgz -d '$x/o'" - "<= 0.50"
diff -r "$x/p" "$x/o" >/dev/null || { echo "tar.gz: extracted trees differ" >&2; exit 1; }
row "tar.gz extract, ${files} files" "tar -xzf" "rm -rf '$x/p'; mkdir '$x/p'" "tar -xzf many.tgz -C '$x/p'" \
  "rm -rf '$x/o'" "'$tandor' x -q -o many.tgz -d '$x/o'" - "<= 0.50"
diff -r "$x/p" "$x/o" >/dev/null || { echo "tar.gz: extracted trees differ" >&2; exit 1; }
rm -rf "$x/p" "$x/o"
row "gunzip, ${mib} MiB file" "gzip -d" "rm -f '$x/big.bin'" "gzip -d -c peer.gz > '$x/big.bin'" \
  "rm -rf '$x/o'" "'$tandor' x -q -o peer.gz -d '$x/o'" - "<= 0.30"
cmp -s big/big.bin "$x/o/peer" || cmp -s big/big.bin "$x/o/big.bin" || { echo "gunzip: output differs" >&2; exit 1; }

{
  echo "Machine: $(nproc) cores, load $load_start at the start and $(cut -d' ' -f1-3 /proc/loadavg) at the end ($(( $(date +%s) - started )) s); $(gzip --version | head -1), $(zip -v | sed -n 2p | sed 's/^ *//'), $(tar --version | head -1); extraction into $xroot; best of $runs runs."
  echo
  echo "| work | peer (wall, cpu, peak resident) | ours | ratio (wall, cpu) | output bytes: peer / ours | target |"
  echo "|---|---|---|---|---|---|"
  printf '%s\n' "${rows[@]}"
  echo
  echo "Our gzip file holds $members member(s)."
} | tee "$build/bench-table.md"
