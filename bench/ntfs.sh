#!/bin/sh
# make bench, the Linux volume reader: `vestrel-ntfs list -r` against The
# Sleuth Kit's `fls -r` on the same generated NTFS image (FILES files in
# directories of 100, one in twenty with a named stream), and the listing
# with --hash sha256 against sha256sum of the same bytes, RUNS times each,
# interleaved, medians printed. The image is written once into build/ by the
# fixture generator; both programs come from the build without sanitizers.
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-5}
files=${NTFS_FILES:-20000}
exe="$top/build/bench-native/ntfs/vestrel-ntfs"
gen="$top/build/bench-native/tests/ntfs/ntfs_fixture"
image="$top/build/bench-ntfs-$files.raw"
for f in "$exe" "$gen"; do
  [ -x "$f" ] || { echo "bench/ntfs.sh: $f is missing (make bench builds it)"; exit 1; }
done
command -v fls >/dev/null || { echo "bench/ntfs.sh: fls (sleuthkit) is missing"; exit 1; }
if [ ! -f "$image.complete" ]; then
  rm -f "$image"
  start=$(date +%s.%N)
  "$gen" bench "$image" "$files" || exit 1
  touch "$image.complete"
  echo "ntfs image: $files files written in $(echo "$(date +%s.%N) $start" | awk '{printf "%.1f", $1-$2}')s"
fi
out=$(mktemp -d)
seconds() { s=$(date +%s.%N); "$@" > "$out/last" 2>/dev/null; e=$(date +%s.%N); echo "$e $s" | awk '{printf "%.3f\n", $1-$2}'; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
i=0
while [ $i -lt "$runs" ]; do
  seconds "$exe" list -r --format csv "$image" >> "$out/ntfs"
  seconds fls -r "$image" >> "$out/fls"
  i=$((i+1))
done
rows=$("$exe" list -r --format csv "$image" | tail -n +2 | wc -l)
entries=$(fls -r "$image" | wc -l)
rss=$(/usr/bin/time -f %M "$exe" list -r --format csv "$image" 2>&1 >/dev/null | tail -1)
n=$(median < "$out/ntfs"); f=$(median < "$out/fls")
echo "ntfs image ($files files, median of $runs): vestrel-ntfs list -r ${n}s ($rows streams)," \
  "fls -r ${f}s ($entries entries), vestrel-ntfs/fls $(echo "$n $f" | awk '{printf "%.2f", $1/$2}')," \
  "vestrel-ntfs peak memory ${rss} KiB"
echo "ntfs runs: vestrel-ntfs $(tr '\n' ' ' < "$out/ntfs")| fls $(tr '\n' ' ' < "$out/fls")"
# Digests: the listing with --hash sha256 beside the plain one, and what the
# digest itself costs against sha256sum over the same bytes (the streams
# extracted once, untimed, one file each).
"$exe" extract -r -q "$image" --to "$out/x" >/dev/null 2>&1
i=0
while [ $i -lt "$runs" ]; do
  seconds "$exe" list -r --hash sha256 --format csv "$image" >> "$out/hash"
  seconds sh -c "find '$out/x' -type f ! -name 'index.csv' -exec sha256sum {} + > /dev/null" >> "$out/sum"
  i=$((i+1))
done
h=$(median < "$out/hash"); m=$(median < "$out/sum")
bytes=$(find "$out/x" -type f ! -name index.csv -exec cat {} + | wc -c)
echo "ntfs digests (median of $runs): list -r --hash sha256 ${h}s, plain ${n}s, extra $(echo "$h $n" | awk '{printf "%.3f", $1-$2}')s;" \
  "sha256sum of the same $bytes bytes ${m}s"
rm -rf "$out"
