# Vestrel: build, run and test. Every target installs what it is missing first.
#   make run    build, then start the 64-bit program under Wine
#   make test   build all configurations and run every test
#   make fuzz   run the fuzz targets for longer (FUZZ_SECONDS, default 600)
#   make bench  measure the scan against a baseline under Wine (bench/run.sh),
#               and vestrel-ntfs against fls on an NTFS image (bench/ntfs.sh)
#   make screenshots  regenerate the user guide's pictures and command outputs
#   make dist   the release zips (win32, win64), the vestrel-ntfs package and
#               dist/SHA256SUMS;  make deb   the package alone
JOBS ?= 2
FUZZ_SECONDS ?= 600
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=RelWithDebInfo -Wno-dev

.PHONY: all deps build native win64 win32 fuzzbuild test run fuzz bench screenshots clean dist deb

all: build

deps:
	@sh tools/install-deps.sh

build/native/CMakeCache.txt: | deps
	cmake -S . -B build/native $(CMAKE_FLAGS) >/dev/null
build/win64/CMakeCache.txt: | deps
	cmake -S . -B build/win64 $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null
build/win32/CMakeCache.txt: | deps
	cmake -S . -B build/win32 $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake >/dev/null
build/fuzz/CMakeCache.txt: | deps
	cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=Debug -Wno-dev -DVESTREL_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null

native: deps build/native/CMakeCache.txt
	cmake --build build/native -j$(JOBS)
	@mkdir -p dist/linux && cp build/native/ntfs/vestrel-ntfs dist/linux/
win64: deps build/win64/CMakeCache.txt
	cmake --build build/win64 -j$(JOBS)
	@mkdir -p dist/win64 && for f in app/vestrel.exe app/korvaneupdate.exe cli/vestrel-cli.exe; do \
	  [ ! -f build/win64/$$f ] || cp build/win64/$$f dist/win64/; done
win32: deps build/win32/CMakeCache.txt
	cmake --build build/win32 -j$(JOBS)
	@mkdir -p dist/win32 && for f in app/vestrel.exe app/korvaneupdate.exe cli/vestrel-cli.exe; do \
	  [ ! -f build/win32/$$f ] || cp build/win32/$$f dist/win32/; done
fuzzbuild: deps build/fuzz/CMakeCache.txt
	cmake --build build/fuzz -j$(JOBS)

build: native win64 win32

test: native win64 win32 fuzzbuild dist
	@sh tools/run-tests.sh

run: win64
	@sh tools/run-program.sh dist/win64/vestrel.exe

fuzz: fuzzbuild
	cmake -S . -B build/fuzz -DVESTREL_FUZZ_SECONDS=$(FUZZ_SECONDS) >/dev/null
	ctest --test-dir build/fuzz --output-on-failure; rc=$$?; \
	  cmake -S . -B build/fuzz -DVESTREL_FUZZ_SECONDS=8 >/dev/null; exit $$rc

bench: win64
	cmake -S . -B build/bench-native -DCMAKE_BUILD_TYPE=Release -DVESTREL_SANITIZE=OFF -Wno-dev >/dev/null
	cmake --build build/bench-native -j$(JOBS) --target bench_enumerate vestrel-ntfs ntfs_fixture
	@sh bench/run.sh
	@sh bench/ntfs.sh

screenshots: native win64
	@sh tools/screenshot.sh

# Release: the Windows programs of build/win32 and build/win64, stripped; the
# Linux program from a tree of its own, without sanitizers and with Debian's
# hardening flags. Same commit, same bytes (tools/check-reproducible.sh).
VERSION := $(shell sed -n 's/^project.Vestrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
SHIPPED := vestrel korvaneupdate vestrel-cli
DEB = dist/vestrel-ntfs_$(VERSION)_$(shell dpkg --print-architecture).deb

build/release-native/CMakeCache.txt: | deps
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	CXXFLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
	cmake -S . -B build/release-native $(CMAKE_FLAGS) -DVESTREL_SANITIZE=OFF >/dev/null

deb: deps build/release-native/CMakeCache.txt
	cmake --build build/release-native -j$(JOBS) --target vestrel-ntfs
	@mkdir -p dist && python3 tools/release.py deb build/release-native build/release/deb $(DEB)

dist: deb build/win32/CMakeCache.txt build/win64/CMakeCache.txt
	@for a in win32 win64; do \
	  cmake --build build/$$a -j$(JOBS) --target $(SHIPPED) && \
	  python3 tools/release.py windows $$a build/$$a build/release/$$a dist/vestrel-$(VERSION)-$$a.zip || exit 1; \
	done
	@echo "dist/SHA256SUMS:"
	@python3 tools/release.py sums dist/vestrel-$(VERSION)-win32.zip dist/vestrel-$(VERSION)-win64.zip $(DEB)

clean:
	rm -rf build dist
