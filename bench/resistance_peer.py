#!/usr/bin/env python3
"""The peer of bench/resistance_vs_peer.sh: resistance distance of every pair
of sample points on an IDRISI friction map, with scipy.sparse and SuperLU.

Usage: resistance_peer.py FOLDER  (reads FOLDER/friction.rst/.rdc and
FOLDER/samples.txt, as bench/bench_landscape.py writes them)

The circuit is the one of stravex-cli: every cell with a finite friction that
is not the map's flag is a node, joined to its 8 neighbours by the conductance
1 / (d x (r_a + r_b) / 2), d = 1 for a side and sqrt(2) for a corner. The
grounded Laplacian (the first point's cell grounded, only the part of the map
joined to it) is factorised once by scipy.sparse.linalg.splu (default
options); one solve per point (1 A injected there) gives the potentials x_i,
and R_ij = x_i[i] + x_j[j] - x_i[j] - x_j[i].

Prints `assembly S`, `factorisation S`, `solves S`, `solved N`, `nodes N`, `nnz_lu N`,
then one line `i j R` per pair (i < j; -1 for a point off the part)."""
import math
import sys
import time

import numpy as np
import scipy.sparse as sp
import scipy.sparse.linalg as spla
from scipy.sparse.csgraph import connected_components


def read_rdc(path):
    doc = {}
    for line in open(path, encoding="latin-1"):
        if ":" in line:
            key, value = line.split(":", 1)
            doc[key.strip()] = value.strip()
    return doc


def read_points(path):
    lines = [l.strip() for l in open(path) if l.strip()]
    k = lines.index("[Sample size]")
    count = int(lines[k + 1])
    start = lines.index("[Coordinates]") + 1
    return [tuple(map(float, lines[start + p].split()[:2])) for p in range(count)]


def point_cell(x, y, doc, rows, cols):
    # The default cell rule (containing): floor of the offset over the cell
    # size; the eastern and southern edges belong to the last column and row.
    min_x, max_x = float(doc["min. X"]), float(doc["max. X"])
    min_y, max_y = float(doc["min. Y"]), float(doc["max. Y"])
    col = math.floor((x - min_x) / ((max_x - min_x) / cols))
    row = math.floor((max_y - y) / ((max_y - min_y) / rows))
    if col == cols and x == max_x:
        col = cols - 1
    if row == rows and y == min_y:
        row = rows - 1
    if not (0 <= row < rows and 0 <= col < cols):
        raise SystemExit("resistance_peer.py: point (%g, %g) is off the map" % (x, y))
    return row, col


def main():
    folder = sys.argv[1]
    doc = read_rdc(folder + "/friction.rdc")
    rows, cols = int(doc["rows"]), int(doc["columns"])
    if doc["data type"] != "real":
        raise SystemExit("resistance_peer.py: the friction map must be real")
    friction = np.fromfile(folder + "/friction.rst", dtype="<f4").reshape(rows, cols)
    friction = friction.astype(np.float64)
    points = read_points(folder + "/samples.txt")
    cells = [point_cell(x, y, doc, rows, cols) for x, y in points]

    t0 = time.perf_counter()
    valid = np.isfinite(friction)
    flag = doc.get("flag value", "none")
    if flag not in ("none", ""):
        valid &= friction != float(flag)
    if np.any(friction[valid] <= 0):
        raise SystemExit("resistance_peer.py: a friction of 0 or below")
    index = np.full((rows, cols), -1, dtype=np.int64)
    index[valid] = np.arange(int(valid.sum()))
    heads, tails, conductances = [], [], []
    # Each link once: east, south, south-east, south-west.
    for dr, dc in ((0, 1), (1, 0), (1, 1), (1, -1)):
        a = (slice(0, rows - dr), slice(max(0, -dc), cols - max(0, dc)))
        b = (slice(dr, rows), slice(max(0, dc), cols - max(0, -dc)))
        both = valid[a] & valid[b]
        d = math.sqrt(2.0) if dr and dc else 1.0
        heads.append(index[a][both])
        tails.append(index[b][both])
        conductances.append(1.0 / (d * (friction[a][both] + friction[b][both]) / 2.0))
    head = np.concatenate(heads)
    tail = np.concatenate(tails)
    g = np.concatenate(conductances)
    nodes = int(valid.sum())
    adjacency = sp.coo_matrix((g, (head, tail)), shape=(nodes, nodes)).tocsr()
    adjacency = adjacency + adjacency.T
    # Only the part joined to the grounded point is solved; a point elsewhere
    # gets -1 (the maps of the bench have one part).
    ground_cell = cells[0]
    if index[ground_cell] < 0:
        raise SystemExit("resistance_peer.py: the first point is on a missing cell")
    _, labels = connected_components(adjacency, directed=False)
    keep = np.flatnonzero(labels == labels[index[ground_cell]])
    adjacency = adjacency[keep][:, keep]
    local = np.full(nodes, -1, dtype=np.int64)
    local[keep] = np.arange(keep.size)
    laplacian = sp.diags(np.asarray(adjacency.sum(axis=1)).ravel()) - adjacency
    ground = local[index[ground_cell]]
    others = np.delete(np.arange(keep.size), ground)
    grounded = laplacian.tocsc()[others][:, others].tocsc()
    # Position of each part node in the grounded system, -1 for the ground.
    position = np.full(keep.size, -1, dtype=np.int64)
    position[others] = np.arange(others.size)
    t1 = time.perf_counter()

    lu = spla.splu(grounded)
    t2 = time.perf_counter()

    node_of = []  # grounded-system position per point: -1 ground, None off the part
    for r, c in cells:
        n = index[r, c]
        node_of.append(None if n < 0 or local[n] < 0 else int(position[local[n]]))
    count = len(cells)
    potential = np.zeros((count, count))  # potential[i][j]: at point j, 1 A in at point i
    solved = 0
    for i in range(count):
        if node_of[i] is None or node_of[i] < 0:
            continue
        solved += 1
        rhs = np.zeros(others.size)
        rhs[node_of[i]] = 1.0
        x = lu.solve(rhs)
        for j in range(count):
            if node_of[j] is not None and node_of[j] >= 0:
                potential[i, j] = x[node_of[j]]
    t3 = time.perf_counter()

    print("assembly", t1 - t0)
    print("factorisation", t2 - t1)
    print("solves", t3 - t2)
    print("solved", solved)
    print("nodes", keep.size)
    print("nnz_lu", lu.L.nnz + lu.U.nnz)
    for i in range(count):
        for j in range(i + 1, count):
            if node_of[i] is None or node_of[j] is None:
                r = -1.0
            elif cells[i] == cells[j]:
                r = 0.0
            else:
                r = potential[i, i] + potential[j, j] - potential[i, j] - potential[j, i]
            print(i, j, repr(float(r)))


if __name__ == "__main__":
    main()
