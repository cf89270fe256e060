#!/usr/bin/env python3
"""Independent Delaunay edges for the triangulation tests (Qhull via scipy).

Usage: delaunay_reference.py POINTS EDGES
POINTS holds one "x y" pair per line; EDGES receives one "i j" line (0-based
point indices, i < j) per triangle edge, sorted. Exit status 3 when scipy is
not available, so that the caller can skip instead of failing.
"""
import sys

try:
    import numpy as np
    from scipy.spatial import Delaunay
except ImportError:
    sys.exit(3)


def main():
    if len(sys.argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    points = np.loadtxt(sys.argv[1], dtype=float, ndmin=2)
    # Qhull lifts the points onto x^2 + y^2; far from the origin (map
    # coordinates) that loses the precision it needs, so move them there first.
    # A translation leaves the triangulation unchanged.
    tri = Delaunay(points - points.min(axis=0))
    edges = set()
    for a, b, c in tri.simplices:
        for u, w in ((a, b), (b, c), (a, c)):
            edges.add((min(u, w), max(u, w)))
    with open(sys.argv[2], "w") as out:
        for u, w in sorted(edges):
            out.write(f"{u} {w}\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
