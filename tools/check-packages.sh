#!/bin/sh
# The release as a user gets it (make dist first): what each zip holds, the
# programs in it, the package unpacked into a throw-away root and run from
# there on a fixture image, its manual page rendered, lintian's verdict and
# the published hashes. Says what failed and exits 1; 0 when all holds.
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top" || exit 1
version=$(sed -n 's/^project(Vestrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=dist/vestrel-ntfs_${version}_$(dpkg --print-architecture).deb
failed=0
fail() { echo "FAILED: $*"; failed=1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Text files for Windows: every line ends in CRLF.
all_crlf() { python3 -c 'import sys; d=open(sys.argv[1],"rb").read(); sys.exit(not d or d.count(b"\n") != d.count(b"\r\n"))' "$1"; }

for arch in win32 win64; do
  zip=dist/vestrel-$version-$arch.zip
  echo "-- $zip"
  [ -f "$zip" ] || { fail "$zip is missing"; continue; }
  names=$(unzip -Z1 "$zip" | tr '\n' ' ')
  [ "$names" = "LICENSE.txt README.txt korvaneupdate.exe korvaneupdate.ini vestrel-cli.exe vestrel.exe " ] ||
    fail "$zip holds: $names"
  out=$tmp/$arch
  mkdir -p "$out" && unzip -q "$zip" -d "$out" || { fail "cannot unpack $zip"; continue; }
  for f in README.txt LICENSE.txt korvaneupdate.ini; do
    all_crlf "$out/$f" || fail "$arch/$f: not CRLF throughout"
  done
  # The shipped update manifest is the tested one, only with CRLF.
  sed 's/$/\r/' updater/korvaneupdate.ini | cmp -s - "$out/korvaneupdate.ini" ||
    fail "$arch/korvaneupdate.ini differs from updater/korvaneupdate.ini"
  # The README quotes every help text vestrel-cli prints, line by line
  # (build/ARCH/cli/usage.txt, written from the program's option table).
  tr -d '\r' < "$out/README.txt" > "$tmp/readme"
  [ -s "build/$arch/cli/usage.txt" ] || fail "build/$arch/cli/usage.txt is missing"
  while IFS= read -r line; do
    [ -z "$line" ] || grep -qxF "    $line" "$tmp/readme" || fail "$arch/README.txt lacks the usage line: $line"
  done < "build/$arch/cli/usage.txt"
  grep -q "Vestrel $version for Windows ($arch)" "$tmp/readme" || fail "$arch/README.txt: no title line"
  grep -q 'Copyright (c) 2026 Korvane' "$out/LICENSE.txt" || fail "$arch/LICENSE.txt: no copyright line"
  case $arch in win32) format=pei-i386 ;; *) format=pei-x86-64 ;; esac
  for exe in vestrel.exe korvaneupdate.exe vestrel-cli.exe; do
    dump=$(objdump -p -h "$out/$exe" 2>&1)
    echo "$dump" | grep -q "file format $format" || fail "$arch/$exe is not $format"
    echo "$dump" | grep -q '^Time/Date.*1970' || fail "$arch/$exe: link time stamp $(echo "$dump" | grep '^Time/Date')"
    ! echo "$dump" | grep -q ' \.debug_' || fail "$arch/$exe carries debug sections"
    ! grep -q -a -F "$top" "$out/$exe" || fail "$arch/$exe names the build directory $top"
  done
  echo "   $names"
done

echo "-- $deb"
if [ ! -f "$deb" ]; then
  fail "$deb is missing"
else
  dpkg-deb -f "$deb" Package Version Architecture Depends
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in libc6 libstdc++6 libgcc-s1; do
    echo ", $depends" | grep -qF ", $lib (>= " || fail "Depends lacks a versioned $lib: $depends"
  done
  # Any libntfs-3g89 serves, as that library's shlibs file says.
  echo ", $depends," | grep -Eq ", libntfs-3g89[ ,]" || fail "Depends lacks libntfs-3g89: $depends"
  ! echo "$depends" | grep -Eq 'libasan|libubsan' || fail "the package holds the sanitizer build: $depends"
  root=$tmp/root
  dpkg -x "$deb" "$root" || fail "dpkg -x $deb"
  exe=$root/usr/bin/vestrel-ntfs
  got=$("$exe" --version 2>&1)
  echo "   vestrel-ntfs --version: $got"
  [ "$got" = "vestrel-ntfs $version" ] || fail "--version says '$got'"
  file "$exe" | grep -q ', stripped' || fail "usr/bin/vestrel-ntfs is not stripped: $(file "$exe")"
  ! grep -q -a -F "$top" "$exe" || fail "usr/bin/vestrel-ntfs names the build directory $top"
  # A fixture image from the tests' writer, read by the unpacked program.
  fixture=build/native/tests/ntfs/ntfs_fixture
  if [ ! -x "$fixture" ]; then
    fail "$fixture is missing (make native builds it)"
  elif "$fixture" standard "$tmp/fixture.raw"; then
    "$exe" list -r --format csv --quiet "$tmp/fixture.raw" > "$tmp/rows.csv" 2> "$tmp/list.err"
    status=$?
    [ $status -eq 0 ] || fail "list -r exits $status: $(cat "$tmp/list.err")"
    for row in 'path,stream,size,directory' '\sizes.txt,s101,101,false' '\dir,dirstream,10,true' \
               '\sparse.bin,big,4294967301,false' '\dir\linkb.txt,linked,7,false'; do
      # The first four columns; the facts after them vary with the image's times.
      tr -d '\r' < "$tmp/rows.csv" | cut -d, -f1-4 | grep -qxF "$row" || fail "list -r has no row $row"
    done
    echo "   list -r on the fixture image: $(($(wc -l < "$tmp/rows.csv") - 1)) rows"
  else
    fail "$fixture could not write a fixture image"
  fi
  # The manual page: found where man looks, renders without a warning.
  page=$root/usr/share/man/man1/vestrel-ntfs.1.gz
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 > "$tmp/rendered")
  tr -s ' ' < "$tmp/rendered" > "$tmp/page.txt"  # not justified
  [ -z "$warnings" ] || fail "man page warnings: $warnings"
  for text in 'vestrel-ntfs - list, print and extract' 'EXIT STATUS' '--index-format csv|json' '\Users\a'; do
    grep -qF -- "$text" "$tmp/page.txt" || fail "the rendered man page lacks: $text"
  done
  echo "   man page: $(wc -l < "$tmp/page.txt") lines rendered"
  for f in copyright changelog.gz; do
    [ -f "$root/usr/share/doc/vestrel-ntfs/$f" ] || fail "usr/share/doc/vestrel-ntfs/$f is missing"
  done
  echo "   lintian:"
  lintian --fail-on error,warning "$deb" > "$tmp/lintian" 2>&1 || fail "lintian reports problems"
  sed 's/^/     /' "$tmp/lintian"
fi

echo "-- dist/SHA256SUMS"
(cd dist && sha256sum --strict -c SHA256SUMS) || fail "dist/SHA256SUMS does not match"
[ "$(wc -l < dist/SHA256SUMS)" -eq 3 ] || fail "dist/SHA256SUMS should list the two zips and the package"
[ $failed -eq 0 ] && echo "release packages: all checks passed"
exit $failed
