#!/bin/sh
# Builds the release a second time in fresh build trees of other names
# (build/repro-*) and compares it with the first build (build/win32,
# build/win64, build/release-native, as make dist leaves them): every stripped
# program, both zips and the package must be the same bytes, so no build path
# and no time of building reaches them. Both are packaged here, at the same
# commit time. Prints both hash lists; exits 1 on any difference. Only the
# shipped targets are built the second time.
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top" || exit 1
jobs=${JOBS:-2}
version=$(sed -n 's/^project(Vestrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=vestrel-ntfs_${version}_$(dpkg --print-architecture).deb
work=build/repro
# A compiler cache keyed without the build directory would hand the second
# build the first one's objects and hide a leaked path; key it with it.
export CCACHE_HASHDIR=true

# A fresh tree $2 configured as tree $1 was: the cache entries that shape the
# programs (type, toolchain, flags, options), through an initial cache.
configure_like() {
  [ -f "$1/CMakeCache.txt" ] || { echo "$1 is not configured (make dist first)"; return 1; }
  rm -rf "$2" && mkdir -p "$2" || return 1
  names='CMAKE_BUILD_TYPE|CMAKE_TOOLCHAIN_FILE|CMAKE_(C|CXX)_FLAGS|CMAKE_EXE_LINKER_FLAGS'
  names="$names|CMAKE_(C|CXX)_COMPILER_LAUNCHER|VESTREL_[A-Z0-9_]+"
  sed -n -E "s/^($names):([A-Z]+)=(.*)\$/set(\\1 \"\\5\" CACHE \\4 \"\")/p" "$1/CMakeCache.txt" |
    sed 's/CACHE UNINITIALIZED/CACHE STRING/' > "$work/${2##*/}.init.cmake"
  cmake -S . -B "$2" -C "$work/${2##*/}.init.cmake" -Wno-dev > "$work/${2##*/}.configure.log" 2>&1 ||
    { cat "$work/${2##*/}.configure.log"; return 1; }
}

# The targets behind the programs make dist staged (vestrel.exe: vestrel).
targets() { for f in "$1"/*.exe; do basename "$f" .exe; done; }

status=0
rm -rf "$work" && mkdir -p "$work" || exit 1
# package NAME ARCH-TREE... : both builds packaged into $work/NAME.
package() {
  python3 tools/release.py windows win32 "$2" "$work/$1/release/win32" "$work/$1/dist/vestrel-$version-win32.zip" &&
    python3 tools/release.py windows win64 "$3" "$work/$1/release/win64" "$work/$1/dist/vestrel-$version-win64.zip" &&
    python3 tools/release.py deb "$4" "$work/$1/release/deb" "$work/$1/dist/$deb"
}
mkdir -p "$work/first/dist" "$work/second/dist"
package first build/win32 build/win64 build/release-native || { echo "FAILED: packaging the first build"; status=1; }
for tree in win32 win64 release-native; do
  echo "-- second build: build/repro-$tree like build/$tree"
  case $tree in release-native) targets=vestrel-ntfs ;; *) targets=$(targets "$work/first/release/$tree") ;; esac
  configure_like "build/$tree" "build/repro-$tree" &&
    cmake --build "build/repro-$tree" -j"$jobs" --target $targets > "$work/$tree.log" 2>&1 ||
    { tail -30 "$work/$tree.log" 2>/dev/null; echo "FAILED: the second build of $tree"; status=1; }
done
package second build/repro-win32 build/repro-win64 build/repro-release-native ||
  { echo "FAILED: packaging the second build"; status=1; }
echo "SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null)}"

# One line per file: its hash and its name below the staging or dist folder.
hashes() {
  for f in "$1"/win32/*.exe "$1"/win64/*.exe "$1"/deb/usr/bin/vestrel-ntfs \
           "$2/vestrel-$version-win32.zip" "$2/vestrel-$version-win64.zip" "$2/$deb"; do
    name=${f#"$1"/}
    name=${name#"$2"/}
    if [ -f "$f" ]; then echo "$(sha256sum < "$f" | cut -c1-64)  $name"; else echo "(missing)  $name"; fi
  done
}
hashes "$work/first/release" "$work/first/dist" > "$work/first.sha256"
hashes "$work/second/release" "$work/second/dist" > "$work/second.sha256"
echo "-- first build (build/win32, build/win64, build/release-native):"
cat "$work/first.sha256"
echo "-- second build (build/repro-win32, build/repro-win64, build/repro-release-native):"
cat "$work/second.sha256"
if grep -q '(missing)' "$work/first.sha256" "$work/second.sha256"; then
  echo "FAILED: files are missing"
  status=1
elif ! cmp -s "$work/first.sha256" "$work/second.sha256"; then
  echo "FAILED: the builds differ:"
  diff "$work/first.sha256" "$work/second.sha256" | grep '^[<>]'
  status=1
fi
[ $status -eq 0 ] && echo "reproducible: both builds are byte for byte the same"
exit $status
