#!/usr/bin/env python3
"""The benchmark landscape: a 1000 x 1000 friction map, a binary and a
quantitative map and 30 sample points (435 pairs), from a fixed generator.
Usage: bench_landscape.py FOLDER"""
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
           ("flag value", "none"), ("flag def'n", "none"), ("legend cats", "0")]
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
