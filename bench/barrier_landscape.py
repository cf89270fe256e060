#!/usr/bin/env python3
"""A friction map with a barrier, for the resistance distance's accuracy.
Usage: barrier_landscape.py DIR ROWS COLS BARRIER [--exact]

Writes DIR/friction.rst/.rdc (IDRISI, 32-bit reals: integers 1..20 from a fixed
generator, the middle column COLS // 2 at BARRIER) and DIR/samples.txt (four
points, two on each side of the barrier). With --exact (needs mpmath) prints
"i j R_ij R_ji" for every pair: the effective resistance of the circuit
stravex-cli builds, by banded Gaussian elimination of the Laplacian grounded at
j in 60-digit arithmetic (both orders, as a check). Slow: minutes for 50 x 50."""
import array, os, sys, itertools
out, rows, cols, barrier = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
os.makedirs(out, exist_ok=True)
state = 987654321
def rand(m):
    global state
    state = (state * 6364136223846793005 + 1442695040888963407) % (1 << 64)
    return (state >> 33) % m
f = [[float(1 + rand(20)) for c in range(cols)] for r in range(rows)]
bc = cols // 2
for r in range(rows): f[r][bc] = barrier
fl = array.array("f", [v for row in f for v in row])
f = [[float(fl[r * cols + c]) for c in range(cols)] for r in range(rows)]  # as stored
with open(os.path.join(out, "friction.rst"), "wb") as h: fl.tofile(h)
doc = [("file format", "IDRISI Raster A.1"), ("file title", "friction"), ("data type", "real"),
       ("file type", "binary"), ("columns", str(cols)), ("rows", str(rows)), ("ref. system", "plane"),
       ("ref. units", "m"), ("unit dist.", "1"), ("min. X", "0"), ("max. X", str(cols)),
       ("min. Y", "0"), ("max. Y", str(rows)), ("pos'n error", "unknown"), ("resolution", "1"),
       ("min. value", "1"), ("max. value", repr(barrier)), ("display min", "1"),
       ("display max", repr(barrier)), ("value units", "unknown"), ("value error", "unknown"),
       ("flag value", "none"), ("flag def'n", "no background"), ("legend cats", "0")]
with open(os.path.join(out, "friction.rdc"), "wb") as h:
    h.write("".join("%-12s: %s\r\n" % kv for kv in doc).encode())
if rows == 1: pts = [(0, 0), (0, 10), (0, cols - 15), (0, cols - 1)]
else: pts = [(rows // 5, cols // 10), (rows * 4 // 5, cols * 2 // 5), (rows // 4, cols * 3 // 5), (rows * 9 // 10, cols * 9 // 10)]
n = len(pts)
lines = ["[Sample size]", str(n), "[Coordinates]"] + ["%.1f\t%.1f" % (c + 0.5, rows - r - 0.5) for r, c in pts]
lines.append("[Genetic distance]")
for i in range(n): lines.append("\t".join("0.1" if i != j else "0" for j in range(i + 1)))
with open(os.path.join(out, "samples.txt"), "w") as h: h.write("\n".join(lines) + "\n")
if "--exact" not in sys.argv: sys.exit()
import mpmath
mpmath.mp.dps = 60
M = mpmath.mpf
N = rows * cols
def g(a, b, corner):
    return M(2) / ((mpmath.sqrt(2) if corner else 1) * (M(a) + M(b)))
# Banded Laplacian (bandwidth cols + 1), dict rows
bw = cols + 1
def lap():
    A = [dict() for _ in range(N)]
    for r in range(rows):
        for c in range(cols):
            for dr, dc in ((0, 1), (1, -1), (1, 0), (1, 1)):
                rr, cc = r + dr, c + dc
                if rr >= rows or cc < 0 or cc >= cols: continue
                x = g(f[r][c], f[rr][cc], dr != 0 and dc != 0)
                i, j = r * cols + c, rr * cols + cc
                A[i][j] = A[i].get(j, 0) - x; A[j][i] = A[j].get(i, 0) - x
                A[i][i] = A[i].get(i, 0) + x; A[j][j] = A[j].get(j, 0) + x
    return A
base = lap()
idx = [r * cols + c for r, c in pts]
res = {}
for q in range(n):
    gq = idx[q]
    # band LU (symmetric, no pivoting) of the Laplacian with node gq removed: replace row/col by identity
    A = [dict(row) for row in base]
    for k in list(A[gq].keys()):
        if k != gq: del A[k][gq]
    A[gq] = {gq: M(1)}
    for k in range(N):
        piv = A[k][k]
        for i in range(k + 1, min(N, k + bw + 1)):
            aik = A[i].get(k)
            if aik is None or aik == 0: continue
            l = aik / piv
            for j, akj in A[k].items():
                if j > k: A[i][j] = A[i].get(j, 0) - l * akj
            A[i][k] = l  # store L below
    for p in range(n):
        if p == q: continue
        b = [M(0)] * N; b[idx[p]] = M(1)
        for i in range(N):
            s = b[i]
            for j, v in A[i].items():
                if j < i: s -= v * b[j]
            b[i] = s
        for i in range(N - 1, -1, -1):
            s = b[i]
            for j, v in A[i].items():
                if j > i: s -= v * b[j]
            b[i] = s / A[i][i]
        res[(p, q)] = b[idx[p]]
for p, q in itertools.combinations(range(n), 2):
    print(p, q, mpmath.nstr(res[(p, q)], 20), mpmath.nstr(res[(q, p)], 20))
