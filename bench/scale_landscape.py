#!/usr/bin/env python3
"""The benchmark landscape of bench_landscape.py refined to N x N cells: the
same extent (10 km a side), the same 30 sample points, its friction map
(32-bit reals) and byte binary map (forest), and each cell taking
the value of the 1000 x 1000 cell it lies in (row r of N in row r*1000//N of
1000, likewise columns), so that N = 1000 is bench_landscape.py's landscape.
Written a band of rows at a time through numpy memory maps: a 31623 x 31623
friction map (4 GB) never sits in memory whole.
Usage: scale_landscape.py BASE_FOLDER N OUT_FOLDER
BASE_FOLDER holds bench_landscape.py's output."""
import os, sys
import numpy as np

base, n, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
m = 1000
band = max(1, (64 << 20) // (4 * n))  # rows per band: about 64 MB of reals


def doc(name, n):
    # The base documentation with the grid's size and cell side changed.
    lines = open(os.path.join(base, name + ".rdc"), "rb").read().decode().split("\r\n")
    new = {"columns": str(n), "rows": str(n), "resolution": "%.17g" % (10.0 * m / n)}
    res = []
    for line in lines:
        key = line.split(":", 1)[0].strip()
        res.append("%-12s: %s" % (key, new[key]) if key in new else line)
    with open(os.path.join(out, name + ".rdc"), "wb") as f:
        f.write("\r\n".join(res).encode())


os.makedirs(out, exist_ok=True)
cols = np.arange(n, dtype=np.int64) * m // n
for name, dtype in (("friction", np.float32), ("forest", np.uint8)):
    src = np.fromfile(os.path.join(base, name + ".rst"), dtype=dtype).reshape(m, m)
    tmp = os.path.join(out, name + ".rst.part")
    img = np.memmap(tmp, dtype=dtype, mode="w+", shape=(n, n))
    for r0 in range(0, n, band):
        rows = np.arange(r0, min(n, r0 + band), dtype=np.int64) * m // n
        img[r0:r0 + len(rows)] = src[rows[:, None], cols[None, :]]
    img.flush()
    del img
    os.replace(tmp, os.path.join(out, name + ".rst"))
    doc(name, n)
with open(os.path.join(base, "samples.txt"), "rb") as f:
    samples = f.read()
with open(os.path.join(out, "samples.txt"), "wb") as f:
    f.write(samples)
