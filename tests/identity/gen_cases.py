#!/usr/bin/env python3
"""Writes a seeded set of shader cases for `stratamix eval`, one JSON line each.

The cases walk every exit of the shader in turn (both gates with both
outputs, the normal path's two exits, a blend mode out of range, the colour
path), every blend mode, each colour-correction step alone and together,
layer counts from below zero to beyond the eight slots, switches holding
values other than 0 and 1, connected and unconnected parameters, and float
inputs that include NaNs, infinities, -0.0 and subnormals. The same seed
gives the same file on every machine, so that the answers of two builds of
the plug-in can be compared line by line.

Floats are written as their 32-bit patterns ("0x3f800000"), so that every
input reaches the shader with exactly the bits chosen here. The record's
fields, the switches of each route, the modes and the ray-type codes come
from the description of the contract (--description, the build tree's
description.json); each field is drawn by its kind and its useful range.

With --routes, each case's route goes to a file of its own, line for line:
the exit the case was made to take, the stages that run on the way (the
exit's stages from the description, those behind a switch only where the
case turns it on) and the blend mode when the colour layer blends with one.
--edge appends a table of hand-made cases, with their routes as --edge-routes
gives them.
"""

import argparse
import json
import os
import random
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "describe"))
import contract  # noqa: E402

# 32-bit patterns of the values that take edges: zeros of both signs, the
# infinities, NaNs (quiet and signalling, both signs), the subnormal and
# normal extremes.
SPECIAL_FLOATS = [
    0x00000000, 0x80000000, 0x7F800000, 0xFF800000, 0x7FC00000, 0xFFC00000,
    0x7FA00000, 0x7F800001, 0x00000001, 0x807FFFFF, 0x00800000, 0x7F7FFFFF,
]
# Values that settings compare against, and their neighbours.
NICE_FLOATS = [0.0, -0.0, 0.5, 1.0, -1.0, 2.0, 0.25, 0.75, 1.5, -0.5]

INT_MIN, INT_MAX = -2147483648, 2147483647
# A switch is on for any non-zero value; a gate only for exactly 1.
SWITCH_ON = [1, 1, 1, 2, -1]
GATE_OFF = [0, 0, 2, -1]


class Shape:
    """What the cases need of the contract, read from its description."""

    def __init__(self, c):
        self.c = c
        self.modes = len(c.modes)
        self.photon_rays = c.gate_codes("photonGate")
        self.reflection_rays = c.gate_codes("reflectionGate")
        # Every code a gate tests, and a few beyond the last.
        self.ray_codes = max(self.photon_rays + self.reflection_rays) + 3
        self.other_rays = [r for r in range(self.ray_codes)
                           if r not in self.photon_rays + self.reflection_rays]
        # Counts: none, each slot count, and beyond the record's slots.
        self.counts = [INT_MIN, -1] + list(range(c.slots + 2)) + [100, INT_MAX]
        self.out_of_range_modes = [INT_MIN, -1, self.modes, self.modes + 1, 99, INT_MAX]
        self.mode = c.the_field("mode")["name"]
        self.single_names = [f["name"] for f in c.fields if f["slots"] == 1]
        self.arrays = c.arrays()
        self.corrections = c.of_kind("scalar", "correction")
        # The hue, saturation and value adjusters: factors of 1 + x.
        self.adjusters = [f["name"] for f in self.corrections
                          if f["neutral"] == [0] and f["min"] == -1]
        self.cycle = route_cycle(c)

    def switch(self, route):
        return self.c.route(route)


def pattern(bits):
    return "0x%08x" % bits


def float_bits(value):
    return struct.unpack("<I", struct.pack("<f", value))[0]


class Draw:
    """Random inputs of each kind, from one seeded generator."""

    def __init__(self, seed):
        self.rng = random.Random(seed)

    def pick(self, values):
        return self.rng.choice(values)

    def chance(self, p):
        return self.rng.random() < p

    def float(self, low=0.0, high=1.0):
        """Mostly uniform in [low, high]; sometimes a value that takes an
        edge, or one of any magnitude."""
        roll = self.rng.random()
        if roll < 0.06:
            return pattern(self.pick(SPECIAL_FLOATS))
        if roll < 0.16:
            return pattern(float_bits(self.pick(NICE_FLOATS)))
        if roll < 0.24:
            magnitude = 2.0 ** self.rng.uniform(-40.0, 40.0)
            return pattern(float_bits(magnitude if self.chance(0.5) else -magnitude))
        return pattern(float_bits(self.rng.uniform(low, high)))

    def color(self, low=0.0, high=1.0):
        return [self.float(low, high) for _ in range(4)]

    def vector(self, low=-1.0, high=1.0):
        return [self.float(low, high) for _ in range(3)]

    def setting(self, default, low, high, p_default=0.5):
        """A setting that is often left at the value that skips its step."""
        if self.chance(p_default):
            return pattern(float_bits(default))
        return self.float(low, high)


def widened(field):
    """The field's useful range, and a quarter of it beyond each end."""
    margin = (field["max"] - field["min"]) / 4
    return field["min"] - margin, field["max"] + margin


def draw(d, shape, field):
    """One slot of a field, drawn by its kind."""
    kind = field["kind"]
    if kind == "toggle":
        return d.pick([0, 1, 1, 3])
    if kind == "gate":
        return d.pick([0, 1, 2, -1])
    if kind == "count":
        return d.pick(shape.counts)
    if kind == "mode":
        return d.rng.randrange(shape.modes)
    low, high = widened(field)
    if kind == "color":
        return d.color(low, high)
    if kind == "vector":
        return d.vector(low, high)
    if field["slots"] > 1:
        # A slot's weight or balance of exactly 0 adds nothing.
        return pattern(0) if d.chance(0.1) else d.setting(field["neutral"][0], low, high, 0.3)
    return d.setting(field["neutral"][0], low, high)


def random_params(d, shape):
    """Every field drawn at random; the route then fixes what it needs."""
    return {f["name"]: draw(d, shape, f) if f["slots"] == 1
            else [draw(d, shape, f) for _ in range(f["slots"])] for f in shape.c.fields}


def gates_off(d, shape, p):
    """Neither gate fires: each gate switch is off, or the ray is not one it
    tests."""
    ray = d.pick(shape.photon_rays + shape.reflection_rays + shape.other_rays)
    if ray in shape.photon_rays:
        p[shape.switch("photonGate")] = d.pick(GATE_OFF)
    if ray in shape.reflection_rays:
        p[shape.switch("reflectionGate")] = d.pick(GATE_OFF)
    return ray


def gate(d, shape, p, photon, output_normal):
    p[shape.switch("normalStage")] = d.pick(SWITCH_ON)
    p[shape.switch("outputNormal")] = d.pick(SWITCH_ON) if output_normal else 0
    if photon:
        p[shape.switch("photonGate")] = 1
        return d.pick(shape.photon_rays)
    p[shape.switch("reflectionGate")] = 1
    if d.chance(0.5):
        p[shape.switch("photonGate")] = d.pick(GATE_OFF)
    return d.pick(shape.reflection_rays)


def normal_path(d, shape, p, output_normal, as_color):
    p[shape.switch("normalStage")] = d.pick(SWITCH_ON)
    p[shape.switch("outputNormal")] = d.pick(SWITCH_ON) if output_normal else 0
    p[shape.switch("normalAsColor")] = d.pick(SWITCH_ON) if as_color else 0
    return gates_off(d, shape, p)


def color_path(d, shape, p):
    """The colour path, reached with the normal stage run or skipped."""
    if d.chance(0.5):
        p[shape.switch("normalStage")] = 0
        return d.rng.randrange(shape.ray_codes)
    return normal_path(d, shape, p, output_normal=False, as_color=False)


def corrections(d, shape, p):
    """Each correction step on or off on its own (left at its neutral value);
    the HSV step sometimes with factors that sum to exactly 3 without each
    being 1."""
    p[shape.switch("correction")] = d.pick(SWITCH_ON)
    for f in shape.corrections:
        if d.chance(0.5):
            p[f["name"]] = pattern(float_bits(f["neutral"][0]))
    if all(p[name] == pattern(0) for name in shape.adjusters) and d.chance(0.2):
        p[shape.adjusters[0]] = pattern(float_bits(0.5))
        p[shape.adjusters[1]] = pattern(float_bits(-0.5))


def connections(d, shape):
    roll = d.rng.random()
    if roll < 0.55:
        return "none"
    if roll < 0.75:
        return "all"
    names = d.rng.sample(shape.single_names, d.rng.randrange(1, 6))
    if d.chance(0.5):
        names.append(d.pick(shape.arrays)["name"])
    if d.chance(0.5):
        field = d.pick(shape.arrays)
        names.append(shape.c.slot_name(field, d.rng.randrange(field["slots"])))
    return names


# One cycle of routes: each exit of the call, in the description's order,
# with the colour path, where the arithmetic is, taken most often.
COLOR_EXIT_TURNS = 9


def route_cycle(c):
    names = [e["name"] for e in c.exits]
    if set(names) != set(EXIT_MAKERS):
        raise SystemExit("gen_cases.py: the description's exits %s are not the ones cases are made "
                         "for, %s" % (sorted(names), sorted(EXIT_MAKERS)))
    return [n for n in names if n != "color"] + ["color"] * COLOR_EXIT_TURNS


def route_of(shape, exit_name, p):
    """The route of a case made for an exit: the exit, the stages that run
    (behind a switch only where the case turns it on) and the blend mode, or
    null where the colour layer does not blend or its mode is out of range."""
    c = shape.c
    stages = [s["stage"] for s in c.exit_named(exit_name)["stages"]
              if s["when"] is None or p[c.route(s["when"])] != 0]
    mode = p[shape.mode]
    blends = "layer" in stages and p[c.route("blend")] != 0 and 0 <= mode < shape.modes
    return {"set": "seeded", "exit": exit_name, "stages": stages,
            "mode": mode if blends else None}


# The exits the cases are made for; route_cycle holds them to the description.
EXIT_MAKERS = {"photon-normal", "photon-color", "reflect-normal", "reflect-color",
               "normal-out", "normal-as-color", "mode-out-of-range", "color"}


def make_case(d, shape, index):
    """One case and its route."""
    p = random_params(d, shape)
    routes = shape.cycle
    route = routes[index % len(routes)]
    if route.startswith("photon") or route.startswith("reflect"):
        ray = gate(d, shape, p, route.startswith("photon"), route.endswith("normal"))
    elif route == "normal-out":
        ray = normal_path(d, shape, p, output_normal=True, as_color=d.chance(0.5))
    elif route == "normal-as-color":
        ray = normal_path(d, shape, p, output_normal=False, as_color=True)
    elif route == "mode-out-of-range":
        ray = color_path(d, shape, p)
        p[shape.switch("blend")] = d.pick(SWITCH_ON)
        p[shape.mode] = d.pick(shape.out_of_range_modes)
        p[shape.switch("correction")] = d.pick([0, 1])
    else:
        ray = color_path(d, shape, p)
        # Every mode in turn, and now and then no blend at all.
        colour_index = index // len(routes) * routes.count("color") + (
            index % len(routes) - routes.index("color"))
        p[shape.mode] = colour_index % shape.modes
        p[shape.switch("blend")] = (0 if colour_index % (shape.modes + 1) == shape.modes
                                    else d.pick(SWITCH_ON))
        if d.chance(0.7):
            corrections(d, shape, p)
        else:
            p[shape.switch("correction")] = 0
    case = {"params": p, "rayType": ray, "normal": d.vector(), "connect": connections(d, shape)}
    return case, route_of(shape, route, p)


def edge_table(cases_path, routes_path):
    """The hand-made cases as they are written, with their routes."""
    with open(cases_path, encoding="utf-8") as f:
        cases = [line.rstrip("\r\n") for line in f if line.strip()]
    with open(routes_path, encoding="utf-8") as f:
        routes = [dict(json.loads(line), set="edge") for line in f if line.strip()]
    if len(cases) != len(routes):
        raise SystemExit("gen_cases.py: %d cases in %s but %d routes in %s"
                         % (len(cases), cases_path, len(routes), routes_path))
    return zip(cases, routes)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--description", required=True,
                        help="the description of the contract (stratamix describe)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=20000)
    parser.add_argument("--output", default="-", help="file to write (default: standard output)")
    parser.add_argument("--routes", help="file to write each case's route to, line for line")
    parser.add_argument("--edge", help="hand-made cases to append after the seeded ones")
    parser.add_argument("--edge-routes", help="the routes of the --edge cases, line for line")
    args = parser.parse_args()
    if bool(args.edge) != bool(args.edge_routes):
        parser.error("--edge and --edge-routes go together")

    shape = Shape(contract.load(args.description))
    d = Draw(args.seed)
    lines = []
    for index in range(args.count):
        case, route = make_case(d, shape, index)
        lines.append((json.dumps(case, separators=(",", ":")), route))
    if args.edge:
        lines += edge_table(args.edge, args.edge_routes)
    out = sys.stdout if args.output == "-" else open(args.output, "w", encoding="ascii", newline="\n")
    with out:
        out.writelines(case + "\n" for case, _ in lines)
    if args.routes:
        with open(args.routes, "w", encoding="ascii", newline="\n") as f:
            f.writelines(json.dumps(route, separators=(",", ":")) + "\n" for _, route in lines)


if __name__ == "__main__":
    main()
