#!/bin/sh
# Runs every test suite, each to its end, and fails if any of them failed:
# native unit tests, the Windows tests under Wine (private display), the fuzz
# targets for a few seconds each, the release packages (make dist) and a
# second build of the release that must give the same bytes.
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top" || exit 1
status=0
echo "== native tests"
ctest --test-dir build/native -j2 --output-on-failure || status=1
echo "== Windows tests (64-bit, under Wine)"
sh tools/with-display ctest --test-dir build/win64 --output-on-failure || status=1
echo "== fuzz targets"
ctest --test-dir build/fuzz --output-on-failure || status=1
echo "== release packages"
sh tools/check-packages.sh || status=1
echo "== reproducible release"
sh tools/check-reproducible.sh || status=1
[ $status -eq 0 ] && echo "all test suites passed" || echo "some test suites FAILED"
exit $status
