#!/bin/sh
# Checks the packages `make package` wrote, as a user would meet them, each
# unpacked into a scratch folder:
# - the Debian package: its control fields (name, version, architecture, and a
#   Depends entry for the package of every shared library the binary needs),
#   the manual page, and the binary run on examples/home;
# - the tarball: every library its binary loads is the C or C++ runtime or
#   one carried in the tarball, also while the system's copies of the bundled
#   libraries are hidden (when this user may create a mount namespace), and
#   the binary run on examples/home gives the Debian binary's output.
#
# Usage: tools/package_check.sh PACKAGES_DIR VERSION
set -eu

packages=$1
version=$2
root=$(cd "$(dirname "$0")/.." && pwd)
home=$root/examples/home
arch=$(dpkg --print-architecture)
deb=$packages/lorebox_${version}_${arch}.deb
tarball=$packages/lorebox-$version-linux-$(uname -m).tar.gz
# The libraries every Linux system has (matched against ldd's first column).
runtime='^(linux-vdso\.so|/lib[^ ]*/ld-linux[^ ]*|ld-linux[^ ]*|libc\.so|libm\.so|libmvec\.so|libpthread\.so|libdl\.so|librt\.so|libstdc\+\+\.so|libgcc_s\.so)'

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "package-check: FAIL: $*" >&2
  failures=$((failures + 1))
}
# run_example BINARY OUT: runs BINARY on the example home, listing, writing
# nothing; its standard output goes to OUT.
run_example() {
  env -u LD_LIBRARY_PATH "$1" --claude-dir "$home/.claude" --codex-dir "$home/.codex" \
    --dry-run --list >"$2" 2>"$scratch/stderr" ||
    { fail "$1 exited with status $? on examples/home:"; cat "$scratch/stderr" >&2; }
}

for f in "$deb" "$tarball"; do
  [ -f "$f" ] || { echo "package-check: missing $f (run make package)" >&2; exit 1; }
done

# The Debian package.
echo "== $(basename "$deb")"
dpkg-deb -I "$deb" | sed -n 's/^ \(Package\|Version\|Architecture\|Depends\):/  &/p'
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = lorebox ] || fail "Package is '$(field Package)', not lorebox"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)', not $arch"
depends=" $(field Depends | sed 's/([^)]*)//g; s/[|,]/ /g') "
dpkg-deb -x "$deb" "$scratch/deb"
bin=$scratch/deb/usr/bin/lorebox
[ -x "$bin" ] || fail "no /usr/bin/lorebox in the package"
[ -f "$scratch/deb/usr/share/man/man1/lorebox.1" ] || fail "no manual page in the package"
grep -q "\"lorebox $version\"" "$scratch/deb/usr/share/man/man1/lorebox.1" ||
  fail "the manual page does not name version $version"
# Each library the binary needs belongs to a package that Depends names.
for lib in $(env -u LD_LIBRARY_PATH ldd "$bin" | awk '$2 == "=>" { print $3 }'); do
  owner=$(dpkg -S "$lib" 2>/dev/null || dpkg -S "/usr$lib" 2>/dev/null ||
    dpkg -S "$(readlink -f "$lib")" 2>/dev/null) || { fail "no package owns $lib"; continue; }
  owner=${owner%%:*}
  case $depends in
    *" $owner "*) ;;
    *) fail "Depends lacks $owner, which holds $lib" ;;
  esac
done
[ "$(env -u LD_LIBRARY_PATH "$bin" --version)" = "lorebox $version" ] ||
  fail "--version does not print lorebox $version"
run_example "$bin" "$scratch/deb.out"
grep -q "^Found [0-9]* sessions" "$scratch/deb.out" || fail "the Debian binary found no sessions"

# The tarball.
echo "== $(basename "$tarball")"
mkdir "$scratch/tgz"
tar -xzf "$tarball" -C "$scratch/tgz"
top=$(readlink -f "$scratch/tgz/lorebox-$version-linux-$(uname -m)")
bin=$top/bin/lorebox
[ -x "$bin" ] || fail "no bin/lorebox in the tarball"
[ -f "$top/share/man/man1/lorebox.1" ] || fail "no manual page in the tarball"
# check_loads: every library ldd resolves is the runtime's or the tarball's.
check_loads() {
  env -u LD_LIBRARY_PATH ldd "$bin" >"$scratch/ldd" || fail "ldd failed on $bin"
  sed 's/^/  /' "$scratch/ldd"
  while read -r name arrow path _; do
    if echo "$name" | grep -Eq "$runtime"; then
      continue
    elif [ "$arrow" != "=>" ] || [ "$path" = "not" ]; then
      fail "$name is not found"
      continue
    fi
    case $(readlink -f "$path") in
      "$top"/*) ;;
      *) fail "$name is loaded from $path, neither the C/C++ runtime nor the tarball" ;;
    esac
  done <"$scratch/ldd"
}
check_loads
[ "$(env -u LD_LIBRARY_PATH "$bin" --version)" = "lorebox $version" ] ||
  fail "the tarball's --version does not print lorebox $version"
run_example "$bin" "$scratch/tgz.out"
cmp -s "$scratch/deb.out" "$scratch/tgz.out" ||
  fail "the tarball's binary lists examples/home differently from the Debian binary"

# Again with the system's copies of every bundled library hidden, as on a
# machine that never installed them. Needs a user and mount namespace.
bundled=$(for lib in "$top"/lib/lorebox/*.so*; do
  [ -e "$lib" ] || continue
  name=$(basename "$lib")
  for system_copy in /lib/*/"$name" /usr/lib/*/"$name" /usr/lib/"$name" /usr/local/lib/"$name"; do
    [ -e "$system_copy" ] && readlink -f "$system_copy"
  done
done | sort -u | tr '\n' ' ')
if [ -z "$bundled" ]; then
  echo "  (no system copy of a bundled library to hide)"
elif unshare --user --map-root-user --mount true 2>/dev/null; then
  echo "  with the system's copies hidden:$bundled"
  # shellcheck disable=SC2016  # expanded by the inner shell
  unshare --user --map-root-user --mount sh -c '
    for f in $1; do mount --bind /dev/null "$f" || exit 3; done
    shift
    env -u LD_LIBRARY_PATH "$@"' sh "$bundled" "$bin" --claude-dir "$home/.claude" --codex-dir "$home/.codex" \
    --dry-run --list >"$scratch/hidden.out" 2>"$scratch/stderr" ||
    { fail "with the system's copies hidden, the tarball's binary failed:"; cat "$scratch/stderr" >&2; }
  cmp -s "$scratch/deb.out" "$scratch/hidden.out" ||
    fail "with the system's copies hidden, the tarball's binary lists examples/home differently"
else
  echo "  (cannot create a mount namespace here: the system's copies stay visible)"
fi

if [ "$failures" -ne 0 ]; then
  echo "package-check: $failures failure(s)" >&2
  exit 1
fi
echo "package-check: both packages hold a working lorebox $version"
