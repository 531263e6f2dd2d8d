#!/usr/bin/env bash
# Installs a built tree into /usr/local as the README says (as root), then
# builds the consumer and the README's example with pkg-config, and the
# example with the README's CMakeLists.txt, all without rpath, and runs them
# without LD_LIBRARY_PATH: the install must leave a library that the loader
# finds. The Python binding must find it too.
# Afterwards every installed file is removed and whatever was there before is
# put back. Skips when not root. Usage: tests/install/system.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
prefix=/usr/local

if [ "$(id -u)" != 0 ]; then
  echo "systeminstall: skipped: installing into $prefix needs root"
  exit 0
fi
fail() { echo "systeminstall: $*" >&2; exit 1; }
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
tmp="$(mktemp -d)"

# A staged install shows what the real one writes, and must leave the
# loader's cache alone (a package's scripts run ldconfig on the target).
DESTDIR="$tmp/stage" cmake --install "$build" --prefix "$prefix" >"$tmp/stage.log"
! grep -q ldconfig "$tmp/stage.log" || fail "a staged install ran ldconfig"
(cd "$tmp/stage" && find . \( -type f -o -type l \) | sed 's|^\.||') >"$tmp/files"
(cd "$tmp/stage" && find . -mindepth 1 -type d | sed 's|^\.||' | sort -r) >"$tmp/dirs"

# Keep what the install would overwrite; put it back at the end.
mkdir "$tmp/saved"
while read -r f; do
  if [ -e "$f" ] || [ -L "$f" ]; then
    mkdir -p "$tmp/saved$(dirname "$f")"
    cp -a "$f" "$tmp/saved$f"
  fi
done <"$tmp/files"
while read -r d; do [ -d "$d" ] || echo "$d"; done <"$tmp/dirs" >"$tmp/new-dirs"
restore() {
  while read -r f; do
    rm -f "$f"
    if [ -e "$tmp/saved$f" ] || [ -L "$tmp/saved$f" ]; then cp -a "$tmp/saved$f" "$f"; fi
  done <"$tmp/files"
  while read -r d; do rmdir "$d" 2>/dev/null || true; done <"$tmp/new-dirs"
  ldconfig
  rm -rf "$tmp"
}
trap restore EXIT

cmake --install "$build" --prefix "$prefix" >"$tmp/install.log"
grep -q "Updating the loader's cache: ldconfig" "$tmp/install.log" ||
  fail "installing into $prefix did not run ldconfig"
ldconfig -p | grep -q "libquendra.so.0 .*=> $prefix/lib/libquendra.so.0" ||
  fail "the loader's cache has no $prefix/lib/libquendra.so.0"

unset LD_LIBRARY_PATH PKG_CONFIG_PATH
defs=(-D_GNU_SOURCE "-DQUENDRA_EXPECTED_VERSION=\"$version\"" -Wall -Wextra -Werror)
[ "$(pkg-config --modversion quendra)" = "$version" ] || fail "pkg-config does not find quendra"
# shellcheck disable=SC2046
cc -std=c11 "${defs[@]}" "$here/consumer.c" $(pkg-config --cflags --libs quendra) -o "$tmp/consumer"
! readelf -d "$tmp/consumer" | grep -Eq 'RPATH|RUNPATH' || fail "the consumer has an rpath"
"$tmp/consumer" >/dev/null || fail "the consumer built with pkg-config does not run"

# The README's C example, built as the README says: with its pkg-config line
# and with its CMakeLists.txt.
mkdir "$tmp/app"
block() { awk -v lang="$1" '$0 == "```" lang {on = 1; next} /^```/ && on {exit} on' "$root/README.md"; }
block c >"$tmp/app/app.c"
block cmake >"$tmp/app/CMakeLists.txt"
grep -q add_executable "$tmp/app/CMakeLists.txt" || fail "no CMakeLists.txt in the README"
# shellcheck disable=SC2046
(cd "$tmp/app" && cc app.c $(pkg-config --cflags --libs quendra) -o app)
"$tmp/app/app" | grep -q '^{"ok":true' || fail "the README's example built with pkg-config"
cmake -S "$tmp/app" -B "$tmp/app/build" -G Ninja -DCMAKE_SKIP_RPATH=ON >/dev/null
cmake --build "$tmp/app/build" >/dev/null
"$tmp/app/build/app" | grep -q '^{"ok":true' || fail "the README's example built with CMake"

found="$(cd "$tmp" && env -u QUENDRA_LIBRARY PYTHONPATH="$root/python" python3 -c \
  'import quendra; print(quendra.library_version(), quendra._library().path)')"
[ "$found" = "$version libquendra.so.0" ] || fail "the binding loaded '$found'"
echo "systeminstall: ok ($prefix)"
