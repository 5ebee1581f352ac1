#!/usr/bin/env bash
# Tar and gzip benchmark: our side (tar_bench_driver) against GNU tar and gzip, side by side, on a
# generated 1 GB mixed file and a 50,000-file tree in a temporary folder removed afterwards.
# Usage: bench/tar/run_bench.sh [build folder]      (default: build)
# TAR_BENCH_MIB and TAR_BENCH_FILES make the corpus smaller for a quick try.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
drv=$(cd "$build" && pwd)/bin/tar_bench_driver
[ -x "$drv" ] || { echo "build the tar_bench_driver target first" >&2; exit 1; }
mib=${TAR_BENCH_MIB:-1024}
files=${TAR_BENCH_FILES:-50000}
work=$(mktemp -d "${TMPDIR:-/tmp}/tar-bench-XXXXXX")
# Extractions go to a memory file system when there is one: on ext4, creating 50,000 files right after
# deleting 50,000 spends seconds of kernel time in the inode allocator (recently_deleted), which swamps
# both tools and depends on the order of the runs. TAR_BENCH_XDIR picks another folder.
shm_free=$(df -Pk /dev/shm 2>/dev/null | awk 'NR==2 {print $4}')
if [ -n "${TAR_BENCH_XDIR:-}" ]; then xroot=$TAR_BENCH_XDIR
elif [ -w /dev/shm ] && [ "${shm_free:-0}" -gt 2097152 ]; then xroot=/dev/shm
else xroot=$work; fi
x=$(mktemp -d "$xroot/tar-bench-x-XXXXXX")
trap 'rm -rf "$work" "$x"' EXIT
cd "$work"

# Best of $runs: prints "wall cpu" (seconds) of the fastest run; `prep` runs untimed before each run.
best() {
  local runs=$1 prep=$2 cmd=$3 b="" bc="" wall user sys
  for _ in $(seq "$runs"); do
    sh -c "$prep"
    /usr/bin/time -f "%e %U %S" -o time.txt sh -c "$cmd" >/dev/null
    read -r wall user sys <time.txt
    if [ -z "$b" ] || [ "$(echo "$wall < $b" | bc)" = 1 ]; then b=$wall; bc=$(echo "$user + $sys" | bc); fi
  done
  echo "$b $bc"
}
rows=()
row() {  # label, runs, peer prep, peer command, our prep, our command, target
  local p o
  p=$(best "$2" "$3" "$4")
  o=$(best "$2" "$5" "$6")
  local pw=${p% *} pc=${p#* } ow=${o% *} oc=${o#* }
  local ratio; ratio=$(echo "scale=2; $ow / $pw" | bc)
  local cratio; cratio=$(echo "scale=2; $oc / $pc" | bc)
  rows+=("$(printf '%-34s %9s %9s %7s   %9s %9s %7s   %s' "$1" "$pw" "$ow" "$ratio" "$pc" "$oc" "$cratio" "$7")")
  echo "  done: $1" >&2
}

echo "corpus: ${mib} MiB mixed file, ${files}-file tree in $work; extracting into $x" >&2
"$drv" gen-mixed mixed.bin "$mib"
"$drv" gen-tree tree "$files"
cat mixed.bin >/dev/null
tar -cf - tree | cat >/dev/null

row "gzip -6 (mixed file)" 1 "rm -f p.gz" "gzip -6 -c mixed.bin > p.gz" "rm -f o.gz" "'$drv' gz mixed.bin o.gz" "<= 0.50"
psize=$(stat -c %s p.gz); osize=$(stat -c %s o.gz)
gzip -t o.gz
row "gunzip (gzip's file)" 2 "rm -f p.out" "gzip -d -c p.gz > p.out" "rm -f o.out" "'$drv' gunzip p.gz o.out" "<= 0.60"
cmp -s mixed.bin o.out && cmp -s mixed.bin p.out || { echo "decompressed data differ" >&2; exit 1; }
row "gunzip (our file)" 2 "rm -f p.out" "gzip -d -c o.gz > p.out" "rm -f o.out" "'$drv' gunzip o.gz o.out" "<= 0.60"
cmp -s mixed.bin o.out || { echo "decompressed data differ" >&2; exit 1; }
rm -f p.out o.out
mkdir -p one && ln -f mixed.bin one/mixed.bin
row "tar create (1 GB file)" 2 "rm -f pm.tar" "tar -cf pm.tar -C one ." "rm -f om.tar" "'$drv' tar om.tar one" "<= 1.00"
row "tar extract (1 GB file)" 2 "rm -rf '$x'; mkdir '$x'" "tar -xf pm.tar -C '$x'" "rm -rf '$x'; mkdir '$x'" "'$drv' untar pm.tar '$x'" "<= 1.00"
cmp -s mixed.bin "$x/mixed.bin" || { echo "extracted file differs" >&2; exit 1; }
rm -f pm.tar om.tar; rm -rf "$x"; mkdir "$x"
row "tar create (tree)" 2 "rm -f p.tar" "tar -cf p.tar -C tree ." "rm -f o.tar" "'$drv' tar o.tar tree" "<= 1.00"
row "tar extract (GNU tar's tree.tar)" 2 "rm -rf '$x'; mkdir '$x'" "tar -xf p.tar -C '$x'" "rm -rf '$x'; mkdir '$x'" "'$drv' untar p.tar '$x'" "<= 1.00"
diff -r tree "$x" >/dev/null || { echo "extracted tree differs" >&2; exit 1; }
row "tar.gz create (tree)" 1 "rm -f p.tgz" "tar -czf p.tgz -C tree ." "rm -f o.tgz" "'$drv' tgz o.tgz tree" "<= 0.60"
tsize_p=$(stat -c %s p.tgz); tsize_o=$(stat -c %s o.tgz)
gzip -t o.tgz
row "tar.gz extract (tree)" 1 "rm -rf '$x'; mkdir '$x'" "tar -xzf p.tgz -C '$x'" "rm -rf '$x'; mkdir '$x'" "'$drv' untar p.tgz '$x'" "-"
diff -r tree "$x" >/dev/null || { echo "extracted tree differs" >&2; exit 1; }
rm -rf "$x"
echo
echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); $(gzip --version | head -1); $(tar --version | head -1)"
printf '%-34s %9s %9s %7s   %9s %9s %7s   %s\n' "operation" "peer s" "ours s" "ratio" "peer cpu" "ours cpu" "ratio" "target"
for r in "${rows[@]}"; do echo "$r"; done
echo
printf 'gzip -6 size: peer %s, ours %s (%s)\n' "$psize" "$osize" "$(echo "scale=3; $osize / $psize" | bc)"
printf 'tar.gz size (tree): peer %s, ours %s (%s)\n' "$tsize_p" "$tsize_o" "$(echo "scale=3; $tsize_o / $tsize_p" | bc)"
