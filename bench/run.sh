#!/bin/sh
# make bench: generates the benchmark tree once (build/bench-tree), then
# measures on the same Wine prefix, RUNS times each (default 3):
#   baseline   the walk and one open/close per file (the unavoidable work)
#   enumerate  the walk with the stream enumeration of every file
#   program    the real program's scan, from the Scan click to the completion
# for the narrow tree (20,000 files in 1,000 directories) and the wide folder
# (10,000 files in one directory), and prints medians and ratios.
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-3}
exe="$top/build/win64/bench/benchscan.exe"
prog="$top/build/win64/app/vestrel.exe"
tree="$top/build/bench-tree"
sh "$top/tools/with-display" sh -s "$top" "$exe" "$prog" "$tree" "$runs" <<'INNER'
top=$1; exe=$2; prog=$3; tree=$4; runs=$5
run() { "$top/tools/wine-run" "$@" 2>/dev/null; }
W=$(run winepath -w "$tree")
if [ ! -f "$tree/.complete" ]; then
  rm -rf "$tree"; mkdir -p "$tree"
  run "$exe" gen "$W" && touch "$tree/.complete"
fi
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
measure() {  # mode target -> median seconds
  i=0; while [ $i -lt "$runs" ]; do
    case $1 in
      program) run "$exe" program "$prog" "$W\\$2" ;;
      *) run "$exe" "$1" "$W\\$2" ;;
    esac | awk '{print $2}'
    i=$((i+1))
  done | median
}
for part in tree wide; do
  b=$(measure baseline $part); e=$(measure enumerate $part); p=$(measure program $part)
  echo "$part: baseline ${b}s enumerate ${e}s program ${p}s  program/baseline $(echo "$p $b" | awk '{printf "%.1f", $1/$2}')"
done
INNER
