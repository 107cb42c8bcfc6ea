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
input reaches the shader with exactly the bits chosen here.
"""

import argparse
import json
import random
import struct
import sys

MODES = 23
PHOTON_RAYS = [8, 9, 10, 11, 12, 13, 14, 15, 18, 19, 20, 23, 24]
REFLECTION_RAYS = [2, 3]
OTHER_RAYS = [r for r in range(27) if r not in PHOTON_RAYS + REFLECTION_RAYS]

# 32-bit patterns of the values that take edges: zeros of both signs, the
# infinities, NaNs (quiet and signalling, both signs), the subnormal and
# normal extremes.
SPECIAL_FLOATS = [
    0x00000000, 0x80000000, 0x7F800000, 0xFF800000, 0x7FC00000, 0xFFC00000,
    0x7FA00000, 0x7F800001, 0x00000001, 0x807FFFFF, 0x00800000, 0x7F7FFFFF,
]
# Values that settings compare against, and their neighbours.
NICE_FLOATS = [0.0, -0.0, 0.5, 1.0, -1.0, 2.0, 0.25, 0.75, 1.5, -0.5]

# Layer counts: none, each slot count, and beyond the record's eight slots.
LAYER_COUNTS = [-2147483648, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 100, 2147483647]
OUT_OF_RANGE_MODES = [-2147483648, -1, 23, 24, 99, 2147483647]
# A switch is on for any non-zero value; a gate only for exactly 1.
SWITCH_ON = [1, 1, 1, 2, -1]
GATE_OFF = [0, 0, 2, -1]

PARAMETER_NAMES = [
    "baseColor", "normalEnable", "layerCount", "normalMix", "normalScale",
    "skipPhotons", "skipReflections", "normalAsColor", "normalizeNormal",
    "blendEnable", "layerColor", "blendAmount", "blendMode", "useLayerAlpha",
    "hueAdjust", "saturationAdjust", "valueAdjust", "gamma", "offset",
    "contrast", "correctEnable", "outputNormal",
]
ARRAY_NAMES = ["layerEnable", "layerNormal", "layerWeight", "layerBalance"]


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

    def vector(self):
        return [self.float(-1.0, 1.0) for _ in range(3)]

    def setting(self, default, low, high, p_default=0.5):
        """A setting that is often left at the value that skips its step."""
        if self.chance(p_default):
            return pattern(float_bits(default))
        return self.float(low, high)


def random_params(d):
    """Every field drawn at random; the route then fixes what it needs."""
    return {
        "baseColor": d.color(-0.25, 1.25),
        "normalEnable": d.pick([0, 1]),
        "layerCount": d.pick(LAYER_COUNTS),
        "layerEnable": [d.pick([0, 1, 1, 3]) for _ in range(8)],
        "layerNormal": [d.vector() for _ in range(8)],
        "normalMix": d.setting(1.0, -0.5, 1.5),
        "layerWeight": [d.setting(1.0, -1.0, 2.0, 0.3) if not d.chance(0.1)
                        else pattern(0) for _ in range(8)],
        "layerBalance": [d.setting(0.5, -1.0, 2.0, 0.3) if not d.chance(0.1)
                         else pattern(0) for _ in range(8)],
        "normalScale": d.setting(1.0, -2.0, 2.0),
        "skipPhotons": d.pick([0, 1, 2, -1]),
        "skipReflections": d.pick([0, 1, 2, -1]),
        "normalAsColor": d.pick([0, 0, 1]),
        "normalizeNormal": d.pick([0, 1, 1]),
        "blendEnable": d.pick([0, 1, 1]),
        "layerColor": d.color(-0.25, 1.25),
        "blendAmount": d.setting(1.0, -0.5, 1.5),
        "blendMode": d.rng.randrange(MODES),
        "useLayerAlpha": d.pick([0, 1]),
        "hueAdjust": d.setting(0.0, -1.0, 1.0),
        "saturationAdjust": d.setting(0.0, -1.0, 1.0),
        "valueAdjust": d.setting(0.0, -1.0, 1.0),
        "gamma": d.setting(1.0, 0.1, 4.0),
        "offset": d.setting(0.0, -0.5, 0.5),
        "contrast": d.setting(1.0, -1.0, 3.0),
        "correctEnable": d.pick([0, 1]),
        "outputNormal": d.pick([0, 1]),
    }


def gates_off(d, p):
    """Neither gate fires: each gate switch is off, or the ray is not one it
    tests."""
    ray = d.pick(PHOTON_RAYS + REFLECTION_RAYS + OTHER_RAYS)
    if ray in PHOTON_RAYS:
        p["skipPhotons"] = d.pick(GATE_OFF)
    if ray in REFLECTION_RAYS:
        p["skipReflections"] = d.pick(GATE_OFF)
    return ray


def gate(d, p, photon, output_normal):
    p["normalEnable"] = d.pick(SWITCH_ON)
    p["outputNormal"] = d.pick(SWITCH_ON) if output_normal else 0
    if photon:
        p["skipPhotons"] = 1
        return d.pick(PHOTON_RAYS)
    p["skipReflections"] = 1
    if d.chance(0.5):
        p["skipPhotons"] = d.pick(GATE_OFF)
    return d.pick(REFLECTION_RAYS)


def normal_path(d, p, output_normal, as_color):
    p["normalEnable"] = d.pick(SWITCH_ON)
    p["outputNormal"] = d.pick(SWITCH_ON) if output_normal else 0
    p["normalAsColor"] = d.pick(SWITCH_ON) if as_color else 0
    return gates_off(d, p)


def color_path(d, p):
    """The colour path, reached with the normal stage run or skipped."""
    if d.chance(0.5):
        p["normalEnable"] = 0
        return d.rng.randrange(27)
    return normal_path(d, p, output_normal=False, as_color=False)


def corrections(d, p):
    """Each correction step on or off on its own; the HSV step sometimes with
    factors that sum to exactly 3 without each being 1."""
    p["correctEnable"] = d.pick(SWITCH_ON)
    steps = d.rng.randrange(16)
    zero, one = pattern(0), pattern(float_bits(1.0))
    if not steps & 1:
        p["hueAdjust"] = p["saturationAdjust"] = p["valueAdjust"] = zero
        if d.chance(0.2):
            p["hueAdjust"], p["saturationAdjust"] = pattern(float_bits(0.5)), pattern(
                float_bits(-0.5))
    if not steps & 2:
        p["gamma"] = one
    if not steps & 4:
        p["offset"] = zero
    if not steps & 8:
        p["contrast"] = one


def connections(d):
    roll = d.rng.random()
    if roll < 0.55:
        return "none"
    if roll < 0.75:
        return "all"
    names = d.rng.sample(PARAMETER_NAMES, d.rng.randrange(1, 6))
    if d.chance(0.5):
        names.append(d.pick(ARRAY_NAMES))
    if d.chance(0.5):
        names.append("%s[%d]" % (d.pick(ARRAY_NAMES), d.rng.randrange(8)))
    return names


# One cycle of routes: each exit of the call, with the colour path, where the
# arithmetic is, taken most often.
ROUTES = ["photon-normal", "photon-color", "reflect-normal", "reflect-color",
          "normal-out", "normal-as-color", "mode-out-of-range"] + ["color"] * 9


def make_case(d, index):
    p = random_params(d)
    route = ROUTES[index % len(ROUTES)]
    if route.startswith("photon") or route.startswith("reflect"):
        ray = gate(d, p, route.startswith("photon"), route.endswith("normal"))
    elif route == "normal-out":
        ray = normal_path(d, p, output_normal=True, as_color=d.chance(0.5))
    elif route == "normal-as-color":
        ray = normal_path(d, p, output_normal=False, as_color=True)
    elif route == "mode-out-of-range":
        ray = color_path(d, p)
        p["blendEnable"] = d.pick(SWITCH_ON)
        p["blendMode"] = d.pick(OUT_OF_RANGE_MODES)
        p["correctEnable"] = d.pick([0, 1])
    else:
        ray = color_path(d, p)
        # Every mode in turn, and now and then no blend at all.
        colour_index = index // len(ROUTES) * ROUTES.count("color") + (
            index % len(ROUTES) - ROUTES.index("color"))
        p["blendMode"] = colour_index % MODES
        p["blendEnable"] = 0 if colour_index % (MODES + 1) == MODES else d.pick(SWITCH_ON)
        if d.chance(0.7):
            corrections(d, p)
        else:
            p["correctEnable"] = 0
    return {"params": p, "rayType": ray, "normal": d.vector(), "connect": connections(d)}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=20000)
    parser.add_argument("--output", default="-", help="file to write (default: standard output)")
    args = parser.parse_args()

    d = Draw(args.seed)
    out = sys.stdout if args.output == "-" else open(args.output, "w", encoding="ascii", newline="\n")
    with out:
        for index in range(args.count):
            out.write(json.dumps(make_case(d, index), separators=(",", ":")) + "\n")


if __name__ == "__main__":
    main()
