#!/bin/sh
# make run: starts the program under Wine on the caller's display. Without a
# display it runs the program on a private Xvfb screen, saves a screenshot of
# the settled window to screenshots/run.png, and ends it.
top=$(cd "$(dirname "$0")/.." && pwd)
exe=${1:-$top/dist/win64/vestrel.exe}
if [ -n "$DISPLAY" ]; then
  "$top/tools/wine-run" --prepare
  exec "$top/tools/wine-run" "$exe"
fi
mkdir -p "$top/screenshots"
out="$top/screenshots/run.png"
sh "$top/tools/with-display" sh -c '
  "$1/tools/wine-run" "$2" >/dev/null 2>&1 &
  sleep 6
  import -window root "$3.full.png" && convert "$3.full.png" -trim +repage "$3" && rm -f "$3.full.png"
' sh "$top" "$exe" "$out"
echo "make run: no display here; the program ran on a private screen. Screenshot: $out"
