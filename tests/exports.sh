#!/bin/sh
# The shared library exports exactly the six C functions.
set -eu
got=$(nm -D --defined-only "$1" | awk '$2 == "T" {sub(/@.*/, "", $3); print $3}' | sort | tr '\n' ' ')
want="quendra_alloc quendra_count_tokens quendra_free quendra_shrink quendra_shrink_with_counter quendra_version "
[ "$got" = "$want" ] || { echo "exports: got '$got', want '$want'"; exit 1; }
others=$(nm -D --defined-only "$1" | awk '$2 != "T" && $2 != "A"' | wc -l)
[ "$others" -eq 0 ] || { echo "exports: $others unexpected symbols"; exit 1; }
echo "exports: the six functions only"
