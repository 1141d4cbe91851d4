#!/bin/sh
# make screenshots: regenerates the user guide's pictures (docs/images/*.png)
# and the command outputs it quotes (the blocks of docs/user-guide.md between
# "<!-- output NAME -->" and "<!-- end output -->"), all from the real programs:
#   - vestrel.exe (64-bit) under Wine, in a prefix of its own whose virtual
#     desktop draws title bars, on a private Xvfb screen; tests/program/uidrive
#     writes C:\users\demo\Documents and puts the program into each state, and
#     this script takes each picture when the driver says the state is reached;
#   - vestrel-cli.exe under Wine on the same documents;
#   - vestrel-ntfs on an NTFS image of the same documents (ntfs_fixture demo).
# Ends with status 1, naming what failed, when a state or a command did not
# come out as expected; the guide is only rewritten when everything worked.
# Needs the win64 and native builds (make screenshots builds them first).
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
export VESTREL_WINEPREFIX="${VESTREL_GUIDE_WINEPREFIX:-$top/build/wineprefix-guide}"
work="$top/build/guide"
rm -rf "$work"
mkdir -p "$work/out" "$work/images" "$top/docs/images"

sh "$top/tools/with-display" sh "$top/tools/guide-capture.sh" "$work" || {
  echo "screenshot.sh: FAILED; docs/ left as it was" >&2
  exit 1
}
cp "$work"/images/*.png "$top/docs/images/"
# Each output block of the guide is replaced by the file of that name.
awk -v dir="$work/out" '
  /^<!-- output [a-z0-9-]+ -->$/ {
    print; name = $3; file = dir "/" name ".txt"
    if ((getline line < file) <= 0) { print "screenshot.sh: no output " name > "/dev/stderr"; exit 1 }
    print "```text"; print line
    while ((getline line < file) > 0) print line
    print "```"; skip = 1; next
  }
  /^<!-- end output -->$/ { skip = 0 }
  !skip { print }
' "$top/docs/user-guide.md" > "$work/user-guide.md" || exit 1
mv "$work/user-guide.md" "$top/docs/user-guide.md"
echo "screenshot.sh: $(ls "$work"/images | wc -l) pictures in docs/images, outputs in docs/user-guide.md"
