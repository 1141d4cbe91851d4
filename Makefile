# Vestrel: build, run and test. Every target installs what it is missing first.
#   make run    build, then start the 64-bit program under Wine
#   make test   build all configurations and run every test
#   make fuzz   run the fuzz targets for longer (FUZZ_SECONDS, default 600)
#   make bench  measure the scan against a baseline under Wine (bench/run.sh),
#               and vestrel-ntfs against fls on an NTFS image (bench/ntfs.sh)
#   make screenshots  regenerate the user guide's pictures and command outputs
JOBS ?= 2
FUZZ_SECONDS ?= 600
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=RelWithDebInfo -Wno-dev

.PHONY: all deps build native win64 win32 fuzzbuild test run fuzz bench screenshots clean

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

test: native win64 win32 fuzzbuild
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

clean:
	rm -rf build dist
