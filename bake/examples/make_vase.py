#!/usr/bin/env python3
"""Writes the bake's example asset: a small vase with a lid, as an OBJ.

Three UV islands, each with its own normals: the body, turned on a lathe,
unrolled into the top of the UV square with a seam where its two ends meet
(u = 0.02 and u = 0.98 are the same edge of the mesh); the bottom, a flat
disc at the lower left; the lid, a dome laid out as a disc at the lower
right. The body and the bottom meet at a hard edge. Y is up.

    make_vase.py [OUT.obj]      (default: vase.obj beside this script)

The file is written the same way every time (four decimals, fixed order),
so that the committed copy can be checked against the script.
"""
import math
import os
import sys

AROUND = 48  # segments around the axis
ALONG = 16  # segments up the body
DOME = 6  # rings of the lid

BODY_UV = (0.02, 0.98, 0.36, 0.98)  # u0, u1, v0, v1
BOTTOM_UV = (0.25, 0.17, 0.15)  # centre u, v and radius
LID_UV = (0.75, 0.17, 0.15)
HEIGHT = 1.6
LID_HEIGHT = 0.25


def radius(t):
    """The body's radius at height fraction t: a foot, a belly and a neck."""
    return 0.30 + 0.22 * math.sin(math.pi * (0.15 + 0.85 * t)) ** 2 - 0.08 * t


def slope(t, h=1e-4):
    return (radius(t + h) - radius(t - h)) / (2 * h)


class Obj:
    def __init__(self):
        self.v, self.vt, self.vn, self.f = [], [], [], []

    def vertex(self, p, uv, n):
        """One corner: position, UV and normal, all new; returns its index."""
        length = math.sqrt(sum(c * c for c in n))
        self.v.append(p)
        self.vt.append(uv)
        self.vn.append(tuple(c / length for c in n))
        return len(self.v)

    def face(self, *corners):
        self.f.append(corners)

    def text(self, comment):
        def num(x):
            s = f"{x:.4f}"
            return "0.0000" if s == "-0.0000" else s

        lines = [f"# {line}" for line in comment]
        lines += ["v " + " ".join(num(c) for c in p) for p in self.v]
        lines += ["vt " + " ".join(num(c) for c in uv) for uv in self.vt]
        lines += ["vn " + " ".join(num(c) for c in n) for n in self.vn]
        lines += ["f " + " ".join(f"{i}/{i}/{i}" for i in face) for face in self.f]
        return "\n".join(lines) + "\n"


def body(obj):
    u0, u1, v0, v1 = BODY_UV
    grid = []
    for j in range(ALONG + 1):
        t = j / ALONG
        r, dr = radius(t), slope(t)
        row = []
        # AROUND + 1 columns: the first and last lie on the seam, one on each
        # side of it.
        for i in range(AROUND + 1):
            a = 2 * math.pi * i / AROUND
            c, s = math.cos(a), math.sin(a)
            p = (r * s, HEIGHT * t, r * c)
            # Square to the profile's tangent (dr/dt, height) and the circle.
            n = (s * HEIGHT, -dr, c * HEIGHT)
            uv = (u0 + (u1 - u0) * i / AROUND, v0 + (v1 - v0) * t)
            row.append(obj.vertex(p, uv, n))
        grid.append(row)
    for j in range(ALONG):
        for i in range(AROUND):
            obj.face(grid[j][i], grid[j][i + 1], grid[j + 1][i + 1], grid[j + 1][i])


def disc(obj, centre_uv, y, r, normal, flip):
    """A flat disc facing `normal`, laid out as a disc in UV."""
    cu, cv, cr = centre_uv
    centre = obj.vertex((0.0, y, 0.0), (cu, cv), normal)
    ring = []
    for i in range(AROUND):
        a = 2 * math.pi * i / AROUND
        c, s = math.cos(a), math.sin(a)
        ring.append(obj.vertex((r * s, y, r * c), (cu + cr * s, cv + cr * c), normal))
    for i in range(AROUND):
        a, b = ring[i], ring[(i + 1) % AROUND]
        obj.face(centre, b, a) if flip else obj.face(centre, a, b)


def lid(obj):
    """A dome on the neck; its UVs a disc, the pole at the centre."""
    cu, cv, cr = LID_UV
    r0 = radius(1.0)
    rings = []
    for k in range(DOME + 1):
        phi = (math.pi / 2) * k / DOME  # 0 at the rim, pi/2 at the pole
        ring = []
        for i in range(AROUND if k < DOME else 1):
            a = 2 * math.pi * i / AROUND
            c, s = math.cos(a), math.sin(a)
            x, y, z = r0 * math.cos(phi) * s, math.sin(phi), r0 * math.cos(phi) * c
            p = (x, HEIGHT + LID_HEIGHT * y, z)
            n = (x / r0, y / LID_HEIGHT, z / r0)
            d = cr * (1 - k / DOME)
            ring.append(obj.vertex(p, (cu + d * s, cv + d * c), n))
        rings.append(ring)
    for k in range(DOME - 1):
        for i in range(AROUND):
            j = (i + 1) % AROUND
            obj.face(rings[k][i], rings[k][j], rings[k + 1][j], rings[k + 1][i])
    pole = rings[DOME][0]
    for i in range(AROUND):
        obj.face(rings[DOME - 1][i], rings[DOME - 1][(i + 1) % AROUND], pole)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "vase.obj")
    obj = Obj()
    body(obj)
    disc(obj, BOTTOM_UV, 0.0, radius(0.0), (0.0, -1.0, 0.0), True)
    lid(obj)
    comment = ["strataMix's example asset for stratamix bake, made by bake/examples/make_vase.py:",
               "a vase with a lid; three UV islands (body with a seam, bottom, lid)."]
    with open(out, "w", newline="\n") as f:
        f.write(obj.text(comment))


if __name__ == "__main__":
    main()
