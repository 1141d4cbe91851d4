#!/bin/sh
# make bench, the Linux volume reader: `vestrel-ntfs list -r` (MFT order) and
# `list -r --sort path` (the directory walk) against The Sleuth Kit's
# `icat IMAGE 0` (reading all of $MFT) and `fls -r` on the same generated NTFS
# image (FILES files in directories of 100, one in twenty with a named
# stream), the same listing through an E01 of that image (ewfacquire,
# deflate "fast"), and the listing with --hash sha256 against sha256sum of
# the same bytes on a second image of realistic stream sizes, RUNS times
# each, interleaved, medians printed. The images
# are written once into build/ by the fixture generator; the programs come
# from the build without sanitizers.
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-5}
files=${NTFS_FILES:-20000}
exe="$top/build/bench-native/ntfs/vestrel-ntfs"
gen="$top/build/bench-native/tests/ntfs/ntfs_fixture"
image="$top/build/bench-ntfs-$files.raw"
for f in "$exe" "$gen"; do
  [ -x "$f" ] || { echo "bench/ntfs.sh: $f is missing (make bench builds it)"; exit 1; }
done
command -v fls >/dev/null && command -v icat >/dev/null || { echo "bench/ntfs.sh: fls/icat (sleuthkit) missing"; exit 1; }
command -v ewfacquire >/dev/null || { echo "bench/ntfs.sh: ewfacquire (ewf-tools) is missing"; exit 1; }
if [ ! -f "$image.complete" ]; then
  rm -f "$image"
  start=$(date +%s.%N)
  "$gen" bench "$image" "$files" || exit 1
  touch "$image.complete"
  echo "ntfs image: $files files written in $(echo "$(date +%s.%N) $start" | awk '{printf "%.1f", $1-$2}')s"
fi
ewf="${image%.raw}"
if [ ! -f "$ewf.E01.complete" ]; then
  rm -f "$ewf".E0*
  ewfacquire -u -q -t "$ewf" -c deflate:fast "$image" >/dev/null || exit 1
  touch "$ewf.E01.complete"
fi
out=$(mktemp -d)
# Wall-clock seconds, and into $out/NAME.cpu the processor seconds (user +
# system): on a shared machine waiting for a core inflates the first, not the
# second.
seconds() {
  name=$1; shift
  /usr/bin/time -f "%e %U %S" -o "$out/time" "$@" > "$out/last" 2>/dev/null
  awk '{printf "%.3f\n", $2+$3}' "$out/time" >> "$out/$name.cpu"
  awk '{printf "%.3f\n", $1}' "$out/time" >> "$out/$name"
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
i=0
while [ $i -lt "$runs" ]; do
  seconds ntfs "$exe" list -r --format csv "$image"
  seconds walk "$exe" list -r --sort path --format csv "$image"
  seconds icat icat "$image" 0
  seconds fls fls -r "$image"
  seconds e01 "$exe" list -r --format csv "$ewf.E01"
  i=$((i+1))
done
"$exe" list -r --format csv "$image" > "$out/last.raw"
rows=$(tail -n +2 "$out/last.raw" | wc -l)
walkrows=$("$exe" list -r --sort path --format csv "$image" | tail -n +2 | wc -l)
entries=$(fls -r "$image" | wc -l)
rss=$(/usr/bin/time -f %M "$exe" list -r --format csv "$image" 2>&1 >/dev/null | tail -1)
n=$(median < "$out/ntfs"); w=$(median < "$out/walk"); c=$(median < "$out/icat"); f=$(median < "$out/fls")
nc=$(median < "$out/ntfs.cpu"); wc=$(median < "$out/walk.cpu"); cc=$(median < "$out/icat.cpu"); fc=$(median < "$out/fls.cpu")
echo "ntfs image ($files files, median of $runs): vestrel-ntfs list -r ${n}s ($rows streams)," \
  "list -r --sort path ${w}s ($walkrows streams), icat IMAGE 0 ${c}s, fls -r ${f}s ($entries entries);" \
  "list/icat $(echo "$n $c" | awk '{printf "%.2f", $1/$2}'), fls/list $(echo "$f $n" | awk '{printf "%.1f", $1/$2}')," \
  "vestrel-ntfs peak memory ${rss} KiB"
echo "ntfs processor time (user+system, median): list ${nc}s, walk ${wc}s, icat ${cc}s, fls ${fc}s;" \
  "list/icat $(echo "$nc $cc" | awk '{printf "%.2f", $1/$2}'), fls/list $(echo "$fc $nc" | awk '{printf "%.1f", $1/$2}')"
e=$(median < "$out/e01"); ec=$(median < "$out/e01.cpu")
same=$("$exe" list -r --format csv "$ewf.E01" | cmp -s - "$out/last.raw" && echo same || echo DIFFERENT)
erss=$(/usr/bin/time -f %M "$exe" list -r --format csv "$ewf.E01" 2>&1 >/dev/null | tail -1)
echo "ntfs E01 ($(stat -c %s "$ewf.E01") bytes, median of $runs): vestrel-ntfs list -r ${e}s (processor ${ec}s; $same rows)," \
  "E01/raw $(echo "$e $n" | awk '{printf "%.2f", $1/$2}') (processor $(echo "$ec $nc" | awk '{printf "%.2f", $1/$2}')), peak memory ${erss} KiB"
echo "ntfs runs: list $(tr '\n' ' ' < "$out/ntfs")| walk $(tr '\n' ' ' < "$out/walk")| icat $(tr '\n' ' ' < "$out/icat")| fls $(tr '\n' ' ' < "$out/fls")| E01 $(tr '\n' ' ' < "$out/e01")"
# Digests, over streams of realistic sizes (ntfs_fixture digests: 404
# streams from 120 bytes to 16 MiB, 171 MiB in all): the listing with
# --hash sha256 beside the plain one; the difference is what the digests
# cost, set against sha256sum over the same bytes (the streams extracted
# once, untimed, one file each, read from the page cache as the image is).
digests="$top/build/bench-ntfs-digests.raw"
if [ ! -f "$digests.complete" ]; then
  rm -f "$digests"
  "$gen" digests "$digests" || exit 1
  touch "$digests.complete"
fi
"$exe" extract -r -q "$digests" --to "$out/x" >/dev/null 2>&1
bytes=$(find "$out/x" -type f ! -name 'index.*' -exec cat {} + | wc -c)
i=0
while [ $i -lt "$runs" ]; do
  seconds plain "$exe" list -r --format csv "$digests"
  seconds hash "$exe" list -r --hash sha256 --format csv "$digests"
  seconds sum sh -c "find '$out/x' -type f ! -name 'index.*' -exec sha256sum {} + > /dev/null"
  i=$((i+1))
done
p=$(median < "$out/plain.cpu"); h=$(median < "$out/hash.cpu"); m=$(median < "$out/sum.cpu")
echo "ntfs digests ($bytes bytes in streams, processor time, median of $runs): list -r ${p}s," \
  "list -r --hash sha256 ${h}s, sha256sum of the same bytes ${m}s;" \
  "(hash - plain)/sha256sum $(echo "$h $p $m" | awk '{printf "%.2f", ($1-$2)/$3}')"
rm -rf "$out"
