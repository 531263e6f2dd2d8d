#!/usr/bin/env bash
# Packs the package as `npm pack` does for a user, installs the tarball into
# an empty project, loads it with `node -e`, type-checks the TypeScript
# example and test/types.ts against the installed declarations with
# `tsc --noEmit`, and runs the compiled example.
#
# The packages the project needs are put into npm's cache first; the install
# that builds the addon then runs with --offline and, where the system allows
# it (as root), without any network at all, which shows that the build
# fetches nothing (no Node.js headers, no toolchain).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

fail() { echo "pack test: $*" >&2; exit 1; }

offline() {
  if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
    unshare -n "$@"
  else
    "$@"
  fi
}

npm_quiet=(--no-audit --no-fund --no-update-notifier --loglevel=error)

# The tarball holds the library's sources and nothing built.
tarball="$tmp/$(cd "$here" && npm pack --silent --pack-destination "$tmp" | tail -n 1)"
[ -f "$tarball" ] || fail "npm pack wrote no tarball"
listing="$(tar -tzf "$tarball")"
for file in package/package.json package/index.js package/index.d.ts package/binding.gyp \
    package/addon/quendra_node.cc package/scripts/build.js package/vendor/include/quendra.h \
    package/vendor/src/lib.cc package/vendor/src/lib.h; do
  grep -qx "$file" <<<"$listing" || fail "$file is missing from $(basename "$tarball")"
done
if grep -E '^package/(build|node_modules|test)/' <<<"$listing"; then
  fail "the tarball holds files it should not"
fi

# The package's dependency and development tools, in the ranges its
# package.json gives, go into npm's cache.
packages=()
while IFS= read -r package; do packages+=("$package"); done < <(node -e '
  const p = require(process.argv[1]);
  for (const [name, range] of Object.entries({ ...p.dependencies, ...p.devDependencies }))
    console.log(`${name}@${range}`);' "$here/package.json")
npm cache add "${packages[@]}" "${npm_quiet[@]}"
dev=()
for package in "${packages[@]}"; do
  case "$package" in typescript@*|@types/node@*) dev+=("$package") ;; esac
done

app="$tmp/app"
mkdir "$app"
cd "$app"
npm init -y >/dev/null
offline npm install --offline "${npm_quiet[@]}" "$tarball"
offline npm install --offline "${npm_quiet[@]}" --save-dev "${dev[@]}"

said="$(node -e '
  const q = require("quendra");
  const ids = JSON.stringify({ ids: Array.from({ length: 20 }, (_, i) => i + 1) });
  const r = q.shrink(ids, { max_chars: 40, indent: 0 });
  console.log(q.version, r.text);')"
version="$(node -p 'require(process.argv[1]).version' "$here/package.json")"
[ "$said" = "$version {\"ids\":[1,2,3,\"…[16 items omitted]\",20]}" ] || fail "the installed package says: $said"

cp "$here"/examples/*.ts "$here/test/types.ts" .
cat > tsconfig.json <<'JSON'
{
  "compilerOptions": {
    "strict": true,
    "target": "es2022",
    "module": "node16",
    "moduleResolution": "node16",
    "types": ["node"],
    "outDir": "out"
  },
  "include": ["*.ts"]
}
JSON
npx --no-install tsc --noEmit -p .
npx --no-install tsc -p .
for example in "$here"/examples/*.ts; do
  node "out/$(basename "${example%.ts}").js" >/dev/null || fail "the example $(basename "$example") failed"
done
echo "pack test: $(basename "$tarball") installs, loads and type-checks"
