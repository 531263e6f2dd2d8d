#!/usr/bin/env bash
# Installs a built tree into a temporary prefix, checks the files, runs the
# installed command and builds a consumer against it through find_package
# and through pkg-config (as C and as C++). Then, as root, installs into
# /usr/local as the README says and builds the consumer and the README's
# example (with its pkg-config line and its CMakeLists.txt) without rpath,
# runs them without LD_LIBRARY_PATH and loads the library from Python: the
# loader must find it. Whatever /usr/local held is put back afterwards.
# Usage: tests/install/run.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
defs=(-D_GNU_SOURCE "-DQUENDRA_EXPECTED_VERSION=\"$version\"" -Wall -Wextra -Werror)
fail() { echo "installtest: $*" >&2; exit 1; }

# A staged install shows what an install writes, and leaves the loader's
# cache alone (a package's scripts run ldconfig on the target).
prefix="$tmp/prefix"
cmake --install "$build" --prefix "$prefix" >"$tmp/stage.log"
! grep -q ldconfig "$tmp/stage.log" || fail "an install into a private prefix ran ldconfig"
lib="$(find "$prefix" -name 'libquendra.so.*.*.*' -type f)"
libdir="$(dirname "$lib")"
[ "$(readelf -d "$lib" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')" = libquendra.so.0 ] || fail "SONAME"
[ -L "$libdir/libquendra.so.0" ] && [ -L "$libdir/libquendra.so" ] || fail "missing library links"
[ -f "$prefix/include/quendra.h" ] || fail "header not installed"
out="$(printf '[%s]' "$(seq -f '"w%03g"' 0 99 | paste -sd,)" |
  env -u LD_LIBRARY_PATH "$prefix/bin/quendra" --max-chars 60 --indent 0)"
[ "$out" = '["w000","w001","w002","w003","…[95 items omitted]","w099"]' ] || fail "the command printed '$out'"

cmake -S "$here" -B "$tmp/with-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$tmp/with-cmake" >/dev/null
"$tmp/with-cmake/consumer" >/dev/null
export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion quendra)" = "$version" ] || fail "pkg-config version"
flags="$(pkg-config --cflags --libs quendra) -Wl,-rpath,$(pkg-config --variable=libdir quendra)"
# shellcheck disable=SC2086
cc -std=c11 "${defs[@]}" "$here/consumer.c" $flags -o "$tmp/pc-consumer" && "$tmp/pc-consumer" >/dev/null
# shellcheck disable=SC2086
c++ -x c++ "${defs[@]}" "$here/consumer.c" -x none $flags -o "$tmp/pc-cxx" && "$tmp/pc-cxx" >/dev/null
echo "installtest: ok ($prefix)"

prefix=/usr/local
if [ "$(id -u)" != 0 ]; then
  echo "installtest: $prefix skipped: it needs root"
  exit 0
fi
# Keep what the install overwrites and the directories it creates.
(cd "$tmp/prefix" && find . \( -type f -o -type l \) | sed "s|^\.|$prefix|") >"$tmp/files"
(cd "$tmp/prefix" && find . -mindepth 1 -type d | sed "s|^\.|$prefix|" | sort -r) >"$tmp/dirs"
while read -r f; do
  if [ -e "$f" ] || [ -L "$f" ]; then mkdir -p "$tmp/saved$(dirname "$f")" && cp -a "$f" "$tmp/saved$f"; fi
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
grep -q "Updating the loader's cache: ldconfig" "$tmp/install.log" || fail "no ldconfig after installing"
ldconfig -p | grep -q "libquendra.so.0 .*=> $prefix/lib/libquendra.so.0" || fail "the loader's cache misses it"
unset LD_LIBRARY_PATH PKG_CONFIG_PATH
# shellcheck disable=SC2046
cc -std=c11 "${defs[@]}" "$here/consumer.c" $(pkg-config --cflags --libs quendra) -o "$tmp/consumer"
! readelf -d "$tmp/consumer" | grep -Eq 'RPATH|RUNPATH' || fail "the consumer has an rpath"
"$tmp/consumer" >/dev/null || fail "the consumer built with pkg-config does not run"
mkdir "$tmp/app"
block() { awk -v lang="$1" '$0 == "```" lang {on = 1; next} /^```/ && on {exit} on' "$root/README.md"; }
block c >"$tmp/app/app.c"
block cmake >"$tmp/app/CMakeLists.txt"
# shellcheck disable=SC2046
(cd "$tmp/app" && cc app.c $(pkg-config --cflags --libs quendra) -o app)
"$tmp/app/app" | grep -q '^{"ok":true' || fail "the README's example built with pkg-config"
cmake -S "$tmp/app" -B "$tmp/app/build" -G Ninja -DCMAKE_SKIP_RPATH=ON >/dev/null
cmake --build "$tmp/app/build" >/dev/null
"$tmp/app/build/app" | grep -q '^{"ok":true' || fail "the README's example built with CMake"
found="$(cd "$tmp" && env -u QUENDRA_LIBRARY PYTHONPATH="$root/python" python3 -c \
  'import quendra; print(quendra.library_version(), quendra._library().path)')"
[ "$found" = "$version libquendra.so.0" ] || fail "the binding loaded '$found'"
echo "installtest: ok ($prefix)"
