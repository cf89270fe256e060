#!/usr/bin/env bash
# The exact least-cost path against the Monte-Carlo search and against
# scikit-image's MCP graph search, side by side on one machine and one thread:
# the 1000 x 1000 friction map and 30 sample points of bench/threads.sh
# (435 pairs), one binary and one quantitative map.
#
#   bench/exact_vs_peer.sh [BUILD_DIR]
#
# Prints the wall time of `stravex-cli matrix --algorithm exact`, of the same
# run with `--algorithm least-cost --width 1` (one Monte-Carlo path per pair),
# the Monte-Carlo cost / exact cost over the pairs (min, median, max), and the
# time of the peer: per source point, one skimage.graph.MCP search (8
# neighbours, node costs = friction, stopping at the last target) plus a
# traceback per target, the same pairs as the matrix. The peer's costs are
# checked against the exact ones.
#
# BUILD_DIR defaults to build/release. Needs /usr/bin/python3 with numpy and
# scikit-image (python3-skimage) and /usr/bin/time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
cli="$(cd "$build" && pwd)/cli/stravex-cli"
py=/usr/bin/python3
[ -x "$cli" ] || { echo "exact_vs_peer.sh: $cli not found; build first" >&2; exit 1; }
"$py" -c "import skimage.graph, numpy" 2>/dev/null ||
  { echo "exact_vs_peer.sh: python3-skimage is needed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The maps and population file of bench/threads.sh (same generator).
"$py" "$root/bench/bench_landscape.py" "$work"

seconds() { sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$1" |
  awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }'; }
run() { # name algorithm
  mkdir "$work/$1"
  /usr/bin/time -v "$cli" matrix --binary "$work/forest" --quantitative "$work/cover" \
    --data "$work/samples.txt" --algorithm "$2" --friction "$work/friction" --width 1 \
    --project bench --threads 1 --workdir "$work/$1" > /dev/null 2> "$work/$1.time"
}
run exact exact
run mc least-cost
exact_s=$(seconds "$work/exact.time")
mc_s=$(seconds "$work/mc.time")
exact_kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/exact.time")

# The peer, one process, timed inside (search and traceback only).
"$py" - "$work" > "$work/peer.txt" <<'PY'
import sys, time, numpy as np
from skimage.graph import MCP
out = sys.argv[1]
n = 1000
f = np.fromfile(out + "/friction.rst", dtype=np.float32).reshape(n, n).astype(np.float64)
lines = open(out + "/samples.txt").read().splitlines()
pts = [tuple(map(float, lines[3 + k].split())) for k in range(30)]
cells = [(int(round((10 * n - y) / 10)), int(round(x / 10))) for x, y in pts]
t0 = time.perf_counter()
costs = {}
for i in range(30):
    ends = cells[i + 1:]
    if not ends:
        continue
    m = MCP(f, fully_connected=True)
    cum, _ = m.find_costs([cells[i]], ends)
    for j, e in enumerate(ends, start=i + 1):
        path = m.traceback(e)
        costs[(i, j)] = (cum[e], float(sum(f[r, c] for r, c in path)), len(path))
elapsed = time.perf_counter() - t0
print("seconds", elapsed)
for (i, j), (c, s, l) in sorted(costs.items()):
    print(i, j, repr(c), repr(s), l)
PY
peer_s=$(awk '/^seconds/ {print $2}' "$work/peer.txt")

"$py" - "$work" "$exact_s" "$mc_s" "$peer_s" "$exact_kb" <<'PY'
import sys
out, exact_s, mc_s, peer_s, exact_kb = sys.argv[1], *map(float, sys.argv[2:])
def report(name):
    rows = open(out + "/" + name + "/bench-MatrixAnalysis.txt").read().splitlines()
    head = rows[0].split("\t")
    k = head.index("forest_Cost")
    return [(int(r.split("\t")[0]), int(r.split("\t")[3]), float(r.split("\t")[k])) for r in rows[1:]]
exact, mc = report("exact"), report("mc")
ratios = sorted(m[2] / e[2] for e, m in zip(exact, mc) if e[2] > 0 and m[2] > 0)
pairs = len(exact)
peer = {}
for line in open(out + "/peer.txt"):
    p = line.split()
    if p[0] != "seconds":
        peer[(int(p[0]), int(p[1]))] = float(p[3])  # friction sum over the traced path
worst = max(abs(peer[(i, j)] - c) / c for i, j, c in exact)
print("pairs %d, one thread" % pairs)
print("exact:       %.3f s  (%.2f ms per pair, peak RSS %d MB)" % (exact_s, 1000 * exact_s / pairs, exact_kb / 1024))
print("Monte-Carlo: %.3f s  (%.2f ms per pair, 1 path per pair)" % (mc_s, 1000 * mc_s / pairs))
print("Monte-Carlo cost / exact cost: min %.4f  median %.4f  max %.4f" %
      (ratios[0], ratios[len(ratios) // 2], ratios[-1]))
print("peer (skimage MCP): %.3f s search + traceback only; peer / exact = %.1f" % (peer_s, peer_s / exact_s))
print("peer path friction sums vs exact costs: largest relative difference %.2e" % worst)
PY
