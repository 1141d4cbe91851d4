#!/bin/sh
# The inner half of tools/screenshot.sh, run on its private display with the
# guide's Wine prefix: writes the demonstration documents, captures the
# command outputs into WORK/out/NAME.txt and the pictures into WORK/images.
# Stops with status 1 at the first thing that did not come out as expected.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
work=$1
out=$work/out
images=$work/images
run="$top/tools/wine-run"
prefix=$VESTREL_WINEPREFIX
home="$prefix/drive_c/users/demo"
bin="$prefix/drive_c/Program Files/Vestrel"
docs='C:\users\demo\Documents'
drivework='C:\users\demo\AppData\Local\Temp\vestrel-guide'

fail() {
  echo "guide-capture: $*" >&2
  exit 1
}

# capture NAME EXPECTED-STATUS DIR SHOWN COMMAND...: runs COMMAND in DIR and
# writes SHOWN (the command as the guide shows it) and what it printed on
# standard output and error to out/NAME.txt.
capture() {
  name=$1 expected=$2 dir=$3 shown=$4
  shift 4
  (cd "$dir" && "$@") >"$work/raw" 2>&1
  rc=$?
  {
    printf '%s\n' "$shown"
    tr -d '\r' <"$work/raw"
    [ $rc -eq 0 ] || echo "(exit status $rc)"
  } >"$out/$name.txt"
  [ $rc -eq "$expected" ] || { cat "$out/$name.txt" >&2; fail "$name: exit status $rc, expected $expected"; }
  [ -s "$work/raw" ] || fail "$name: printed nothing"
}

# Wine draws title bars and frames itself on a virtual desktop as large as
# the screen; programs started from now on open on it.
"$run" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 &&
  "$run" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1 ||
  fail "cannot set up the virtual desktop"

# Wine draws the title bar's buttons with its Marlett font, which Debian ships
# in fonts-wine; without it they come out as letters. Only this prefix gets
# the one font (the test prefix keeps the fonts its pictures were made with).
fonts="$prefix/drive_c/windows/Fonts"
if [ ! -f "$fonts/marlett.ttf" ]; then
  marlett=/usr/share/wine/fonts/marlett.ttf
  if [ ! -f "$marlett" ]; then
    mkdir -p "$work/fonts-wine" &&
      (cd "$work/fonts-wine" && apt-get download fonts-wine >/dev/null 2>&1 && dpkg -x fonts-wine_*.deb .) ||
      fail "cannot fetch the Marlett font (Debian package fonts-wine)"
    marlett="$work/fonts-wine/usr/share/wine/fonts/marlett.ttf"
  fi
  mkdir -p "$fonts" && cp "$marlett" "$fonts/" || fail "cannot install the Marlett font"
fi

# The programs as installed on the demonstration machine.
rm -rf "$bin" "$home/streams" "$home/AppData/Local/Temp/vestrel-guide"
mkdir -p "$bin" "$home/AppData/Local/Temp/vestrel-guide" || fail "cannot create $bin"
for f in vestrel.exe korvaneupdate.exe vestrel-cli.exe; do
  cp "$top/dist/win64/$f" "$bin/" || fail "dist/win64/$f is missing (make win64)"
done
# A Windows directory as full as a real one, so that a scan of it can be
# pictured while it runs and then stopped.
cache="$prefix/drive_c/windows/SoftwareDistribution/Download"
if [ ! -f "$cache/update20000.cab" ]; then
  mkdir -p "$cache" && (cd "$cache" && seq -f 'update%05g.cab' 1 20000 | xargs touch) || fail "cannot fill $cache"
fi
uidrive="$top/build/win64/tests/program/uidrive.exe"
[ -f "$uidrive" ] || fail "$uidrive is missing (make win64)"
"$run" "$uidrive" tree "$docs" || fail "cannot write the demonstration documents"

# vestrel-cli, in C:\users\demo.
cli() { "$run" "$bin/vestrel-cli.exe" "$@"; }
p='C:\users\demo>'
capture cli-help 0 "$home" "$p vestrel-cli --help" cli --help
capture cli-list-help 0 "$home" "$p vestrel-cli list --help" cli list --help
capture cli-usage 2 "$home" "$p vestrel-cli cat -r Documents\\notes.txt:author" cli cat -r 'Documents\notes.txt:author'
capture cli-list 0 "$home" "$p vestrel-cli list -r --format table Documents" cli list -r --format table Documents
capture cli-list-all 0 "$home" "$p vestrel-cli list --all --format table Documents\\report.docx" \
  cli list --all --format table 'Documents\report.docx'
capture cli-csv 0 "$home" "$p vestrel-cli list -r Documents > streams.csv  (redirected: csv)" \
  cli list -r Documents
capture cli-json 0 "$home" "$p vestrel-cli list --format json Documents\\notes.txt" \
  cli list --format json 'Documents\notes.txt'
capture cli-cat 0 "$home" "$p vestrel-cli cat Documents\\notes.txt:author" cli cat 'Documents\notes.txt:author'
capture cli-extract 0 "$home" "$p vestrel-cli extract -r Documents --to streams" \
  cli extract -r Documents --to streams
capture cli-fail-if-found 3 "$home" "$p vestrel-cli list -r --quiet --fail-if-found Documents\\photos" \
  cli list -r --quiet --fail-if-found 'Documents\photos'
capture cli-delete-dry 0 "$home" "$p vestrel-cli delete --dry-run Documents\\invoice.pdf:payload.exe" \
  cli delete --dry-run 'Documents\invoice.pdf:payload.exe'
capture cli-delete-refused 2 "$home" "$p vestrel-cli delete Documents\\invoice.pdf" cli delete 'Documents\invoice.pdf'

# vestrel-ntfs on an image of the same documents.
linux="$work/linux"
mkdir -p "$linux"
"$top/build/native/tests/ntfs/ntfs_fixture" demo "$linux/demo.img" || fail "cannot write the NTFS image"
ntfs() { PATH="$top/dist/linux:$PATH" vestrel-ntfs "$@"; }
capture ntfs-help 0 "$linux" '$ vestrel-ntfs --help' ntfs --help
capture ntfs-cat-help 0 "$linux" '$ vestrel-ntfs cat --help' ntfs cat --help
capture ntfs-usage 2 "$linux" "\$ vestrel-ntfs cat --recursive demo.img '\\Users\\demo\\Documents\\notes.txt:author'" \
  ntfs cat --recursive demo.img '\Users\demo\Documents\notes.txt:author'
capture ntfs-list 0 "$linux" '$ vestrel-ntfs list -r --format table demo.img' ntfs list -r --format table demo.img
capture ntfs-csv 0 "$linux" "\$ vestrel-ntfs list --format csv demo.img '\\Users\\demo\\Documents\\photos'" \
  ntfs list --format csv demo.img '\Users\demo\Documents\photos'
# The review stream holds code page 936 text, as Chinese Windows writes it.
review() { ntfs cat demo.img '\Users\demo\Documents\report.docx:review' | iconv -f GBK -t UTF-8; }
capture ntfs-cat 0 "$linux" "\$ vestrel-ntfs cat demo.img '\\Users\\demo\\Documents\\report.docx:review' | iconv -f GBK" review
capture ntfs-extract 0 "$linux" "\$ vestrel-ntfs extract -r demo.img '\\Users\\demo\\Documents' --to streams" \
  ntfs extract -r demo.img '\Users\demo\Documents' --to streams
# The same image as investigators receive it: an E01 evidence file; and a
# volume Windows wrote with two shadow copies (the tests' image).
ewfacquire -u -q -t "$linux/demo" -c deflate:fast "$linux/demo.img" >/dev/null 2>&1 || fail "cannot write demo.E01"
capture ntfs-e01-info 0 "$linux" '$ vestrel-ntfs info --format table demo.E01' ntfs info --format table demo.E01
capture ntfs-e01-list 0 "$linux" '$ vestrel-ntfs list -r --format table demo.E01' ntfs list -r --format table demo.E01
vss="$top/../shared/testdata/vss/vsstest.raw.xz"
[ -f "$vss" ] || fail "$vss is missing"
xz -dc "$vss" | cp --sparse=always /dev/stdin "$linux/vsstest.raw" || fail "cannot unpack $vss"
capture ntfs-shadows 0 "$linux" "\$ vestrel-ntfs list -r --all --shadows --format table vsstest.raw '\\\$Extend'" \
  ntfs list -r --all --shadows --format table vsstest.raw '\$Extend'
# The triage case: a download, an executable behind a usual name, a timeline.
"$top/build/native/tests/ntfs/ntfs_fixture" triage "$linux/triage.img" || fail "cannot write the triage image"
capture ntfs-triage 0 "$linux" '$ vestrel-ntfs list -r --format table triage.img' ntfs list -r --format table triage.img
capture ntfs-zones 0 "$linux" '$ vestrel-ntfs list -r --zones --format table triage.img' \
  ntfs list -r --zones --format table triage.img
capture ntfs-hash 0 "$linux" '$ vestrel-ntfs list -r --kind pe,script --hash sha256 --format csv triage.img' \
  ntfs list -r --kind pe,script --hash sha256 --format csv triage.img
timeline() { ntfs list -r --format body --hash md5 triage.img >body.txt && mactime -b body.txt -z UTC -d -y; }
capture ntfs-timeline 0 "$linux" '$ vestrel-ntfs list -r --format body --hash md5 triage.img > body.txt; mactime -b body.txt -z UTC -d -y' \
  timeline

# The dialog: uidrive reports each state reached on its standard output and
# waits for a line on its standard input; the picture is taken in between.
# Window rectangles are in desktop coordinates; the virtual desktop's window
# sits at (dx, dy) on the screen.
geometry=$(xwininfo -root -tree | awk '/[0-9]+x[0-9]+\+[0-9]+\+[0-9]+/ && /1280x1024/ { print $NF; exit }')
dx=$(echo "${geometry:-+0+0}" | cut -d+ -f2)
dy=$(echo "${geometry:-+0+0}" | cut -d+ -f3)

take() { # NAME X Y W H [FILE]
  import -window root -crop "${4}x${5}+$(($2 + dx))+$(($3 + dy))" +repage -define png:compression-level=9 \
    "${6:-$images/$1.png}" || fail "cannot take the picture $1"
}
# The share of clearly red pixels in a rectangle of a picture.
red() { # FILE X Y W H
  convert "$1" -crop "${4}x${5}+$(($2 + dx))+$(($3 + dy))" +repage -fuzz 25% \
    -fill black +opaque red -fill white -opaque red -colorspace gray -format '%[fx:mean]' info:
}

rm -f "$work/in" "$work/from"
mkfifo "$work/in" "$work/from" || fail "cannot create the driver's pipes"
"$run" "$uidrive" guide --step "$bin/vestrel.exe" "$docs" "$drivework" <"$work/in" >"$work/from" 2>"$work/uidrive.err" &
driver=$!
exec 3>"$work/in" 4<"$work/from"
while read -r kind name x y w h bx by bw bh <&4; do
  case $kind in
  shot)
    take "$name" "$x" "$y" "$w" "$h"
    ;;
  flash)
    # The About button shows the update picture half of the time: take
    # pictures until one holds it.
    found=
    for i in $(seq 1 40); do
      import -window root "$work/flash.png" || fail "cannot take the picture $name"
      share=$(red "$work/flash.png" "$bx" "$by" "$bw" "$bh")
      if awk -v s="$share" 'BEGIN { exit !(s > 0.02) }'; then found=1; break; fi
      sleep 0.1
    done
    [ -n "$found" ] || fail "$name: the About button never showed the update picture"
    convert "$work/flash.png" -crop "${w}x${h}+$((x + dx))+$((y + dy))" +repage "$images/$name.png"
    # The button row enlarged, so the picture on the button can be read.
    convert "$work/flash.png" -crop "$((bw + 160))x$((bh + 24))+$((bx - 150 + dx))+$((by - 12 + dy))" +repage \
      -scale 200% "$images/update-button.png"
    ;;
  done) ;;
  *) fail "unexpected line from uidrive: $kind $name" ;;
  esac
  echo ok >&3
done
exec 3>&- 4<&-
wait $driver || { cat "$work/uidrive.err" >&2; fail "uidrive could not reach every state"; }

# The scan log the dialog saved (UTF-16 without byte-order mark).
iconv -f UTF-16LE -t UTF-8 "$home/AppData/Local/Temp/vestrel-guide/scan-log.txt" | tr -d '\r' >"$out/scan-log.txt" &&
  [ -s "$out/scan-log.txt" ] || fail "the saved scan log is missing"
