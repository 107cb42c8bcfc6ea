#!/usr/bin/python3
"""Writes the fuzzer's seed corpus (fuzz/corpus/): one input per kind of call,
laid out as strata_fuzz.cpp reads it. Run it again after changing a seed."""
import os
import struct

RECORD = 304
TAG_WORDS = RECORD // 4

FIELDS = {  # name: (offset, format of one slot, slot size)
    "baseColor": (0, "4f", 16), "normalEnable": (16, "i", 4), "layerCount": (20, "i", 4),
    "layerEnable": (24, "i", 4), "layerNormal": (56, "3f", 12), "normalMix": (152, "f", 4),
    "layerWeight": (156, "f", 4), "layerBalance": (188, "f", 4), "normalScale": (220, "f", 4),
    "skipPhotons": (224, "i", 4), "skipReflections": (228, "i", 4),
    "normalAsColor": (232, "i", 4), "normalizeNormal": (236, "i", 4),
    "blendEnable": (240, "i", 4), "layerColor": (244, "4f", 16), "blendAmount": (260, "f", 4),
    "blendMode": (264, "i", 4), "useLayerAlpha": (268, "i", 4), "hueAdjust": (272, "f", 4),
    "saturationAdjust": (276, "f", 4), "valueAdjust": (280, "f", 4), "gamma": (284, "f", 4),
    "offset": (288, "f", 4), "contrast": (292, "f", 4), "correctEnable": (296, "i", 4),
    "outputNormal": (300, "i", 4),
}


ARRAYS = {"layerEnable", "layerNormal", "layerWeight", "layerBalance"}


def record(**values):
    """Arrays as lists of slots, colours and vectors as tuples."""
    data = bytearray(RECORD)
    for name, value in values.items():
        offset, fmt, size = FIELDS[name]
        for i, slot in enumerate(value if name in ARRAYS else [value]):
            fields = slot if isinstance(slot, tuple) else (slot,)
            data[offset + i * size:offset + (i + 1) * size] = struct.pack("<" + fmt, *fields)
    return bytes(data)


def case(rec, ray=0, normal=(0.0, 0.0, 1.0), tags_first=False, offset_off=False,
         connected=(), answers=b""):
    bitmap = bytearray((TAG_WORDS + 7) // 8)
    for name in connected:
        offset, _, size = FIELDS[name]
        for i in range(8 if name in ARRAYS else 1):
            word = (offset + i * size) // 4
            bitmap[word // 8] |= 1 << (word % 8)
    flags = (1 if tags_first else 0) | (2 if offset_off else 0)
    return rec + struct.pack("<i3fB", ray, *normal, flags) + bytes(bitmap) + answers


def answer(value, move_normal_to=None):
    control = b"\x01" + struct.pack("<3f", *move_normal_to) if move_normal_to else b"\x00"
    return control + value.ljust(16, b"\x00")


eight_layers = dict(
    normalEnable=1, layerCount=8, layerEnable=[1] * 8,
    layerNormal=[(1.0, 0.0, 0.0), (0.0, 1.0, 0.0), (0.0, 0.0, -1.0), (0.5, 0.5, 0.5)] * 2,
    layerWeight=[1.0, 0.75, 0.5, 0.25] * 2, layerBalance=[0.5, 0.25, 0.5, 1.0] * 2,
    normalMix=0.5, normalScale=2.0, normalizeNormal=1)
full = dict(eight_layers, baseColor=(0.25, 0.5, 0.75, 1.0), blendEnable=1,
            layerColor=(0.75, 0.25, 0.5, 0.5), blendAmount=0.5, blendMode=17, useLayerAlpha=1,
            correctEnable=1, hueAdjust=0.125, saturationAdjust=-0.25, valueAdjust=0.5, gamma=2.2,
            offset=0.01, contrast=1.5)
one = struct.pack("<i", 1)

SEEDS = {
    "colour_path_defaults": case(record()),
    "full_call_unconnected": case(record(**full)),
    "full_call_connected": case(
        record(**full), connected=list(FIELDS),
        answers=answer(one) + answer(b"") + answer(b"") + answer(b"", (0.0, 1.0, 0.0)) +
        answer(struct.pack("<f", 0.5)) * 4 + answer(struct.pack("<i", 8))),
    "photon_gate_colour": case(record(normalEnable=1, skipPhotons=1, baseColor=(1, 0, 0, 1)), ray=9),
    "reflection_gate_normal": case(record(normalEnable=1, outputNormal=1, skipReflections=1), ray=2),
    "normal_as_colour": case(record(normalAsColor=1, **eight_layers), normal=(0.0, -1.0, 0.0)),
    "mode_out_of_range": case(record(blendEnable=1, blendMode=23, correctEnable=1, gamma=2.0)),
    "tags_before_record": case(
        record(**full), tags_first=True, connected=["normalEnable", "layerWeight", "blendMode"],
        answers=answer(one, (1.0, 0.0, 0.0)) + answer(struct.pack("<f", 0.5)) * 8 +
        answer(struct.pack("<i", 22))),
    "tags_set_offset_zero": case(record(**full), offset_off=True, connected=list(FIELDS)),
}

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
os.makedirs(here, exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(here, name), "wb") as f:
        f.write(data)
