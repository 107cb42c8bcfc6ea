#!/usr/bin/python3
"""Writes the fuzzer's seed corpus (fuzz/corpus/): one input per kind of call,
laid out as strata_fuzz.cpp reads it, the record laid out by the description
of the contract (stratamix describe). Run it again after changing a seed:

    fuzz/make_corpus.py --description build/native/description.json

The test fuzz_seed_corpus checks that the committed corpus is what it writes."""
import argparse
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "describe"))
import contract  # noqa: E402

# Layer normals and colours the busy seeds cycle through.
VECTORS = [(1.0, 0.0, 0.0), (0.0, 1.0, 0.0), (0.0, 0.0, -1.0), (0.5, 0.5, 0.5)]
COLORS = [(0.25, 0.5, 0.75, 1.0), (0.75, 0.25, 0.5, 0.5)]
RED = (1.0, 0.0, 0.0, 1.0)


class Seeds:
    def __init__(self, c):
        self.c = c
        self.tag_words = c.record_size // 4
        self.switches = set(c.routes.values())

    def record(self, values):
        """Arrays as lists of slots, colours and vectors as tuples."""
        data = bytearray(self.c.record_size)
        for name, value in values.items():
            f = self.c.by_name[name]
            size, fmt = self.c.slot_size(f), "<" + self.c.slot_format(f)
            for i, slot in enumerate(value if f["slots"] > 1 else [value]):
                packed = struct.pack(fmt, *(slot if isinstance(slot, tuple) else (slot,)))
                data[f["offset"] + i * size:f["offset"] + (i + 1) * size] = packed
        return bytes(data)

    def case(self, values, ray=0, normal=(0.0, 0.0, 1.0), tags_first=False, offset_off=False,
             connected=(), answers=b""):
        bitmap = bytearray((self.tag_words + 7) // 8)
        for name in connected:
            f = self.c.by_name[name]
            for i in range(f["slots"]):
                word = (f["offset"] + i * self.c.slot_size(f)) // 4
                bitmap[word // 8] |= 1 << (word % 8)
        flags = (1 if tags_first else 0) | (2 if offset_off else 0)
        return (self.record(values) + struct.pack("<i3fB", ray, *normal, flags) + bytes(bitmap)
                + answers)

    def busy(self, f, slot):
        """A value for a field that makes its stage work: a switch on, every
        slot visited, a float three quarters up its useful range."""
        kind = f["kind"]
        if kind == "toggle":
            return 1
        if kind == "gate":
            return 0
        if kind == "count":
            return self.c.slots
        if kind == "mode":
            return len(self.c.modes) - 1
        if kind == "color":
            return COLORS[slot % len(COLORS)]
        if kind == "vector":
            return VECTORS[slot % len(VECTORS)]
        return f["min"] + (f["max"] - f["min"]) * (0.75 if slot % 2 == 0 else 0.5)

    def busy_stage(self, stage, index=0):
        """Every field of a stage busy, but the switches that route the call,
        which each seed sets itself."""
        values = {}
        for f in self.c.fields:
            if f["stage"] != stage or f["name"] in self.switches:
                continue
            slots = [self.busy(f, index + i) for i in range(f["slots"])]
            values[f["name"]] = slots if f["slots"] > 1 else slots[0]
        return values

    def all(self):
        c = self.c
        route = c.route
        layers = {**self.busy_stage("normal"), route("normalStage"): 1}
        full = {**layers, **self.busy_stage("layer", 1), **self.busy_stage("correction"),
                route("blend"): 1, route("correction"): 1}
        colours = {f["name"]: RED for f in c.of_kind("color")}
        one = struct.pack("<i", 1)
        half = struct.pack("<f", 0.5)
        scalar_array = next(f["name"] for f in c.arrays() if f["kind"] == "scalar")
        mode = c.the_field("mode")["name"]
        return {
            "colour_path_defaults": self.case({}),
            "full_call_unconnected": self.case(full),
            "full_call_connected": self.case(
                full, connected=[f["name"] for f in c.fields],
                answers=answer(one) + answer(b"") + answer(b"") + answer(b"", (0.0, 1.0, 0.0)) +
                answer(half) * 4 + answer(struct.pack("<i", c.slots))),
            "photon_gate_colour": self.case(
                {**colours, route("normalStage"): 1, route("photonGate"): 1},
                ray=c.ray_code("photon")),
            "reflection_gate_normal": self.case(
                {route("normalStage"): 1, route("outputNormal"): 1, route("reflectionGate"): 1},
                ray=c.ray_code("reflection")),
            "normal_as_colour": self.case({**layers, route("normalAsColor"): 1},
                                          normal=(0.0, -1.0, 0.0)),
            "mode_out_of_range": self.case(
                {route("blend"): 1, mode: len(c.modes), route("correction"): 1,
                 **{name: 2.0 for name in c.pow_fields()}}),
            "tags_before_record": self.case(
                full, tags_first=True, connected=[route("normalStage"), scalar_array, mode],
                answers=answer(one, (1.0, 0.0, 0.0)) + answer(half) * c.slots +
                answer(struct.pack("<i", len(c.modes) - 1))),
            "tags_set_offset_zero": self.case(full, offset_off=True,
                                              connected=[f["name"] for f in c.fields]),
        }


def answer(value, move_normal_to=None):
    control = b"\x01" + struct.pack("<3f", *move_normal_to) if move_normal_to else b"\x00"
    return control + value.ljust(16, b"\x00")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--description", required=True,
                        help="the description of the contract (stratamix describe)")
    parser.add_argument("--output", default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                         "corpus"),
                        help="the folder to write (default: fuzz/corpus)")
    args = parser.parse_args()
    os.makedirs(args.output, exist_ok=True)
    for name, data in Seeds(contract.load(args.description)).all().items():
        with open(os.path.join(args.output, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
