#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer (every library instrumented for coverage) in
# build-fuzz-clang, then runs each target for FUZZ_SECONDS from a scratch
# copy of its seed corpus in fuzz/corpus/<target>/ plus the saved crash
# inputs in fuzz/regressions/<target>/, so the repository's corpus grows only
# when an input is added on purpose. Exits 1 when any target crashes or
# breaks an invariant, and prints where the failing input was saved.
#
# Environment: FUZZ_SECONDS (default 60), JOBS (build parallelism, default
# 2), FUZZ_TARGETS (space-separated target names; default all), FUZZ_BUILD
# (build directory).
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$root/build-fuzz-clang}
seconds=${FUZZ_SECONDS:-60}
jobs=${JOBS:-2}
targets=${FUZZ_TARGETS:-}

if ! command -v clang++ >/dev/null 2>&1; then
  echo "run_fuzz.sh: clang++ and its libFuzzer runtime are needed" \
       "(Debian: apt-get install clang libclang-rt-dev)" >&2
  exit 1
fi

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOREBOX_SANITIZE=ON -DLOREBOX_FUZZ=ON \
  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null || exit 1
cmake --build "$build" --target fuzz_targets -j "$jobs" || exit 1

if [ -z "$targets" ]; then
  for dir in "$root"/fuzz/corpus/*/; do targets="$targets $(basename "$dir")"; done
fi

failed=""
for name in $targets; do
  binary="$build/tests/fuzz/targets/fuzz_$name"
  if [ ! -x "$binary" ]; then
    echo "run_fuzz.sh: no fuzz target named $name" >&2
    failed="$failed $name"
    continue
  fi
  work="$build/fuzz-work/$name"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp "$root/fuzz/corpus/$name/"* "$work/corpus/"
  inputs=("$work/corpus")
  if [ -d "$root/fuzz/regressions/$name" ]; then
    inputs+=("$root/fuzz/regressions/$name")
  fi
  options=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048
           -artifact_prefix="$work/artifacts/" -print_final_stats=1)
  if [ -f "$root/fuzz/dict/$name.dict" ]; then
    options+=(-dict="$root/fuzz/dict/$name.dict")
  fi

  echo "== fuzz_$name: ${seconds}s"
  "$binary" "${options[@]}" "${inputs[@]}" >"$work/log" 2>&1
  status=$?
  grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/log"
  if [ "$status" -ne 0 ]; then
    grep -E 'ERROR|invariant broken|SUMMARY|runtime error' "$work/log" | head -n 5
    crash=$(find "$work/artifacts" -type f | head -n 1)
    echo "fuzz_$name FAILED (status $status); input: ${crash:-none}; log: $work/log"
    failed="$failed $name"
  fi
done

if [ -n "$failed" ]; then
  echo "run_fuzz.sh: failed:$failed"
  exit 1
fi
echo "run_fuzz.sh: all targets ran clean for ${seconds}s each"
