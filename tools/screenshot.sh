#!/bin/sh
# Takes the README's screenshot: on a private Xvfb screen, uidrive fills a
# demo folder with files that carry streams, starts the program and scans the
# folder like a user; the settled window is saved to screenshots/main-window.png.
# Needs the 64-bit build (make win64).
top=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$top/screenshots"
demo="$top/build/demo"
rm -rf "$demo"
mkdir -p "$demo"
sh "$top/tools/with-display" sh -c '
  top=$1
  win=$("$top/tools/wine-run" winepath -w "$2" 2>/dev/null)
  "$top/tools/wine-run" "$top/build/win64/tests/program/uidrive.exe" "$top/build/win64/app/vestrel.exe" "$win" || exit 1
  sleep 1
  import -window root "$3.full.png" && convert "$3.full.png" -trim +repage "$3" && rm -f "$3.full.png"
' sh "$top" "$demo" "$top/screenshots/main-window.png" && echo "saved screenshots/main-window.png"
