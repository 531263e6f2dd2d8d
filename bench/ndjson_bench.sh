#!/usr/bin/env bash
# Batch mode on a stream of small web-API documents (one per line, about
# 1 kB each, from ndjson_gen): documents per second through one quendra
# process with --jobs 1, --jobs 2 and every core, writing envelopes and, with
# --documents, the shrunk documents themselves, and through GNU parallel
# with the README's recipe (and, on the first 10,000 documents, the --pipe
# recipe it replaced), each the best of RUNS runs, as ratios to --jobs 1 on
# the same documents in the same run, with the processor time and the peak
# resident size of the largest process. Checks that every run wrote the same
# bytes as --jobs 1 in its mode.
#   bench/ndjson_bench.sh [BUILD_DIR] [DOCUMENTS] [RUNS]
#   (defaults: build-bench, 1000000, 3; build with `make bench`)
# BLOCKS="-1 -4 10M" measures GNU parallel with other block sizes as well.
set -euo pipefail

build=${1:-build-bench}
documents=${2:-1000000}
runs=${3:-3}
quendra=$(realpath "$build/quendra")
gen=$(realpath "$build/bench/ndjson_gen")
args=(--ndjson --max-chars 500)
cores=$(nproc)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stream=$work/docs.ndjson
"$gen" "$documents" > "$stream"
echo "stream: $documents documents, $(( $(stat -c %s "$stream") / 1000000 )) MB; $cores cores; budget 500 characters; best of $runs runs"

# Runs a command RUNS times with its output in $work/out and checks the
# output against $work/reference (the first run's). Prints the wall time of
# the fastest run, the processor time it took (user and system, with
# children) in seconds, and the largest peak resident size of any run in KB.
best_of() {
  local best="" peak=0 r wall user system rss cpu
  for ((r = 0; r < runs; r++)); do
    /usr/bin/time -o "$work/time" -f "%e %U %S %M" "$@" > "$work/out" || [ $? = 1 ]
    read -r wall user system rss < <(tail -n 1 "$work/time")
    [ "$rss" -gt "$peak" ] && peak=$rss
    cpu=$(echo "$user + $system" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$wall < ${best%% *}" | bc -l)" = 1 ]; then best="$wall $cpu"; fi
    if [ -f "$work/reference" ]; then
      cmp -s "$work/out" "$work/reference" || { echo "output differs from --jobs 1: $*" >&2; exit 1; }
    else
      mv "$work/out" "$work/reference"
    fi
  done
  echo "$best $peak"
}

row() {  # label, "wall cpu peak" of the command and of --jobs 1
  awk -v l="$1" -v t="$2" -v b="$3" -v n="$documents" 'BEGIN {
    split(t, m, " "); split(b, base, " ");
    printf "%-40s %7.2f s %7.0f docs/s %6.2fx %8.2f s %6.1f MB\n", l, m[1], n / m[1], base[1] / m[1], m[2], m[3] / 1024
  }'
}

printf "%-40s %9s %14s %7s %10s %9s\n" "" "wall" "throughput" "ratio" "processor" "peak RSS"
one=$(best_of "$quendra" "${args[@]}" --jobs 1 "$stream")
row "quendra --jobs 1" "$one" "$one"
row "quendra --jobs 2 (same bytes as --jobs 1)" "$(best_of "$quendra" "${args[@]}" --jobs 2 "$stream")" "$one"
if [ "$cores" -gt 2 ]; then
  row "quendra --jobs $cores" "$(best_of "$quendra" "${args[@]}" --jobs "$cores" "$stream")" "$one"
fi
# --documents reads the text back out of every envelope; its own first run is
# the reference of its bytes.
mv "$work/reference" "$work/reference.envelopes"
row "quendra --documents --jobs 1" "$(best_of "$quendra" "${args[@]}" --documents --jobs 1 "$stream")" "$one"
row "quendra --documents --jobs 2" "$(best_of "$quendra" "${args[@]}" --documents --jobs 2 "$stream")" "$one"
mv "$work/reference.envelopes" "$work/reference"
if command -v parallel > /dev/null; then
  # The recipe that --pipepart replaces, on the first 10,000 documents only:
  # every byte goes through parallel, and a process starts every 20 kB.
  head -n 10000 "$stream" > "$work/head.ndjson"
  mv "$work/reference" "$work/reference.all"
  documents_all=$documents
  documents=$(wc -l < "$work/head.ndjson")
  head_one=$(best_of "$quendra" "${args[@]}" --jobs 1 "$work/head.ndjson")
  row "quendra --jobs 1, first $documents" "$head_one" "$head_one"
  row "parallel --pipe --block 20k, first $documents" \
    "$(best_of bash -c 'parallel --will-cite --pipe -k --block 20k "${@:2}" < "$1"' pipe \
         "$work/head.ndjson" "$quendra" "${args[@]}" --jobs 1)" "$head_one"
  documents=$documents_all
  mv "$work/reference.all" "$work/reference"

  for block in ${BLOCKS:--4}; do
    row "parallel --pipepart --block $block -k" \
      "$(best_of parallel --will-cite --pipepart -a "$stream" --block "$block" -k \
           "$quendra" "${args[@]}" --jobs 1)" "$one"
  done
fi
