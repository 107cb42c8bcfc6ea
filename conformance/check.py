#!/usr/bin/env python3
"""Checks a port's answers to the conformance cases against strataMix's own.

usage: check.py [--pack DIR] (--model wide|single | --reference FILE) [--show N] ANSWERS

ANSWERS holds one JSON line per line of the pack's cases.jsonl, in its
order, as `stratamix eval` writes them: "return", "outColor" (4 patterns or
null where the call did not write it), "outNormal" (3 patterns or null),
"normal" (the state's normal after the call, 3 patterns) and "evaluated"
(the parameters read through the evaluation rule, in order). A pattern is a
32-bit float's bits as "0x%08x". The answers are compared with the pack's
answers-MODEL.jsonl (or with --reference FILE, another build's answers to
the same cases), field by field:
- every bit must agree, except that any two NaNs are equal, and a colour
  channel that went through the C library's pow may differ by one unit in
  the last place (the cases that blend with a mode the description says
  calls pow, or set a field it says goes through pow unless it holds a value,
  with that field's stage switched on);
- which result field is written, the state's normal, and the parameters read
  and their order must agree exactly.

Prints a table per exit, per stages run, per blend mode and per case set
(seeded, edge) with the cases, bit-exact, within the pow rule, different and
order mismatches, then the first differences with both answers, then one
line "compared N cases: ...".
Exit status 0 when every case agrees, 1 when any differs, 2 when a file is
missing or malformed (the message names the file and line) or the answers
are not one per case.
"""

import argparse
import json
import os
import re
import struct
import sys

_HERE = os.path.dirname(os.path.abspath(__file__))
# The description's reader travels beside this file in the pack, and lives
# in describe/ of the source tree.
sys.path[:0] = [_HERE, os.path.join(_HERE, "..", "describe")]
import contract  # noqa: E402

BIT_FIELDS = [("outColor", 4, True), ("outNormal", 3, True), ("normal", 3, False)]
ANSWER_KEYS = {"return", "outColor", "outNormal", "normal", "evaluated"}
PATTERN = re.compile(r"0x[0-9a-fA-F]{8}\Z")
# An answer is a few hundred bytes, one that names every read a few KiB; a
# case line of the pack less than that again.
MAX_LINE = 1 << 16
MAX_LINES = 1 << 20
MAX_READS = 1024


class Malformed(Exception):
    """A file that cannot be compared, with where and why."""


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


class Outcome:
    """One case compared: its differences and its pow channels."""

    def __init__(self):
        self.one_ulp = 0
        self.values = []  # (what, reference, answer)
        self.order = None  # (reference reads, answer reads) where they differ

    def agrees(self):
        return not self.values and self.order is None


def compare_channel(a, b, may_differ_by_one, where, outcome):
    bits_a, bits_b = int(a, 16), int(b, 16)
    if bits_a == bits_b or (is_nan(bits_a) and is_nan(bits_b)):
        return
    if may_differ_by_one and ulp_distance(bits_a, bits_b) == 1:
        outcome.one_ulp += 1
        return
    outcome.values.append((where, a, b))


def compare_answer(rule, case, a, b):
    """One case's answers, the reference's first, compared."""
    outcome = Outcome()
    power = rule.uses_power(case)
    if a["return"] != b["return"]:
        outcome.values.append(("return", a["return"], b["return"]))
    if a["evaluated"] != b["evaluated"]:
        outcome.order = (a["evaluated"], b["evaluated"])
    for field, _, _ in BIT_FIELDS:
        va, vb = a[field], b[field]
        if va is None or vb is None:
            if va != vb:
                outcome.values.append((field, va, vb))
            continue
        for channel, (ca, cb) in enumerate(zip(va, vb)):
            compare_channel(ca, cb, power and field == "outColor",
                            "%s[%d]" % (field, channel), outcome)
    return outcome


def bounded_lines(path, limit=MAX_LINES):
    """(line number, text) of a file's non-empty lines, each at most
    MAX_LINE bytes of UTF-8, at most `limit` of them."""
    if not os.path.isfile(path):
        raise Malformed("%s: no such file" % path)
    count = 0
    with open(path, "rb") as f:
        number = 0
        while True:
            raw = f.readline(MAX_LINE + 1)
            if not raw:
                return
            number += 1
            if len(raw) > MAX_LINE and not raw.endswith(b"\n"):
                raise Malformed("%s line %d: longer than %d bytes" % (path, number, MAX_LINE))
            try:
                text = raw.decode("utf-8").rstrip("\r\n")
            except UnicodeDecodeError as e:
                raise Malformed("%s line %d: not UTF-8 (byte %d)" % (path, number, e.start + 1))
            if not text.strip():
                continue
            count += 1
            if count > limit:
                raise Malformed("%s line %d: more lines than the %d expected" % (path, number, limit))
            yield number, text


def _refuse_constant(name):
    raise ValueError("%s is not a JSON number" % name)


def _unique_keys(pairs):
    seen = {}
    for key, value in pairs:
        if key in seen:
            raise ValueError('key "%s" given twice' % key[:40])
        seen[key] = value
    return seen


def parse_json(path, number, text):
    try:
        return json.loads(text, object_pairs_hook=_unique_keys, parse_constant=_refuse_constant)
    except RecursionError:
        raise Malformed("%s line %d: nested too deeply" % (path, number))
    except ValueError as e:
        raise Malformed("%s line %d: not JSON: %s" % (path, number, str(e)[:80]))


def checked_answer(path, number, answer):
    """The answer, or Malformed naming what is wrong with it."""
    def wrong(what):
        return Malformed("%s line %d: %s" % (path, number, what))

    if not isinstance(answer, dict):
        raise wrong("an answer is a JSON object")
    keys = set(answer)
    if keys != ANSWER_KEYS:
        missing, unknown = sorted(ANSWER_KEYS - keys), sorted(keys - ANSWER_KEYS)
        raise wrong("missing %s" % ", ".join(missing) if missing
                    else 'unknown key "%s"' % unknown[0][:40])
    if type(answer["return"]) is not int:
        raise wrong('"return" is not an integer')
    for field, size, may_be_null in BIT_FIELDS:
        value = answer[field]
        if value is None and may_be_null:
            continue
        if (not isinstance(value, list) or len(value) != size
                or not all(isinstance(v, str) and PATTERN.match(v) for v in value)):
            raise wrong('"%s" is not %d patterns "0x%%08x"%s'
                        % (field, size, " or null" if may_be_null else ""))
    reads = answer["evaluated"]
    if (not isinstance(reads, list) or len(reads) > MAX_READS
            or not all(isinstance(r, str) and len(r) <= 64 for r in reads)):
        raise wrong('"evaluated" is not a list of parameter names')
    return answer


def read_answers(path, limit):
    return [checked_answer(path, n, parse_json(path, n, t)) for n, t in bounded_lines(path, limit)]


def read_cases(path):
    """The pack's cases: (input, route) each."""
    cases = []
    for number, text in bounded_lines(path):
        line = parse_json(path, number, text)
        if (not isinstance(line, dict) or not isinstance(line.get("input"), dict)
                or not isinstance(line.get("route"), dict)):
            raise Malformed('%s line %d: a case is {"route": ..., "input": ...}' % (path, number))
        cases.append((line["input"], line["route"]))
    if not cases:
        raise Malformed("%s: no cases" % path)
    return cases


class Row:
    def __init__(self):
        self.cases = self.exact = self.power = self.different = self.order = 0

    def add(self, outcome):
        self.cases += 1
        if outcome.agrees():
            if outcome.one_ulp:
                self.power += 1
            else:
                self.exact += 1
        if outcome.values:
            self.different += 1
        if outcome.order is not None:
            self.order += 1


class Report:
    """The outcomes by exit, by stages run and by mode, and the first
    differences."""

    def __init__(self, c, show):
        self.mode_names = {m["number"]: m["name"] for m in c.modes}
        self.exit_numbers = {e["name"]: e["number"] for e in c.exits}
        self.tables = {"exit": {}, "stages": {}, "mode": {}, "set": {}}
        self.total = Row()
        self.show = show
        self.shown = []

    def where(self, route):
        mode = route.get("mode")
        exit_name = str(route.get("exit"))
        return {
            "exit": "%s %s" % (self.exit_numbers.get(exit_name, "?"), exit_name),
            "stages": "+".join(route.get("stages") or []) or "(none)",
            "mode": "no blend" if mode is None else "%s %s" % (mode, self.mode_names.get(mode, "?")),
            "set": str(route.get("set")),
        }

    def add(self, line, route, outcome):
        where = self.where(route)
        for table, key in where.items():
            self.tables[table].setdefault(key, Row()).add(outcome)
        self.total.add(outcome)
        if outcome.agrees() or len(self.shown) >= self.show:
            return
        head = "case %d (exit %s, mode %s, stages %s)" % (line, where["exit"], where["mode"],
                                                          where["stages"])
        details = ["%s: pack %s, answer %s" % (what, json.dumps(a), json.dumps(b))
                   for what, a, b in outcome.values]
        if outcome.order is not None:
            details.append("reads (evaluated) %s: pack %s, answer %s" % (
                "in another order" if sorted(outcome.order[0]) == sorted(outcome.order[1])
                else "differ", json.dumps(outcome.order[0]), json.dumps(outcome.order[1])))
        self.shown.append(head + ":\n" + "\n".join("    " + d for d in details))

    def print(self, out):
        heading = "%-26s %7s %9s %10s %9s %6s"
        for table, rows in self.tables.items():
            out.write(heading % ("by " + table, "cases", "bit-exact", "within pow", "different",
                                 "order") + "\n")
            for key in sorted(rows, key=_natural):
                r = rows[key]
                out.write("%-26s %7d %9d %10d %9d %6d\n" % (key[:26], r.cases, r.exact, r.power,
                                                           r.different, r.order))
            out.write("\n")
        if self.shown:
            out.write("first differences:\n" + "\n".join("  " + s for s in self.shown) + "\n\n")
        t = self.total
        out.write("compared %d cases: %d bit-exact, %d within the pow rule, %d different, "
                  "%d order mismatches\n" % (t.cases, t.exact, t.power, t.different, t.order))


def _natural(key):
    head = key.split(" ")[0]
    return (0, int(head), key) if head.isdigit() else (1, 0, key)


def check(pack, reference, answers, show, out):
    """Prints the report; returns the exit status."""
    description = os.path.join(pack, "description.json")
    if not os.path.isfile(description):
        raise Malformed("%s: no such file" % description)
    try:
        c = contract.load(description)
    except (ValueError, KeyError, TypeError) as e:
        raise Malformed("%s: not a description of the contract (%s)" % (description, str(e)[:80]))
    cases = read_cases(os.path.join(pack, "cases.jsonl"))
    wanted = read_answers(reference, len(cases))
    got = read_answers(answers, len(cases))
    for path, lines in ((reference, wanted), (answers, got)):
        if len(lines) != len(cases):
            raise Malformed("%s: %d answers for %d cases" % (path, len(lines), len(cases)))
    rule = PowerRule(c)
    report = Report(c, show)
    for line, ((case, route), a, b) in enumerate(zip(cases, wanted, got), start=1):
        report.add(line, route, compare_answer(rule, case, a, b))
    report.print(out)
    return 0 if report.total.exact + report.total.power == report.total.cases else 1


def main(argv, out=sys.stdout):
    parser = argparse.ArgumentParser(prog="check.py", description=__doc__.splitlines()[0])
    parser.add_argument("--pack", default=_HERE, help="the pack's folder (default: this file's)")
    which = parser.add_mutually_exclusive_group(required=True)
    which.add_argument("--model", choices=["wide", "single"],
                       help="compare with the pack's answers in this float model")
    which.add_argument("--reference", help="compare with these answers instead")
    parser.add_argument("--show", type=int, default=10, help="differences to list (default 10)")
    parser.add_argument("answers", help="the port's answers, one JSON line per case")
    args = parser.parse_args(argv)
    reference = args.reference or os.path.join(args.pack, "answers-%s.jsonl" % args.model)
    try:
        return check(args.pack, reference, args.answers, max(args.show, 0), out)
    except Malformed as e:
        out.write("compared 0 cases: %s\n" % e)
        return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
