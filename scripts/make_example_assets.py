#!/usr/bin/env python3
"""Writes the meshes and images that the example models use.

    python3 scripts/make_example_assets.py

writes ASCII STL files into examples/meshes/ and 24-bit BMP files into
examples/images/. The output is the same on every run, so the generated files
are kept in the repository and this script only needs to run again when a
shape or image is changed here.

Meshes are in metres and modelled with y up, like the example models: a model
places a mesh through the local coordinate system its shape refers to. Every
triangle is written counter-clockwise as seen from outside, so with the normal
sign "+" in the model the triangle normals point outwards.

Images are uncompressed 24-bit BMP with rows of 3*width bytes, a multiple of
four, so no row padding is needed.
"""

import math
import os
import struct
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
MESH_DIR = os.path.join(ROOT, "examples", "meshes")
IMAGE_DIR = os.path.join(ROOT, "examples", "images")


# --------------------------------------------------------------------------
# Geometry helpers

def sub(a, b):
    return (a[0] - b[0], a[1] - b[1], a[2] - b[2])


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def dot(a, b):
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]


def unit(a):
    n = math.sqrt(dot(a, a))
    return (a[0] / n, a[1] / n, a[2] / n)


def clean(v):
    """Rounds away float noise so that equal corners are written identically."""
    return tuple(0.0 if abs(round(c, 9)) == 0.0 else round(c, 9) for c in v)


def quad(a, b, c, d):
    """Two triangles of the quad a-b-c-d, given counter-clockwise from outside."""
    return [(a, b, c), (a, c, d)]


def grid_quad(origin, du, dv, nu, nv):
    """The parallelogram origin + s*du + t*dv (s, t in 0..1) cut into nu x nv
    cells. Its outward side is du x dv."""
    tris = []
    for i in range(nu):
        for j in range(nv):
            def p(a, b):
                s, t = a / nu, b / nv
                return tuple(origin[k] + s * du[k] + t * dv[k] for k in range(3))
            tris += quad(p(i, j), p(i + 1, j), p(i + 1, j + 1), p(i, j + 1))
    return tris


def box(x0, x1, y0, y1, z0, z1, nx=1, ny=1, nz=1):
    """A closed box, each face cut into cells so that neighbouring faces share
    their edge points."""
    lx, ly, lz = x1 - x0, y1 - y0, z1 - z0
    tris = []
    # +y (top) and -y (bottom)
    tris += grid_quad((x0, y1, z1), (lx, 0, 0), (0, 0, -lz), nx, nz)
    tris += grid_quad((x0, y0, z0), (lx, 0, 0), (0, 0, lz), nx, nz)
    # +x and -x
    tris += grid_quad((x1, y0, z1), (0, 0, -lz), (0, ly, 0), nz, ny)
    tris += grid_quad((x0, y0, z0), (0, 0, lz), (0, ly, 0), nz, ny)
    # +z and -z
    tris += grid_quad((x0, y0, z1), (lx, 0, 0), (0, ly, 0), nx, ny)
    tris += grid_quad((x1, y0, z0), (-lx, 0, 0), (0, ly, 0), nx, ny)
    return tris


def cube(edge):
    h = edge / 2.0
    return box(-h, h, -h, h, -h, h)


def plate(size_x, size_z, thickness, cells):
    """A thin box whose top face lies at y = 0, centred on x and z."""
    hx, hz = size_x / 2.0, size_z / 2.0
    return box(-hx, hx, -thickness, 0.0, -hz, hz, cells, 1, cells)


def ramp(length, height, width, cells):
    """A wedge: floor y = 0 from x = 0 to length, the slope rising along x to
    the vertical back face at x = length; centred on z."""
    hz = width / 2.0
    tris = []
    # slope, floor and back face
    tris += grid_quad((0.0, 0.0, -hz), (0, 0, width), (length, height, 0), cells, cells)
    tris += grid_quad((0.0, 0.0, -hz), (length, 0, 0), (0, 0, width), cells, cells)
    tris += grid_quad((length, 0.0, hz), (0, 0, -width), (0, height, 0), cells, cells)
    # the two triangular sides, on the points (i, j) with j <= i of a grid,
    # so that their edges carry the same points as the faces above
    for zs in (hz, -hz):
        def p(i, j):
            return (length * i / cells, height * j / cells, zs)
        for i in range(cells):
            for j in range(i + 1):
                side = [(p(i, j), p(i + 1, j), p(i + 1, j + 1))]
                if j < i:
                    side.append((p(i, j), p(i + 1, j + 1), p(i, j + 1)))
                tris += [orient(t, (0.0, 0.0, zs)) for t in side]
    return tris


def orient(t, outward):
    """The triangle t, its corners swapped if needed so that it faces `outward`."""
    n = cross(sub(t[1], t[0]), sub(t[2], t[0]))
    return t if dot(n, outward) > 0 else (t[0], t[2], t[1])


def icosphere(radius, levels):
    t = (1.0 + math.sqrt(5.0)) / 2.0
    verts = [unit(v) for v in [
        (-1, t, 0), (1, t, 0), (-1, -t, 0), (1, -t, 0),
        (0, -1, t), (0, 1, t), (0, -1, -t), (0, 1, -t),
        (t, 0, -1), (t, 0, 1), (-t, 0, -1), (-t, 0, 1)]]
    faces = [(0, 11, 5), (0, 5, 1), (0, 1, 7), (0, 7, 10), (0, 10, 11),
             (1, 5, 9), (5, 11, 4), (11, 10, 2), (10, 7, 6), (7, 1, 8),
             (3, 9, 4), (3, 4, 2), (3, 2, 6), (3, 6, 8), (3, 8, 9),
             (4, 9, 5), (2, 4, 11), (6, 2, 10), (8, 6, 7), (9, 8, 1)]
    for _ in range(levels):
        cache = {}

        def mid(a, b):
            key = (min(a, b), max(a, b))
            if key not in cache:
                va, vb = verts[a], verts[b]
                verts.append(unit(((va[0] + vb[0]) / 2, (va[1] + vb[1]) / 2, (va[2] + vb[2]) / 2)))
                cache[key] = len(verts) - 1
            return cache[key]

        new = []
        for a, b, c in faces:
            ab, bc, ca = mid(a, b), mid(b, c), mid(c, a)
            new += [(a, ab, ca), (b, bc, ab), (c, ca, bc), (ab, bc, ca)]
        faces = new
    pts = [tuple(radius * c for c in v) for v in verts]
    tris = [(pts[a], pts[b], pts[c]) for a, b, c in faces]
    # every face must point away from the centre
    return [orient(tr, tuple(sum(p[k] for p in tr) for k in range(3))) for tr in tris]


def check_closed(name, tris):
    """Every edge must be shared by exactly two triangles that run along it in
    opposite directions, and the enclosed volume must be positive: then the
    mesh is closed and all its normals point outwards."""
    edges = {}
    volume = 0.0
    for tr in tris:
        tr = tuple(clean(p) for p in tr)
        for a, b in ((tr[0], tr[1]), (tr[1], tr[2]), (tr[2], tr[0])):
            edges[(a, b)] = edges.get((a, b), 0) + 1
        volume += dot(tr[0], cross(tr[1], tr[2])) / 6.0
    for (a, b), n in edges.items():
        if n != 1 or edges.get((b, a)) != 1:
            raise ValueError("%s: edge %s-%s is not shared by two opposite triangles" % (name, a, b))
    if volume <= 0.0:
        raise ValueError("%s: normals point inwards" % name)
    return volume


# --------------------------------------------------------------------------
# Writers

def write_stl(path, name, tris):
    lines = ["solid " + name]
    for tr in tris:
        tr = tuple(clean(p) for p in tr)
        n = clean(unit(cross(sub(tr[1], tr[0]), sub(tr[2], tr[0]))))
        lines.append("facet normal %.6g %.6g %.6g" % n)
        lines.append(" outer loop")
        for p in tr:
            lines.append("  vertex %.9g %.9g %.9g" % p)
        lines.append(" endloop")
        lines.append("endfacet")
    lines.append("endsolid " + name)
    with open(path, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    return len(tris)


def write_bmp(path, width, height, pixel):
    """pixel(x, y) -> (r, g, b), y = 0 the bottom row."""
    row = 3 * width
    if row % 4:
        raise ValueError("3*width must be a multiple of 4")
    data = bytearray()
    for y in range(height):
        for x in range(width):
            r, g, b = pixel(x, y)
            data += bytes((b, g, r))
    header = b"BM" + struct.pack("<IHHI", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + bytes(data))


def checker(x, y):
    light = (235, 235, 225)
    dark = (60, 70, 90)
    return light if ((x // 8) + (y // 8)) % 2 == 0 else dark


STRIPE_COLOURS = [(200, 40, 40), (240, 240, 240), (40, 80, 200), (240, 200, 40)]


def stripes(x, y):
    return STRIPE_COLOURS[(x // 16) % len(STRIPE_COLOURS)]


def main():
    os.makedirs(MESH_DIR, exist_ok=True)
    os.makedirs(IMAGE_DIR, exist_ok=True)
    meshes = [
        ("cube.stl", "cube", cube(0.1)),
        ("plate.stl", "plate", plate(1.0, 1.0, 0.05, 8)),
        ("ramp.stl", "ramp", ramp(1.0, 0.3, 0.5, 4)),
        ("sphere.stl", "sphere", icosphere(0.05, 2)),
    ]
    for file, name, tris in meshes:
        volume = check_closed(name, tris)
        n = write_stl(os.path.join(MESH_DIR, file), name, tris)
        print("%-28s %5d triangles, volume %.6f m^3" % (os.path.join("examples", "meshes", file), n, volume))
    images = [
        ("checker.bmp", 64, 64, checker),
        ("stripes.bmp", 128, 32, stripes),
    ]
    for file, w, h, fn in images:
        write_bmp(os.path.join(IMAGE_DIR, file), w, h, fn)
        print("%-28s %3d x %d" % (os.path.join("examples", "images", file), w, h))
    return 0


if __name__ == "__main__":
    sys.exit(main())
