#!/usr/bin/env bash
# Packs the package as `npm pack` does, installs the tarball into an empty
# project (offline, and without any network where the system allows it, as
# root: the build fetches nothing), loads it, type-checks the TypeScript
# examples and test/types.ts against the installed declarations and runs the
# compiled examples.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "pack test: $*" >&2; exit 1; }
offline() { if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then unshare -n "$@"; else "$@"; fi; }
quiet=(--no-audit --no-fund --no-update-notifier --loglevel=error)

# The tarball holds the library's sources and nothing built.
tarball="$tmp/$(cd "$here" && npm pack --silent --pack-destination "$tmp" | tail -n 1)"
listing="$(tar -tzf "$tarball")"
for file in package.json index.js index.d.ts binding.gyp addon/quendra_node.cc scripts/build.js \
    vendor/include/quendra.h vendor/src/lib.cc vendor/src/lib.h; do
  grep -qx "package/$file" <<<"$listing" || fail "$file is missing from $(basename "$tarball")"
done
! grep -E '^package/(build|node_modules|test)/' <<<"$listing" || fail "the tarball holds files it should not"

# The dependency and the development tools, in the package's ranges, go into
# npm's cache; the installs then run offline.
mapfile -t packages < <(node -e 'const p = require(process.argv[1]);
  for (const [name, range] of Object.entries({ ...p.dependencies, ...p.devDependencies })) console.log(`${name}@${range}`);' \
  "$here/package.json")
npm cache add "${packages[@]}" "${quiet[@]}"
mkdir "$tmp/app" && cd "$tmp/app" && npm init -y >/dev/null
offline npm install --offline "${quiet[@]}" "$tarball"
offline npm install --offline "${quiet[@]}" --save-dev $(printf '%s\n' "${packages[@]}" | grep -E '^(typescript|@types/node)@')

said="$(node -e 'const q = require("quendra");
  const ids = JSON.stringify({ ids: Array.from({ length: 20 }, (_, i) => i + 1) });
  console.log(q.version, q.shrink(ids, { max_chars: 40, indent: 0 }).text)')"
version="$(node -p 'require(process.argv[1]).version' "$here/package.json")"
[ "$said" = "$version {\"ids\":[1,2,3,\"…[16 items omitted]\",20]}" ] || fail "the installed package says: $said"

cp "$here"/examples/*.ts "$here/test/types.ts" .
echo '{ "compilerOptions": { "strict": true, "target": "es2022", "module": "node16", "moduleResolution": "node16",
  "types": ["node"], "outDir": "out" }, "include": ["*.ts"] }' > tsconfig.json
npx --no-install tsc --noEmit -p .
npx --no-install tsc -p .
for example in "$here"/examples/*.ts; do
  node "out/$(basename "${example%.ts}").js" >/dev/null || fail "the example $(basename "$example") failed"
done
echo "pack test: $(basename "$tarball") installs, loads and type-checks"
