#!/usr/bin/env bash
# Packs the package as `npm pack` does and checks the tarball: the licence,
# the bundled sources, and a prebuilt addon that needs nothing beyond the C
# and C++ runtime but the libraries carried beside it. Then installs it into
# empty projects offline (without any network where the system allows it, as
# root), with the compilers and pkg-config hidden from the PATH: it loads and
# works; without its prebuilt addon it names the missing compiler in one
# line; and with a compiler but still no pkg-config (so no ICU) it builds
# from the bundled sources. Last, it type-checks the TypeScript examples and
# test/types.ts against the installed declarations and runs the compiled
# examples.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "pack test: $*" >&2; exit 1; }
offline() { if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then unshare -n "$@"; else "$@"; fi; }
quiet=(--no-audit --no-fund --no-update-notifier --loglevel=error)
target="$(node -p 'process.platform + "-" + process.arch')"

# A directory of links to every command on the PATH except those whose names
# match the extended regular expression $2.
hide() {
  mkdir -p "$1"
  local dir file
  IFS=: read -ra dirs <<<"$PATH"
  for dir in "${dirs[@]}"; do
    for file in "$dir"/*; do
      [ -x "$file" ] && [ ! -d "$file" ] || continue
      grep -qE "$2" <<<"$(basename "$file")" && continue
      [ -e "$1/$(basename "$file")" ] || ln -s "$file" "$1/"
    done
  done
}
compilers='^(cc|c\+\+|c89.*|c99.*|cpp.*|gcc.*|g\+\+.*|clang.*|tcc|.*-(gcc|g\+\+|c\+\+|cc|cpp)(-[0-9.]+)?)$'
pkgconfig='^(pkg-config|pkgconf|.*-pkg-config)$'
hide "$tmp/bin-no-compiler" "$compilers|$pkgconfig"
hide "$tmp/bin-no-pkg-config" "$pkgconfig"
! PATH="$tmp/bin-no-compiler" command -v g++ c++ cc pkg-config >/dev/null || fail "a compiler is still on the PATH"

# The tarball: the licence, the sources, the prebuilt addon, no dependency.
tarball="$tmp/$(cd "$here" && npm pack --silent --pack-destination "$tmp" | tail -n 1)"
listing="$(tar -tzf "$tarball")"
for file in package.json index.js index.d.ts binding.gyp addon/quendra_node.cc scripts/build.js \
    scripts/install.js LICENSE THIRD-PARTY-NOTICES vendor/include/quendra.h vendor/src/lib.cc \
    vendor/src/unicode/unicode.cc vendor/generated/unicode_tables.h vendor/src/tokens/bpe.cc \
    vendor/generated/token_vocab.h vendor/generated/token_classes.h vendor/node-addon-api/napi.h \
    vendor/node-addon-api/LICENSE.md "prebuilds/$target/quendra.node"; do
  grep -qx "package/$file" <<<"$listing" || fail "$file is missing from $(basename "$tarball")"
done
! grep -E '^package/(build|node_modules|test)/' <<<"$listing" || fail "the tarball holds files it should not"
tar -xzf "$tarball" -C "$tmp"
node -e 'const p = require(process.argv[1]);
  if (p.license !== "Apache-2.0" || p.dependencies || p.optionalDependencies || p.peerDependencies)
    process.exit(1)' "$tmp/package/package.json" || fail "package.json: licence or dependencies"

# The prebuilt addon needs the C and C++ runtime and the libraries beside it.
prebuilt="$tmp/package/prebuilds/$target"
runtime='^(libc\.so\.6|libm\.so\.6|libdl\.so\.2|librt\.so\.1|libpthread\.so\.0|libgcc_s\.so\.1|libstdc\+\+\.so\.6|ld-linux-x86-64\.so\.2)$'
for binary in "$prebuilt"/*; do
  readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | while read -r needed; do
    grep -qE "$runtime" <<<"$needed" || [ -f "$prebuilt/$needed" ] ||
      fail "$(basename "$binary") needs $needed, which is neither runtime nor carried"
  done
done
readelf -d "$prebuilt/quendra.node" | grep -q 'RUNPATH.*\[\$ORIGIN\]' || fail "the addon does not look beside itself"

# The development tools, in the package's ranges, and everything the lock
# file names go into npm's cache for the type check; every install then runs
# offline.
mapfile -t packages < <(node -e 'const p = require(process.argv[1]);
  for (const [name, range] of Object.entries(p.devDependencies)) console.log(`${name}@${range}`);' \
  "$here/package.json")
mapfile -t locked < <(node -e 'const l = require(process.argv[1]);
  for (const [at, p] of Object.entries(l.packages)) if (at) console.log(`${at.replace(/^.*node_modules\//, "")}@${p.version}`);' \
  "$here/package-lock.json")
npm cache add "${packages[@]}" "${locked[@]}" "${quiet[@]}"

# $1: a new project directory; the rest: what to install. Offline, on $PATH.
install() {
  local app="$1"; shift
  mkdir "$app" && (cd "$app" && npm init -y >/dev/null && offline npm install --offline "${quiet[@]}" "$@")
}
works() {
  local said version
  said="$(cd "$1" && node -e 'const q = require("quendra");
    const ids = JSON.stringify({ ids: Array.from({ length: 20 }, (_, i) => i + 1) });
    console.log(q.version, q.shrink(ids, { max_chars: 40, indent: 0 }).text)')"
  version="$(node -p 'require(process.argv[1]).version' "$here/package.json")"
  [ "$said" = "$version {\"ids\":[1,2,3,\"…[16 items omitted]\",20]}" ] || fail "$2 says: $said"
}

# No compiler: the prebuilt addon, and the libfyaml carried beside it.
start=$(date +%s%N)
PATH="$tmp/bin-no-compiler" install "$tmp/app" "$tarball"
took=$(( ($(date +%s%N) - start) / 1000000 ))
[ ! -e "$tmp/app/node_modules/quendra/build" ] || fail "the install built the addon"
PATH="$tmp/bin-no-compiler" works "$tmp/app" "the installed package"
ldd "$tmp/app/node_modules/quendra/prebuilds/$target/quendra.node" | grep "libfyaml.so.0 => $tmp/app/node_modules/quendra/prebuilds/$target/libfyaml.so.0" >/dev/null ||
  fail "the addon does not load the libfyaml carried beside it"

# No compiler and no prebuilt addon: one line names what is missing.
rm -rf "$prebuilt"
bare="$tmp/quendra-no-prebuilt.tgz"
tar -czf "$bare" -C "$tmp" package
if PATH="$tmp/bin-no-compiler" install "$tmp/app-bare" "$bare" >"$tmp/bare.log" 2>&1; then
  fail "the install without a prebuilt addon and without a compiler succeeded"
fi
said="$(grep -o 'quendra: .*' "$tmp/bare.log" || true)"
[ "$(grep -c . <<<"$said")" = 1 ] && grep -q 'C++ compiler' <<<"$said" ||
  fail "the failed install should say in one line that a C++ compiler is missing:
$(cat "$tmp/bare.log")"

# A compiler but no pkg-config (so no ICU): builds from the bundled sources.
PATH="$tmp/bin-no-pkg-config" install "$tmp/app-built" "$bare"
PATH="$tmp/bin-no-pkg-config" works "$tmp/app-built" "the package built from its sources"

cd "$tmp/app"
offline npm install --offline "${quiet[@]}" --save-dev $(printf '%s\n' "${packages[@]}" | grep -E '^(typescript|@types/node)@')
cp "$here"/examples/*.ts "$here/test/types.ts" .
echo '{ "compilerOptions": { "strict": true, "target": "es2022", "module": "node16", "moduleResolution": "node16",
  "types": ["node"], "outDir": "out" }, "include": ["*.ts"] }' > tsconfig.json
npx --no-install tsc --noEmit -p .
npx --no-install tsc -p .
for example in "$here"/examples/*.ts; do
  node "out/$(basename "${example%.ts}").js" >/dev/null || fail "the example $(basename "$example") failed"
done
echo "pack test: $(basename "$tarball") ($(( $(stat -c %s "$tarball") / 1024 )) KB) installs offline without a compiler in ${took} ms, loads, type-checks; without its prebuilt addon it names the missing compiler or builds from its sources"
