# Front door: every target installs what it needs on Debian, then builds.
MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
DEMO := build-dist/demo
PREFIX ?= /usr/local

.PHONY: all build test demo bench fuzz check-release check-windows-core windows windows-installer test-windows check-threads \
        install uninstall package check-package format clean

all: build

build:
	@scripts/install-deps build
	@cmake --preset dev >/dev/null
	@cmake --build build -j $(JOBS)

test: build
	@scripts/install-deps test
	@ctest --test-dir build --output-on-failure -j $(JOBS)

# Only what the demo runs: the optimised vellora, its office converter and
# movable-memory library, with no tests and no sanitizers.
demo:
	@scripts/install-deps demo
	@cmake --preset dist >/dev/null
	@cmake --build build-dist -j $(JOBS) --target vellora office
	@scripts/demo build-dist/tools/vellora $(DEMO)

bench:
	@scripts/install-deps bench
	@cmake --preset release >/dev/null
	@cmake --build build-release -j $(JOBS) --target vellora_bench vellora office
	@build-release/bench/vellora_bench
	@bench/whole-process build-release/tools/vellora build-release/bench/vellora_bench

# The optimised build as installed: vellora, its office converter and
# movable-memory library (found relative to the binary), the man page, bash
# completion and the README, under $(PREFIX). `make uninstall` removes
# exactly what the last install wrote.
install:
	@scripts/install-deps install
	@cmake --preset dist -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	@cmake --build build-dist -j $(JOBS)
	@cmake --install build-dist

uninstall:
	@cmake --build build-dist --target uninstall

# The Debian package, build-dist/vellora_<version>_<arch>.deb.
package:
	@scripts/install-deps package
	@cmake --preset dist >/dev/null
	@cmake --build build-dist -j $(JOBS)
	@cd build-dist && cpack -G DEB >/dev/null && ls -1 "$$PWD"/vellora_*.deb

# Builds the package, installs it into this machine, uses it, removes it
# and checks that nothing of it is left; lintian must find no error. Root.
check-package: package
	@tests/package/check-package build-dist

# The optimised, link-time-optimised build with warnings as errors, and
# every test against it: optimisation brings warnings and faults of its own.
check-release:
	@scripts/install-deps test
	@cmake --preset ci-release >/dev/null
	@cmake --build --preset ci-release -j $(JOBS)
	@ctest --preset ci-release -j $(JOBS)

# Cross-compiles the portable core for Windows with MinGW-w64, warnings as
# errors, so nothing POSIX-only creeps into it.
check-windows-core:
	@scripts/install-deps windows
	@cmake --preset windows-core >/dev/null
	@cmake --build --preset windows-core -j $(JOBS)

# The conduit library for the Windows HotSync manager, cross-compiled:
# build-windows/hosts/windows/VelloraConduit.dll, its export and import
# tables checked as it is linked.
windows:
	@scripts/install-deps windows
	@cmake --preset windows >/dev/null
	@cmake --build --preset windows -j $(JOBS)

# The Windows installer around the conduit library:
# build-windows/vellora-conduit-setup-<version>.exe, a 32-bit NSIS installer
# that registers the conduit with the HotSync manager for the current user.
windows-installer:
	@scripts/install-deps windows-installer
	@cmake --preset windows >/dev/null
	@cmake --build --preset windows --target vellora_windows_installer -j $(JOBS)
	@ls -1 "$$PWD"/build-windows/vellora-conduit-setup-*.exe

# Whole sessions through the conduit library under Wine, against stand-ins
# for the handheld maker's libraries, compared byte for byte with the same
# sessions through the Linux tool; then the installer, installed, used,
# upgraded and uninstalled against stand-ins for the HotSync manager's
# conduit manager and HotSync API.
test-windows: build
	@scripts/install-deps windows-test
	@cmake --preset windows-test >/dev/null
	@cmake --build --preset windows-test -j $(JOBS)
	@tests/hosts/windows/wine/run-wine-tests build-windows-test build/tools/vellora

# The tests of the converter thread and its handover, and the replay of
# the converter stream's fuzz corpus, under ThreadSanitizer.
check-threads:
	@scripts/install-deps build
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan -j $(JOBS)
	@build-tsan/tests/importers/word/word_importer_tests --gtest_brief=1
	@build-tsan/tests/hosts/linux/text_converter_linux_tests --gtest_brief=1
	@build-tsan/tests/docmodel/docmodel_tests --gtest_filter="PipelinedSink.*" --gtest_brief=1
	@build-tsan/fuzz/fuzz_converter_stream fuzz/corpus/fuzz_converter_stream

# Runs every fuzz target for FUZZ_SECONDS each on a copy of its corpus.
FUZZ_SECONDS ?= 60
fuzz:
	@scripts/install-deps fuzz
	@cmake --preset fuzz >/dev/null
	@cmake --build build-fuzz -j $(JOBS)
	@scripts/fuzz build-fuzz/fuzz $(FUZZ_SECONDS)

# Rewrites every C and C++ source git tracks in the style of .clang-format;
# the format test of `make test` fails on one that differs.
format:
	@scripts/install-deps format
	@git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format -i

clean:
	rm -rf build build-release build-ci-release build-dist build-windows-core build-windows build-windows-test build-fuzz build-tsan
