#!/usr/bin/env bash
# Thread speed-up and peak memory of a least-cost population matrix analysis:
# 30 sample points on a 1000 x 1000 map (435 pairs), one binary and one
# quantitative map, run once with 1 and once with 2 threads. The two reports
# (and corridor maps) must be identical.
#
#   bench/threads.sh [BUILD_DIR] [PATHS_PER_PAIR]
#
# BUILD_DIR defaults to build/release (./build.sh build), PATHS_PER_PAIR to 1.
# Needs python3 (standard library only) and /usr/bin/time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
paths=${2:-1}
cli="$(cd "$build" && pwd)/cli/stravex-cli"
[ -x "$cli" ] || { echo "threads.sh: $cli not found; build first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "threads.sh: /usr/bin/time is needed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The maps and the population file, from a fixed generator.
python3 "$root/bench/bench_landscape.py" "$work"

echo "maps: $(du -b "$work"/*.rst | awk '{s += $1} END {printf "%.1f MB", s / 1e6}') of image files" \
     "(friction 4.0 MB, forest 1.0 MB, cover 4.0 MB); $paths least-cost path(s) per pair, 435 pairs"
declare -A seconds
for threads in 1 2; do
  mkdir "$work/t$threads"
  /usr/bin/time -v "$cli" matrix --binary "$work/forest" --quantitative "$work/cover" \
    --data "$work/samples.txt" --algorithm least-cost --friction "$work/friction" \
    --width "$paths" --corridor corridor --project bench --threads "$threads" \
    --workdir "$work/t$threads" > /dev/null 2> "$work/time$threads"
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time$threads")
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time$threads")
  seconds[$threads]=$(echo "$wall" | awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
  echo "threads $threads: ${seconds[$threads]} s wall, peak RSS $((rss / 1024)) MB"
done
cmp "$work/t1/bench-MatrixAnalysis.txt" "$work/t2/bench-MatrixAnalysis.txt"
cmp "$work/t1/corridor.rst" "$work/t2/corridor.rst"
echo "reports and corridor maps identical"
awk -v a="${seconds[1]}" -v b="${seconds[2]}" 'BEGIN { printf "speed-up with 2 threads: %.2fx\n", a / b }'
