#!/bin/sh
# Builds the release a second time in fresh build trees of other names
# (build/repro-*) and compares it with the one make dist made: every stripped
# program, both zips and the package must be the same bytes, so no build path
# and no time of building reaches them. Prints both hash lists; exits 1 on
# any difference. Only the shipped targets are built the second time.
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top" || exit 1
jobs=${JOBS:-2}
version=$(sed -n 's/^project(Vestrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=vestrel-ntfs_${version}_$(dpkg --print-architecture).deb
second=build/repro

# A fresh tree $2 configured as tree $1 was: the cache entries that shape the
# programs (type, toolchain, flags, options), through an initial cache.
configure_like() {
  [ -f "$1/CMakeCache.txt" ] || { echo "$1 is not configured (make dist first)"; return 1; }
  rm -rf "$2" && mkdir -p "$2" || return 1
  sed -n -E 's/^(CMAKE_BUILD_TYPE|CMAKE_TOOLCHAIN_FILE|CMAKE_(C|CXX)_FLAGS|CMAKE_EXE_LINKER_FLAGS|CMAKE_(C|CXX)_COMPILER_LAUNCHER|VESTREL_[A-Z0-9_]+):([A-Z]+)=(.*)$/set(\1 "\5" CACHE \4 "")/p' \
    "$1/CMakeCache.txt" | sed 's/CACHE UNINITIALIZED/CACHE STRING/' > "$2.init.cmake"
  cmake -S . -B "$2" -C "$2.init.cmake" -Wno-dev > "$2.configure.log" 2>&1 ||
    { cat "$2.configure.log"; return 1; }
}

# The targets behind the programs make dist staged (vestrel.exe: vestrel).
targets() { for f in "$1"/*.exe; do basename "$f" .exe; done; }

status=0
rm -rf "$second" && mkdir -p "$second/dist" || exit 1
for arch in win32 win64; do
  echo "-- second build: $arch (build/repro-$arch)"
  configure_like "build/$arch" "build/repro-$arch" &&
    cmake --build "build/repro-$arch" -j"$jobs" --target $(targets "build/release/$arch") > "$second/$arch.log" 2>&1 &&
    python3 tools/release.py windows "$arch" "build/repro-$arch" "$second/release/$arch" \
      "$second/dist/vestrel-$version-$arch.zip" ||
    { tail -30 "$second/$arch.log" 2>/dev/null; echo "FAILED: the second $arch build"; status=1; }
done
echo "-- second build: vestrel-ntfs (build/repro-native)"
configure_like build/release-native build/repro-native &&
  cmake --build build/repro-native -j"$jobs" --target vestrel-ntfs > "$second/native.log" 2>&1 &&
  python3 tools/release.py deb build/repro-native "$second/release/deb" "$second/dist/$deb" ||
  { tail -30 "$second/native.log" 2>/dev/null; echo "FAILED: the second vestrel-ntfs build"; status=1; }

# One line per file: its hash and its name below the staging or dist folder.
hashes() {
  for f in "$1"/win32/*.exe "$1"/win64/*.exe "$1"/deb/usr/bin/vestrel-ntfs \
           "$2/vestrel-$version-win32.zip" "$2/vestrel-$version-win64.zip" "$2/$deb"; do
    name=${f#"$1"/}
    name=${name#"$2"/}
    if [ -f "$f" ]; then echo "$(sha256sum < "$f" | cut -c1-64)  $name"; else echo "(missing)  $name"; fi
  done
}
hashes build/release dist > "$second/first.sha256"
hashes "$second/release" "$second/dist" > "$second/second.sha256"
echo "-- first build (build/win32, build/win64, build/release-native):"
cat "$second/first.sha256"
echo "-- second build (build/repro-win32, build/repro-win64, build/repro-native):"
cat "$second/second.sha256"
if grep -q '(missing)' "$second/first.sha256" "$second/second.sha256"; then
  echo "FAILED: files are missing"
  status=1
elif ! cmp -s "$second/first.sha256" "$second/second.sha256"; then
  echo "FAILED: the builds differ:"
  diff "$second/first.sha256" "$second/second.sha256" | grep '^[<>]'
  status=1
fi
[ $status -eq 0 ] && echo "reproducible: both builds are byte for byte the same"
exit $status
