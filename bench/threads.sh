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
python3 - "$work" <<'PY'
import array, sys, os
out = sys.argv[1]
n = 1000
state = 12345
def rand(m):
    global state
    state = (state * 6364136223846793005 + 1442695040888963407) % (1 << 64)
    return (state >> 33) % m

def write_map(name, title, dtype, code, values, lo, hi):
    with open(os.path.join(out, name + ".rst"), "wb") as f:
        array.array(code, values).tofile(f)
    doc = [("file format", "IDRISI Raster A.1"), ("file title", title), ("data type", dtype),
           ("file type", "binary"), ("columns", str(n)), ("rows", str(n)), ("ref. system", "plane"),
           ("ref. units", "m"), ("unit dist.", "1"), ("min. X", "0"), ("max. X", str(10 * n)),
           ("min. Y", "0"), ("max. Y", str(10 * n)), ("pos'n error", "unknown"), ("resolution", "10"),
           ("min. value", str(lo)), ("max. value", str(hi)), ("display min", str(lo)),
           ("display max", str(hi)), ("value units", "unknown"), ("value error", "unknown"),
           ("flag value", "none"), ("flag def'n", "no background"), ("legend cats", "0")]
    with open(os.path.join(out, name + ".rdc"), "wb") as f:
        f.write("".join("%-12s: %s\r\n" % kv for kv in doc).encode())

# Friction in bands and blobs, 1..100; forest where friction is low; cover follows it.
friction = array.array("f", [0.0]) * (n * n)
for r in range(n):
    for c in range(n):
        friction[r * n + c] = 1 + ((r // 50 * 37 + c // 40 * 53 + (r * c) // 900) % 100)
write_map("friction", "friction", "real", "f", friction, 1, 100)
write_map("forest", "forest", "byte", "B", [1 if v < 30 else 0 for v in friction], 0, 1)
write_map("cover", "cover", "real", "f", [100.0 - v for v in friction], 0, 99)

points = [(500 + 10 * rand(900), 500 + 10 * rand(900)) for _ in range(30)]
lines = ["[Sample size]", "30", "[Coordinates]"] + ["%d.0\t%d.0" % p for p in points]
lines.append("[Genetic distance]")
for i in range(30):
    lines.append("\t".join("%.4f" % (0 if i == j else abs(i - j) / 30) for j in range(30)))
with open(os.path.join(out, "samples.txt"), "wb") as f:
    f.write(("\r\n".join(lines) + "\r\n").encode())
PY

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
