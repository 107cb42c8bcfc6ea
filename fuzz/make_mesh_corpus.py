#!/usr/bin/env python3
"""Writes the seeds of mesh_fuzz into fuzz/mesh_corpus/: byte strings in the
target's own reading (fuzz/mesh_fuzz.cpp), each a scene worth starting from.

Each coordinate is a kind byte and its value: a kind of 128 or more is
followed by one byte b, the value b / 100; a kind of 0 to 63 is one of the
edge values (kind % 13: 0 NaN, 1 infinity, 2 minus infinity, 3 zero, ...);
64 to 127 is followed by the float's 32 bits, high byte first.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def c(x):
    """A coordinate in 0..2.55, to two decimals."""
    return bytes([200, round(x * 100)])


def bits(f):
    return bytes([64]) + struct.pack(">f", f)


def edge(i):
    return bytes([i])


def vertex(p, n, t, b, uv):
    return b"".join(p) + b"".join(n) + b"".join(t) + b"".join(b) + b"".join(uv)


def mesh(flags, vertices, faces):
    out = bytes([flags, len(vertices) - 1]) + b"".join(vertices) + bytes([len(faces)])
    for f in faces:
        out += bytes(f)
    return out


def scene(meshes, grid=(16, 2), root=None):
    out = bytes([len(meshes) - 1]) + b"".join(meshes)
    out += bytes([0]) if root is None else bytes([1]) + root
    return out + bytes([grid[0] - 1, grid[1] - 1])


Z, ONE = c(0), c(1)
N = (Z, Z, ONE)
T = (ONE, Z, Z)
B = (Z, ONE, Z)


def plane():
    corners = [(0, 0), (1, 0), (1, 1), (0, 1)]
    vs = [vertex((c(u), c(v), Z), N, T, B, (c(u), c(v))) for u, v in corners]
    return mesh(0, vs, [(0, 1, 2), (0, 2, 3)])


def soup():
    """NaN, infinities, a huge UV, a zero-area and a sliver triangle."""
    vs = [
        vertex((edge(0), Z, Z), N, T, B, (c(0.1), c(0.1))),
        vertex((Z, edge(1), Z), (Z, Z, Z), (edge(0),) * 3, B, (c(0.9), c(0.1))),
        vertex((Z, Z, edge(2)), N, T, B, (c(0.5), c(0.9))),
        vertex((Z, Z, Z), N, T, B, (bits(3e38), c(0.5))),
        vertex((Z, Z, Z), N, T, B, (c(0.5), c(0.5))),
        vertex((Z, Z, Z), N, T, B, (c(0.2), c(0.2))),
        vertex((Z, Z, Z), N, T, B, (c(0.2), bits(0.2000001))),
        vertex((Z, Z, Z), N, T, B, (c(2.5), c(0.2))),
    ]
    return mesh(8, vs, [(0, 1, 2), (0, 3, 1), (4, 4, 4), (5, 6, 7), (2, 1, 0)])


def main():
    out = os.path.join(HERE, "mesh_corpus")
    os.makedirs(out, exist_ok=True)
    seeds = {
        "plane": scene([plane()]),
        "plane_twice_through_nodes": scene([plane(), plane()], (8, 3), bytes([1, 1]) + c(2) + c(1) + c(0.5) + bytes([1, 0, 1])),
        "soup": scene([soup()], (40, 4)),
        "no_uvs": scene([mesh(4, [vertex((Z, Z, Z), N, T, B, ())] * 3, [(0, 1, 2)])]),
    }
    for name, data in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
