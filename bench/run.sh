#!/bin/sh
# make bench: generates the benchmark tree once (build/bench-tree), then
# measures on the same Wine prefix, RUNS times each (default 3), the three
# kinds interleaved so that a change in the machine's load hits all alike:
#   baseline   the walk and one open/close per file (the unavoidable work)
#   enumerate  the walk with the stream enumeration of every file
#   program    the real program's scan, from the Scan click to the completion
# for the narrow tree (20,000 files in 1,000 directories) and the wide folder
# (10,000 files in one directory), and prints medians, ratios, files per
# second and the cost per file. Beside them, interleaved in the same loop:
#   cli        vestrel-cli list -r --format csv (process start to end), against
#              the baseline (goal: at most 1.2 times)
# and the program against its floor: the baseline plus, per listing entry, the
# status request and, per row, the row insert, both as benchui costs measures
# them in every round (medians; goal: at most 1.15 times).
# OTHER=<path of another vestrel.exe> measures
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
cli="$top/build/win64/cli/vestrel-cli.exe"
tree="$top/build/bench-tree"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "wine: $(wine --version 2>/dev/null)"
sh "$top/tools/with-display" sh -s "$top" "$exe" "$prog" "$tree" "$runs" "${OTHER:-}" "$ui" "$rows" "$cli" <<'INNER'
top=$1; exe=$2; prog=$3; tree=$4; runs=$5; other=$6; ui=$7; rows=$8; cli=$9
run() { "$top/tools/wine-run" "$@" 2>/dev/null; }
W=$(run winepath -w "$tree")
if [ ! -f "$tree/.complete" ]; then
  rm -rf "$tree"; mkdir -p "$tree"
  run "$exe" gen "$W" && touch "$tree/.complete"
fi
[ -z "$other" ] || O=$(run winepath -w "$other")
C=$(run winepath -w "$cli")
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
out=$(mktemp -d)
for part in tree wide; do
  i=0
  while [ $i -lt "$runs" ]; do
    run "$exe" baseline "$W\\$part" > "$out/last"
    awk '{print $2}' "$out/last" >> "$out/$part.baseline"
    awk '{print $6}' "$out/last" > "$out/$part.entries"
    run "$exe" cli "$C" "$W\\$part" | awk '{print $2}' >> "$out/$part.cli"
    run "$exe" enumerate "$W\\$part" | awk '{print $2}' >> "$out/$part.enumerate"
    run "$exe" program "$prog" "$W\\$part" > "$out/last"
    awk '{print $2}' "$out/last" >> "$out/$part.program"
    awk '{print $5}' "$out/last" > "$out/$part.rows"
    [ -z "$other" ] || run "$exe" program "$O" "$W\\$part" | awk '{print $2}' >> "$out/$part.other"
    # The window's request costs move by a fifth from one run to the next:
    # measured in every round, and their medians make the floor.
    run "$ui" costs > "$out/last"
    awk '/^status entry/ {print $3}' "$out/last" >> "$out/status"
    awk '/^row \(0-/ {print $3}' "$out/last" >> "$out/row"
    i=$((i+1))
  done
done
status_us=$(median < "$out/status")
row_us=$(median < "$out/row")
echo "request costs, median of $(wc -l < "$out/status") rounds: status entry ${status_us} us (runs $(tr '\n' ' ' < "$out/status")), row ${row_us} us (runs $(tr '\n' ' ' < "$out/row"))"
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
  c=$(median < "$out/$part.cli"); entries=$(cat "$out/$part.entries"); streams=$(cat "$out/$part.rows")
  floor=$(echo "$b $entries $status_us $streams $row_us" | awk '{printf "%.3f", $1 + ($2*$3 + $4*$5)/1e6}')
  echo "$part cli: ${c}s, cli/baseline $(echo "$c $b" | awk '{printf "%.2f", $1/$2}') (goal 1.2)"
  echo "$part program floor: baseline + $entries entries x ${status_us} us + $streams rows x ${row_us} us = ${floor}s," \
    "program/floor $(echo "$p $floor" | awk '{printf "%.2f", $1/$2}') (goal 1.15)"
  echo "$part runs: baseline $(tr '\n' ' ' < "$out/$part.baseline")| program $(tr '\n' ' ' < "$out/$part.program")| cli $(tr '\n' ' ' < "$out/$part.cli")"
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
