#!/usr/bin/env python3
"""Compares two builds' answers to the same `stratamix eval` cases, bit for bit.

Every field of every answer must hold the same bits in both, with two
allowances that the platforms decide, not the plug-in:
- any two NaNs are equal (x86 and PowerPC make NaNs of different sign and
  payload);
- a colour channel that went through the C library's power function may
  differ by one unit in the last place, since each platform's pow and powf
  round in their own way: the channels of a case that blends with a mode the
  description of the contract says calls pow, or that sets a field the
  description says goes through pow unless it holds a value (gamma other
  than 1) with that field's stage switched on.

usage: compare_answers.py DESCRIPTION CASES ANSWERS_A ANSWERS_B
DESCRIPTION is the build tree's description.json (stratamix describe).
Prints how many cases it compared and how many pow channels differed by one
unit; exits 1 and lists the differences if any other bits differ. When it
compares no case it exits 1 and says why on the same line ("compared 0
cases: no file ...", or the counts of cases and answers that differ).
"""

import json
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "describe"))
import contract  # noqa: E402

BIT_FIELDS = ["outColor", "outNormal", "normal"]


def float_of(value):
    """A case's float as the plug-in receives it: a "0x..." pattern, or a
    JSON number rounded to single precision."""
    if isinstance(value, str):
        return struct.unpack("<f", struct.pack("<I", int(value, 16)))[0]
    return struct.unpack("<f", struct.pack("<f", value))[0]


class PowerRule:
    """Which cases' colours may have gone through pow or powf, from the
    description of the contract."""

    def __init__(self, c):
        self.modes = c.pow_modes()
        self.mode = c.the_field("mode")["name"]
        self.blend = c.route("blend")
        # Each pow field with the switch of the stage that reads it.
        stage_switch = {"layer": self.blend, "correction": c.route("correction")}
        self.fields = [(name, unless, stage_switch[c.by_name[name]["stage"]])
                       for name, unless in c.pow_fields().items()]

    def uses_power(self, case):
        p = case.get("params", {})
        if p.get(self.blend, 0) != 0 and p.get(self.mode, 0) in self.modes:
            return True
        return any(p.get(switch, 0) != 0 and float_of(p.get(name, 0)) != unless
                   for name, unless, switch in self.fields)


def is_nan(bits):
    return bits & 0x7F800000 == 0x7F800000 and bits & 0x007FFFFF != 0


def ordered(bits):
    """Floats as integers in the order of their values, -0.0 next to +0.0."""
    return -(bits & 0x7FFFFFFF) if bits & 0x80000000 else bits


def ulp_distance(a, b):
    return abs(ordered(a) - ordered(b))


class Tally:
    def __init__(self):
        self.cases = 0
        self.power_cases = 0
        self.one_ulp_channels = 0
        self.mismatches = []
        # Why no case was compared, when none was.
        self.unread = ""


def compare_channel(a, b, may_differ_by_one, where, tally):
    bits_a, bits_b = int(a, 16), int(b, 16)
    if bits_a == bits_b or (is_nan(bits_a) and is_nan(bits_b)):
        return
    if may_differ_by_one and ulp_distance(bits_a, bits_b) == 1:
        tally.one_ulp_channels += 1
        return
    tally.mismatches.append("%s: %s against %s" % (where, a, b))


def compare_answer(rule, case, a, b, line, tally):
    """Adds one case's differences to the tally."""
    tally.cases += 1
    power = rule.uses_power(case)
    tally.power_cases += power
    for key in ("return", "evaluated"):
        if a.get(key) != b.get(key):
            tally.mismatches.append("line %d %s: %s against %s" % (line, key, a.get(key), b.get(key)))
    for field in BIT_FIELDS:
        va, vb = a.get(field), b.get(field)
        if va is None or vb is None or len(va) != len(vb):
            if va != vb:
                tally.mismatches.append("line %d %s: %s against %s" % (line, field, va, vb))
            continue
        for channel, (ca, cb) in enumerate(zip(va, vb)):
            where = "line %d %s[%d]" % (line, field, channel)
            compare_channel(ca, cb, power and field == "outColor", where, tally)


def compare_files(rule, cases_path, a_path, b_path):
    tally = Tally()
    with open(cases_path) as cases, open(a_path) as answers_a, open(b_path) as answers_b:
        case_lines = [l for l in cases if l.strip()]
        a_lines = answers_a.read().splitlines()
        b_lines = answers_b.read().splitlines()
    if not case_lines:
        tally.unread = "no cases in %s" % cases_path
    elif not (len(case_lines) == len(a_lines) == len(b_lines)):
        tally.unread = "%d cases, but %d answers in %s and %d in %s" % (
            len(case_lines), len(a_lines), a_path, len(b_lines), b_path)
    if tally.unread:
        return tally
    for line, (c, a, b) in enumerate(zip(case_lines, a_lines, b_lines), start=1):
        compare_answer(rule, json.loads(c), json.loads(a), json.loads(b), line, tally)
    return tally


def main(argv):
    if len(argv) != 5:
        sys.stderr.write(__doc__)
        return 2
    description_path, cases_path, a_path, b_path = argv[1:]
    for path in argv[1:]:
        if not os.path.isfile(path):
            # The build's identity_answers test did not run, or wrote nothing.
            print("%s against %s: compared 0 cases: no file %s" % (a_path, b_path, path))
            return 1
    rule = PowerRule(contract.load(description_path))
    tally = compare_files(rule, cases_path, a_path, b_path)
    if tally.unread:
        print("%s against %s: compared 0 cases: %s" % (a_path, b_path, tally.unread))
        return 1
    print("%s against %s: compared %d cases (%d through pow); %d pow channels differed by one "
          "ulp; %d other differences" % (a_path, b_path, tally.cases, tally.power_cases,
                                         tally.one_ulp_channels, len(tally.mismatches)))
    for mismatch in tally.mismatches[:20]:
        print("  " + mismatch)
    return 1 if tally.mismatches or tally.cases == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
