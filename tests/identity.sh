#!/usr/bin/env bash
# The byte-identity check: the library as the packages ship it (built as pip
# builds it, with QUENDRA_PORTABLE, in python/build/native) and the library
# of a build directory, each against the library built from an earlier
# revision, request by request with bench/compare_builds over generated
# documents and options (budgets in every unit). Any envelope that differs
# fails the check; compare_builds leaves the request and both answers in
# WORK/diffs.
# Usage: tests/identity.sh BASE_REVISION [BUILD_DIR] [WORK]
# COUNT requests per seed (default 2000), SEEDS (default "1 2 3"), JOBS, and
# FLAGS for compare_builds (default: budgets in every unit, the path rules
# and host-counted tokens, which the base must know).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
base="$1"
build="${2:-$root/build}"
work="${3:-$root/build-identity}"
jobs="${JOBS:-2}"
fail() { echo "identity: $*" >&2; exit 1; }

# A shallow clone may lack the base: fetch it when the remote can give it,
# and otherwise say so and check nothing (there is no earlier build to hold
# this one to).
if ! git -C "$root" cat-file -e "$base^{commit}" 2>/dev/null; then
  git -C "$root" fetch --quiet --depth=1 origin "$base" 2>/dev/null || true
  if ! git -C "$root" cat-file -e "$base^{commit}" 2>/dev/null; then
    echo "identity: skipped: revision $base is not in this clone and cannot be fetched" \
      "(name another with IDENTITY_BASE)" >&2
    exit 0
  fi
fi
mkdir -p "$work"

# The old library, from the base revision's sources (exported once).
old_src="$work/src-$(git -C "$root" rev-parse --short "$base")"
if [ ! -f "$old_src/CMakeLists.txt" ]; then
  rm -rf "$work"/src-* "$work/old"
  mkdir -p "$old_src"
  git -C "$root" archive "$base" | tar -x -C "$old_src"
fi
cmake -S "$old_src" -B "$work/old" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUENDRA_TESTS=OFF >/dev/null
cmake --build "$work/old" -j "$jobs" --target quendra >/dev/null

# The shipped library, configured as python/quendra_build.py configures it.
shipped="$root/python/build/native"
generator=(-G Ninja)
[ ! -f "$shipped/CMakeCache.txt" ] || generator=()
cmake -S "$root" -B "$shipped" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DQUENDRA_TESTS=OFF \
  -DQUENDRA_BENCH=OFF -DQUENDRA_PORTABLE=ON >/dev/null
cmake --build "$shipped" -j "$jobs" --target quendra >/dev/null
[ -f "$build/libquendra.so" ] || fail "no library in $build"

compare="$work/compare_builds"
if [ ! -x "$compare" ] || [ "$root/bench/compare_builds.cc" -nt "$compare" ]; then
  c++ -std=c++20 -O2 "$root/bench/compare_builds.cc" -o "$compare" -ldl
fi
read -r -a flags <<<"${FLAGS:---budget-units --rules --host-tokens}"
for new in "$shipped/libquendra.so" "$build/libquendra.so"; do
  for seed in ${SEEDS:-1 2 3}; do
    "$compare" "$work/old/libquendra.so" "$new" --count "${COUNT:-2000}" --seed "$seed" \
      "${flags[@]}" --out "$work/diffs" | tail -n 1 | sed "s|^|identity: $new seed $seed: |"
  done
done
