#!/usr/bin/env bash
# How the least-cost searches scale with the map: the landscape of
# bench/exact_vs_peer.sh (friction map, byte binary map and 30 sample points,
# 435 pairs) refined to N x N cells over the same extent
# (bench/scale_landscape.py), each size run as a population matrix with
# `--threads 2`, once with the Monte-Carlo search (1 path per pair) and once
# with the exact search.
#
#   bench/scale.sh DIR [SIZES...]      (SIZES default: 1000 4000 10000 31623)
#
# The landscapes are written once into DIR/N and reused when present (a
# 31623 x 31623 one takes about 5 GB of disk). BUILD_DIR (environment,
# default build/release) must hold cli/stravex-cli and bench/bench_exact_scale.
# Prints per size and search: wall time, peak resident memory (/usr/bin/time -v),
# bytes of peak memory per cell and, for the exact search, nanoseconds per
# settled cell = wall time x threads / cells settled by the run's 29 searches,
# counted by bench_exact_scale, which repeats them with the same ends.
# Needs /usr/bin/python3 with numpy (python3-numpy) and /usr/bin/time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: bench/scale.sh DIR [SIZES...]" >&2; exit 2; }
dir=$1; shift
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 4000 10000 31623)
build=$(cd "${BUILD_DIR:-$root/build/release}" && pwd)
cli=$build/cli/stravex-cli
counter=$build/bench/bench_exact_scale
threads=2
py=/usr/bin/python3 # the system one, with python3-numpy
for tool in "$cli" "$counter" /usr/bin/time; do
  [ -x "$tool" ] || { echo "scale.sh: $tool not found; build first" >&2; exit 1; }
done
"$py" -c "import numpy" 2>/dev/null || { echo "scale.sh: python3-numpy is needed" >&2; exit 1; }

mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
if [ ! -f "$dir/base/samples.txt" ]; then
  mkdir -p "$dir/base.part"
  "$py" "$root/bench/bench_landscape.py" "$dir/base.part"
  rm -rf "$dir/base" && mv "$dir/base.part" "$dir/base"
fi

seconds() { sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$1" |
  awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }'; }

printf "%-12s %-12s %9s %9s %10s %14s %12s\n" size search "wall s" "peak MB" "B/cell" \
  "cells settled" "ns/settled"
for n in "${sizes[@]}"; do
  land=$dir/$n
  if [ ! -f "$land/samples.txt" ]; then # samples.txt is written last
    "$py" "$root/bench/scale_landscape.py" "$dir/base" "$n" "$land.part"
    rm -rf "$land" && mv "$land.part" "$land"
  fi
  for search in least-cost exact; do
    out=$dir/run-$n-$search
    rm -rf "$out" && mkdir -p "$out"
    /usr/bin/time -v "$cli" matrix --binary "$land/forest" \
      --data "$land/samples.txt" --algorithm "$search" --friction "$land/friction" --width 1 \
      --project bench --threads "$threads" --workdir "$out" > "$out/stdout" 2> "$out/time" ||
      { echo "scale.sh: the $search run of $n failed, see $out/time" >&2; exit 1; }
    wall=$(seconds "$out/time")
    kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$out/time")
    settled=- ns=-
    if [ "$search" = exact ]; then
      "$counter" "$land" "$threads" > "$out/settled"
      settled=$(awk '/^cells/ {print $4}' "$out/settled")
      ns=$(awk -v w="$wall" -v t="$threads" -v s="$settled" 'BEGIN { printf "%.0f", w * t * 1e9 / s }')
    fi
    awk -v n="$n" -v s="$search" -v w="$wall" -v kb="$kb" -v c="$settled" -v ns="$ns" 'BEGIN {
      printf "%-12s %-12s %9.2f %9.0f %10.1f %14s %12s\n", n "x" n, s, w, kb / 1024,
        kb * 1024 / (n * n), c, ns }'
  done
done
