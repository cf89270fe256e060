#!/usr/bin/env bash
# Resistance distance against a SciPy peer on one machine: the 1000 x 1000
# friction map and 30 sample points of bench/threads.sh (435 pairs).
#
#   bench/resistance_vs_peer.sh [BUILD_DIR]
#
# Runs `stravex-cli matrix --algorithm resistance --threads 2` with one binary
# map, once for the resistances only and once with `--corridor current` (the
# cumulative current map), each timed by /usr/bin/time (wall time, peak RSS).
# Then bench/resistance_peer.py in a process of its own: the same grounded
# Laplacian assembled with scipy.sparse, factorised by splu (default options),
# one solve per point, resistances by superposition; it times assembly,
# factorisation and solves apart. Prints the times, the peak memory, the
# peer / stravex ratio (resistances only), the current-map run's time over
# the resistances-only run's, and the largest relative difference of the
# pairs' `Resistance` against the peer's.
#
# BUILD_DIR defaults to build/release. Needs /usr/bin/python3 with numpy and
# scipy (python3-scipy) and /usr/bin/time.
set -euo pipefail
case ${1:-} in -h | --help) echo "usage: bench/resistance_vs_peer.sh [BUILD_DIR]"; exit 0 ;; esac
[ $# -le 1 ] || { echo "usage: bench/resistance_vs_peer.sh [BUILD_DIR]" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
[ -d "$build" ] || { echo "resistance_vs_peer.sh: $build not found; build first" >&2; exit 1; }
cli="$(cd "$build" && pwd)/cli/stravex-cli"
py=/usr/bin/python3
[ -x "$cli" ] || { echo "resistance_vs_peer.sh: $cli not found; build first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "resistance_vs_peer.sh: /usr/bin/time is needed" >&2; exit 1; }
"$py" -c "import numpy, scipy.sparse.linalg, scipy.sparse.csgraph" 2>/dev/null ||
  { echo "resistance_vs_peer.sh: python3-numpy and python3-scipy are needed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The maps and population file of bench/threads.sh (same generator).
"$py" "$root/bench/bench_landscape.py" "$work"

seconds() { sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$1" |
  awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }'; }
peak_kb() { sed -n 's/.*Maximum resident set size (kbytes): //p' "$1"; }
run() { # name [extra options]
  local name=$1
  shift
  mkdir "$work/$name"
  /usr/bin/time -v "$cli" matrix --binary "$work/forest" --data "$work/samples.txt" \
    --algorithm resistance --friction "$work/friction" --threads 2 \
    --workdir "$work/$name" "$@" > /dev/null 2> "$work/$name.time"
}
run plain
run current --corridor "$work/current/current"
[ -f "$work/current/current.rst" ] ||
  { echo "resistance_vs_peer.sh: no current map written" >&2; exit 1; }

/usr/bin/time -v "$py" "$root/bench/resistance_peer.py" "$work" > "$work/peer.txt" 2> "$work/peer.time"

"$py" - "$work" "$(seconds "$work/plain.time")" "$(seconds "$work/current.time")" \
  "$(seconds "$work/peer.time")" "$(peak_kb "$work/plain.time")" \
  "$(peak_kb "$work/current.time")" "$(peak_kb "$work/peer.time")" <<'PY'
import sys
out = sys.argv[1]
plain_s, current_s, peer_total_s = map(float, sys.argv[2:5])
plain_kb, current_kb, peer_kb = map(int, sys.argv[5:8])
rows = open(out + "/plain/Friction-Resistance-MatrixAnalysis.txt").read().splitlines()
head = rows[0].split("\t")
a, b, k = head.index("PopID1"), head.index("PopID2"), head.index("Resistance")
ours = {}
for r in rows[1:]:
    p = r.split("\t")
    ours[(int(p[a]), int(p[b]))] = float(p[k])
peer, times = {}, {}
for line in open(out + "/peer.txt"):
    p = line.split()
    if len(p) == 2:
        times[p[0]] = float(p[1])
    else:
        peer[(int(p[0]), int(p[1]))] = float(p[2])
if sorted(ours) != sorted(peer):
    sys.exit("resistance_vs_peer.sh: the report's pairs are not the peer's")
def rel(x, y):
    if x == y:
        return 0.0
    if x <= 0 or y <= 0:  # -1 or 0 on one side only
        return float("inf")
    return abs(x - y) / y
worst, pair = max((rel(ours[p], peer[p]), p) for p in peer)
peer_s = times["assembly"] + times["factorisation"] + times["solves"]
print("pairs %d, %d nodes, stravex on 2 threads" % (len(peer), times["nodes"]))
print("stravex resistances:       %.2f s  peak RSS %d MB" % (plain_s, plain_kb / 1024))
print("stravex + --corridor:      %.2f s  peak RSS %d MB  (%.2f x the resistances-only run)" %
      (current_s, current_kb / 1024, current_s / plain_s))
print("peer (scipy splu):         %.2f s  = assembly %.2f + factorisation %.2f + %d solves %.2f"
      % (peer_s, times["assembly"], times["factorisation"], times["solved"],
         times["solves"]))
print("                           process %.2f s, peak RSS %d MB, L+U %d nonzeros" %
      (peer_total_s, peer_kb / 1024, times["nnz_lu"]))
print("peer / stravex (resistances only): %.1f" % (peer_s / plain_s))
print("largest relative difference of Resistance: %.2e (pair %d-%d; target 1e-9)" %
      (worst, pair[0], pair[1]))
PY
