#!/usr/bin/env bash
# Installs a built tree into a temporary prefix, then builds and runs a small
# consumer against it twice, through find_package and through pkg-config, and
# runs the installed command. Usage: tests/install/run.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/prefix"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"

fail() { echo "installtest: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

# The library with its version and SONAME links, the header, the command.
lib="$(find "$prefix" -name 'libquendra.so.*.*.*' -type f)"
[ -n "$lib" ] || fail "no versioned library installed"
libdir="$(dirname "$lib")"
soname="$(readelf -d "$lib" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')"
[ "$soname" = libquendra.so.0 ] || fail "SONAME is '$soname'"
[ -L "$libdir/libquendra.so.0" ] && [ -L "$libdir/libquendra.so" ] || fail "missing library links"
[ -f "$prefix/include/quendra.h" ] || fail "header not installed"
said="$(env -u LD_LIBRARY_PATH "$prefix/bin/quendra" --version)"
[ "$said" = "quendra $version" ] || fail "installed command says '$said'"

# The same consumer, once through the CMake package ...
cmake -S "$here" -B "$tmp/with-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$tmp/with-cmake" >/dev/null
"$tmp/with-cmake/consumer"

# ... and once through pkg-config, as C and as C++.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion quendra)" = "$version" ] || fail "pkg-config version"
flags="$(pkg-config --cflags --libs quendra) -Wl,-rpath,$(pkg-config --variable=libdir quendra)"
defs=(-D_GNU_SOURCE "-DQUENDRA_EXPECTED_VERSION=\"$version\"" -Wall -Wextra -Werror)
# shellcheck disable=SC2086
cc -std=c11 "${defs[@]}" "$here/consumer.c" $flags -o "$tmp/pc-consumer"
"$tmp/pc-consumer"
# shellcheck disable=SC2086
c++ -x c++ "${defs[@]}" "$here/consumer.c" -x none $flags -o "$tmp/pc-consumer-cxx"
"$tmp/pc-consumer-cxx" >/dev/null

# The installed command shrinks a document from standard input.
out="$(printf '[%s]' "$(seq -f '"w%03g"' 0 99 | paste -sd,)" |
  env -u LD_LIBRARY_PATH "$prefix/bin/quendra" --max-chars 60 --indent 0)"
[ "$out" = '["w000","w001","w002","w003","…[95 items omitted]","w099"]' ] ||
  fail "installed command printed '$out'"
echo "installtest: ok ($prefix)"
