#!/bin/sh
# make bench: generates the benchmark tree once (build/bench-tree), then
# measures on the same Wine prefix, RUNS times each (default 3), the three
# kinds interleaved so that a change in the machine's load hits all alike:
#   baseline   the walk and one open/close per file (the unavoidable work)
#   enumerate  the walk with the stream enumeration of every file
#   program    the real program's scan, from the Scan click to the completion
# for the narrow tree (20,000 files in 1,000 directories) and the wide folder
# (10,000 files in one directory), and prints medians, ratios, files per
# second and the cost per file. OTHER=<path of another vestrel.exe> measures
# that build too, interleaved with this one (before/after comparisons).
# Then the window's request costs, the memory of 100,000 rows against the
# list's own storage, and a fill/empty/refill leak check (benchui),
# and natively the enumeration per file (Google Benchmark, no sanitizers).
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-3}
rows=${ROWS:-100000}
exe="$top/build/win64/bench/benchscan.exe"
ui="$top/build/win64/bench/benchui.exe"
prog="$top/build/win64/app/vestrel.exe"
tree="$top/build/bench-tree"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "wine: $(wine --version 2>/dev/null)"
sh "$top/tools/with-display" sh -s "$top" "$exe" "$prog" "$tree" "$runs" "${OTHER:-}" "$ui" "$rows" <<'INNER'
top=$1; exe=$2; prog=$3; tree=$4; runs=$5; other=$6; ui=$7; rows=$8
run() { "$top/tools/wine-run" "$@" 2>/dev/null; }
W=$(run winepath -w "$tree")
if [ ! -f "$tree/.complete" ]; then
  rm -rf "$tree"; mkdir -p "$tree"
  run "$exe" gen "$W" && touch "$tree/.complete"
fi
[ -z "$other" ] || O=$(run winepath -w "$other")
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
out=$(mktemp -d)
for part in tree wide; do
  i=0
  while [ $i -lt "$runs" ]; do
    run "$exe" baseline "$W\\$part" | awk '{print $2}' >> "$out/$part.baseline"
    run "$exe" enumerate "$W\\$part" | awk '{print $2}' >> "$out/$part.enumerate"
    run "$exe" program "$prog" "$W\\$part" | awk '{print $2}' >> "$out/$part.program"
    [ -z "$other" ] || run "$exe" program "$O" "$W\\$part" | awk '{print $2}' >> "$out/$part.other"
    i=$((i+1))
  done
done
for part in tree wide; do
  files=20000; [ $part = wide ] && files=10000
  b=$(median < "$out/$part.baseline"); e=$(median < "$out/$part.enumerate"); p=$(median < "$out/$part.program")
  echo "$part ($files files, median of $runs): baseline ${b}s enumerate ${e}s program ${p}s" \
    "program/baseline $(echo "$p $b" | awk '{printf "%.1f", $1/$2}')" \
    "program $(echo "$files $p" | awk '{printf "%.0f", $1/$2}') files/s," \
    "$(echo "$p $files" | awk '{printf "%.3f", 1000*$1/$2}') ms/file (baseline $(echo "$b $files" | awk '{printf "%.3f", 1000*$1/$2}'))"
  if [ -n "$other" ]; then
    o=$(median < "$out/$part.other")
    echo "$part: other program ${o}s, other/baseline $(echo "$o $b" | awk '{printf "%.1f", $1/$2}')"
  fi
  echo "$part runs: baseline $(tr '\n' ' ' < "$out/$part.baseline")| program $(tr '\n' ' ' < "$out/$part.program")"
done
rm -rf "$out"
echo "window request costs (benchui costs 6000):"
run "$ui" costs 6000
run "$ui" rows "$rows"
run "$ui" barerows "$rows"
echo "fill, empty and refill 30,000 rows (benchui refill 30000):"
run "$ui" refill 30000
INNER
native="$top/build/bench-native/bench/bench_enumerate"
if [ -x "$native" ]; then
  echo "native enumeration per file (Google Benchmark):"
  "$native" --benchmark_min_time=0.3 2>&1 | grep -E '^(BM_|Benchmark|-)'
fi
