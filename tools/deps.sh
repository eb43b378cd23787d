#!/bin/sh
# Installs what lorebox needs to build and test, when something is missing:
# with apt-get on Debian and Ubuntu (through sudo when not root), with
# Homebrew on macOS (or wherever `brew` is the package manager). With
# neither, it looks for each tool and library itself; when any is missing
# it names them and fails, so that `make` stops here rather than in CMake.
#
# Environment: DEBS and BREWS, the Debian and Homebrew package names (the
# Makefile passes its lists).
set -u

# Debian and Ubuntu: the packages dpkg does not list as installed.
if command -v apt-get >/dev/null 2>&1 && command -v dpkg-query >/dev/null 2>&1; then
  missing=""
  for p in $DEBS; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" ||
      missing="$missing $p"
  done
  [ -z "$missing" ] && exit 0
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing:$missing"
  # shellcheck disable=SC2086  # one word per package
  $sudo apt-get update -qq &&
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing
  exit
fi

# Homebrew: a formula is installed when its opt/ link exists (Homebrew makes
# one for the formula's aliases and old names too, so `pkg-config` finds
# `pkgconf`). Homebrew refuses to run as root, so there is no sudo here.
if command -v brew >/dev/null 2>&1; then
  prefix=$(brew --prefix) || exit 1
  missing=""
  for p in $BREWS; do
    [ -e "$prefix/opt/$p" ] || missing="$missing $p"
  done
  [ -z "$missing" ] && exit 0
  echo "Installing with Homebrew:$missing"
  # shellcheck disable=SC2086  # one word per package
  brew install $missing
  exit
fi

# Anything else: each need as "name:how to find it", where how is a command
# (cmd=) or a pkg-config module (pc=).
needs="cmake:cmd=cmake c++20-compiler:cmd=c++ pkg-config:cmd=pkg-config
  simdjson:pc=simdjson nlohmann-json:pc=nlohmann_json cli11:pc=CLI11 fmt:pc=fmt
  zlib:pc=zlib minizip:pc=minizip zstd:pc=libzstd isa-l:pc=libisal
  googletest:pc=gtest googlemock:pc=gmock google-benchmark:pc=benchmark
  python3:cmd=python3 unzip:cmd=unzip clang-format:cmd=clang-format"
missing=""
for need in $needs; do
  name=${need%%:*}
  how=${need#*:}
  case $how in
    cmd=*) command -v "${how#cmd=}" >/dev/null 2>&1 ;;
    pc=*) pkg-config --exists "${how#pc=}" 2>/dev/null ;;
  esac || missing="$missing $name"
done
[ -z "$missing" ] && exit 0
cat >&2 <<EOF
make: lorebox cannot be built here yet: these are missing, and neither
apt-get nor Homebrew (brew) is here to install them:
 $missing
Install them with this system's package manager (for the libraries, their
development packages with headers and pkg-config files), then run make again.
lorebox needs: CMake 3.20 or later, a C++20 compiler, pkg-config, simdjson,
nlohmann-json, CLI11, fmt, zlib, minizip, zstd, ISA-L, GoogleTest and
GoogleMock, Google Benchmark, python3, unzip and clang-format.
On Debian these are:
  $DEBS
and in Homebrew:
  $BREWS
EOF
exit 1
