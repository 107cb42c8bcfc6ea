"""The rules of the conformance checker (conformance/check.py), one answer
pair per row: what two builds may differ in (NaN patterns; one ulp in a
channel that went through pow) and what they may not; then whole files, the
report it prints and the files it refuses. Which modes and fields go through
pow comes from a description of the contract; the one below is written for
these rows (a mode 17 that calls pow, a gamma that does unless it is 1), not
the plug-in's."""

import contextlib
import importlib.util
import io
import json
import os
import tempfile
import unittest

_TOOL = os.path.join(os.path.dirname(__file__), "..", "..", "conformance", "check.py")
_spec = importlib.util.spec_from_file_location("check", _TOOL)
check = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(check)

DESCRIPTION = {
    "record": {"size": 304, "slots": 8, "slotNames": {"tools": "{name}[{slot}]"}},
    "fields": [
        {"name": "blendEnable", "kind": "toggle", "stage": "layer", "slots": 1, "powUnless": None},
        {"name": "blendMode", "kind": "mode", "stage": "layer", "slots": 1, "powUnless": None},
        {"name": "gamma", "kind": "scalar", "stage": "correction", "slots": 1, "powUnless": 1.0},
        {"name": "correctEnable", "kind": "toggle", "stage": "correction", "slots": 1,
         "powUnless": None},
    ],
    "routes": [{"name": "blend", "field": "blendEnable"},
               {"name": "correction", "field": "correctEnable"}],
    "exits": [{"number": 2, "name": "gate-color"}, {"number": 8, "name": "color"}],
    "modes": [{"number": n, "name": "m%d" % n, "callsPow": n == 17} for n in range(23)],
    "rays": [],
}
RULE = check.PowerRule(check.contract.Contract(DESCRIPTION))

BLEND = {"params": {"blendEnable": 1, "blendMode": 3}}
SOFT_LIGHT = {"params": {"blendEnable": 1, "blendMode": 17}}
GAMMA = {"params": {"correctEnable": 1, "gamma": "0x40000000"}}
GAMMA_ONE = {"params": {"correctEnable": 1, "gamma": 1.0}}
GAMMA_OFF = {"params": {"correctEnable": 0, "gamma": 2.0}}


def answer(color=None, normal=None, state=("0x00000000", "0x00000000", "0x3f800000"),
           evaluated=()):
    return {"return": 1, "outColor": list(color) if color else None,
            "outNormal": list(normal) if normal else None, "normal": list(state),
            "evaluated": list(evaluated)}


RED = ("0x3f800000", "0x00000000", "0x00000000", "0x3f800000")


def with_red(bits):
    """RED with its red channel replaced."""
    return (bits,) + RED[1:]


class CompareAnswer(unittest.TestCase):
    def test_rows(self):
        rows = [
            # (edge, case, answer a, answer b, one-ulp channels, differences)
            ("same bits", BLEND, answer(RED), answer(RED), 0, 0),
            ("NaNs of different sign and payload", BLEND,
             answer(with_red("0x7fc00000")), answer(with_red("0xffc00000")), 0, 0),
            ("signalling against quiet NaN", BLEND,
             answer(with_red("0x7fa00000")), answer(with_red("0x7fe00000")), 0, 0),
            ("NaN against infinity", BLEND,
             answer(with_red("0x7fc00000")), answer(with_red("0x7f800000")), 0, 1),
            ("one ulp, a mode that calls pow", SOFT_LIGHT,
             answer(with_red("0x3f000000")), answer(with_red("0x3f000001")), 1, 0),
            ("one ulp, gamma 2", GAMMA,
             answer(with_red("0x3f000001")), answer(with_red("0x3f000000")), 1, 0),
            ("one ulp across a binade", GAMMA,
             answer(with_red("0x3f000000")), answer(with_red("0x3effffff")), 1, 0),
            ("two ulps, gamma 2", GAMMA,
             answer(with_red("0x3f000000")), answer(with_red("0x3f000002")), 0, 1),
            ("one ulp, no pow (mode 3)", BLEND,
             answer(with_red("0x3f000000")), answer(with_red("0x3f000001")), 0, 1),
            ("one ulp, gamma exactly 1", GAMMA_ONE,
             answer(with_red("0x3f000000")), answer(with_red("0x3f000001")), 0, 1),
            ("one ulp, correction off", GAMMA_OFF,
             answer(with_red("0x3f000000")), answer(with_red("0x3f000001")), 0, 1),
            ("+0 against -0, gamma 2", GAMMA,
             answer(with_red("0x00000000")), answer(with_red("0x80000000")), 0, 1),
            ("one ulp in the state's normal, gamma 2", GAMMA,
             answer(RED), answer(RED, state=("0x00000000", "0x00000000", "0x3f800001")), 0, 1),
            ("written against not written", BLEND, answer(RED), answer(None), 0, 1),
            ("return 0 against 1", BLEND, answer(RED), dict(answer(RED), **{"return": 0}), 0, 1),
        ]
        for edge, case, a, b, one_ulp, differences in rows:
            with self.subTest(edge):
                outcome = check.compare_answer(RULE, case, a, b)
                self.assertEqual(outcome.one_ulp, one_ulp, outcome.values)
                self.assertEqual(len(outcome.values), differences, outcome.values)
                self.assertIsNone(outcome.order)

    def test_reads(self):
        rows = [
            # (edge, reads a, reads b, an order mismatch)
            ("same reads", ["gamma", "offset"], ["gamma", "offset"], False),
            ("two reads swapped", ["gamma", "offset"], ["offset", "gamma"], True),
            ("a read missing", ["gamma", "offset"], ["gamma"], True),
            ("a read too many", [], ["gamma"], True),
        ]
        for edge, reads_a, reads_b, mismatch in rows:
            with self.subTest(edge):
                outcome = check.compare_answer(RULE, BLEND, answer(RED, evaluated=reads_a),
                                               answer(RED, evaluated=reads_b))
                self.assertEqual(outcome.order is not None, mismatch)
                self.assertEqual(outcome.values, [])


def pack_line(number, case, route):
    return json.dumps({"case": number, "route": route, "input": case})


COLOR_ROUTE = {"set": "seeded", "exit": "color", "stages": ["layer"], "mode": 3}
GATE_ROUTE = {"set": "edge", "exit": "gate-color", "stages": [], "mode": None}
CASES = [pack_line(1, GAMMA, GATE_ROUTE), pack_line(2, BLEND, COLOR_ROUTE)]
RED_LINE = json.dumps(answer(RED))
HALF_LINE = json.dumps(answer(with_red("0x3f000000"), evaluated=["gamma", "offset"]))


def run_checker(cases, reference, answers, raw=None):
    """The checker's status and what it printed, with the folder's name
    taken out; `raw` replaces the answers file's bytes."""
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "description.json"), "w") as f:
            json.dump(DESCRIPTION, f)
        files = {"cases.jsonl": cases, "answers-wide.jsonl": reference, "B": answers}
        for name, lines in files.items():
            if lines is not None:
                with open(os.path.join(folder, name), "w") as f:
                    f.write("".join(line + "\n" for line in lines))
        if raw is not None:
            with open(os.path.join(folder, "B"), "wb") as f:
                f.write(raw)
        printed = io.StringIO()
        with contextlib.redirect_stderr(io.StringIO()):
            status = check.main(["--pack", folder, "--model", "wide", os.path.join(folder, "B")],
                                out=printed)
        return status, printed.getvalue().replace(folder + os.sep, "")


class CheckFiles(unittest.TestCase):
    """Whole files: the closing line, the differences it lists, and the
    files it refuses, each with the file and line."""

    def test_rows(self):
        swapped = json.dumps(answer(with_red("0x3f000000"), evaluated=["offset", "gamma"]))
        red_plus_one = json.dumps(answer(with_red("0x3f800001")))
        rows = [
            # (edge, cases, reference, answers, status, in the output)
            ("same answers", CASES, [RED_LINE, RED_LINE], [RED_LINE, RED_LINE], 0,
             "compared 2 cases: 2 bit-exact, 0 within the pow rule, 0 different, "
             "0 order mismatches\n"),
            ("one unit outside pow, named by case, exit and mode", CASES,
             [RED_LINE, RED_LINE], [RED_LINE, red_plus_one], 1,
             "case 2 (exit 8 color, mode 3 m3, stages layer):\n"
             '    outColor[0]: pack "0x3f800000", answer "0x3f800001"\n'),
            ("one unit within pow (gamma 2) agrees", CASES,
             [RED_LINE, RED_LINE], [red_plus_one, RED_LINE], 0,
             "compared 2 cases: 1 bit-exact, 1 within the pow rule, 0 different"),
            ("two reads swapped", CASES, [HALF_LINE, RED_LINE], [swapped, RED_LINE], 1,
             "case 1 (exit 2 gate-color, mode no blend, stages (none)):\n"
             '    reads (evaluated) in another order: pack ["gamma", "offset"], '
             'answer ["offset", "gamma"]\n'),
            ("no answers file", CASES, [RED_LINE, RED_LINE], None, 2,
             "compared 0 cases: B: no such file\n"),
            ("an empty answers file", CASES, [RED_LINE, RED_LINE], [], 2,
             "compared 0 cases: B: 0 answers for 2 cases\n"),
            ("an answer missing", CASES, [RED_LINE, RED_LINE], [RED_LINE], 2,
             "compared 0 cases: B: 1 answers for 2 cases\n"),
            ("an answer too many", CASES, [RED_LINE, RED_LINE], [RED_LINE] * 3, 2,
             "compared 0 cases: B line 3: more lines than the 2 expected\n"),
            ("no cases", [], [], [], 2, "compared 0 cases: cases.jsonl: no cases\n"),
            ("not JSON", CASES, [RED_LINE, RED_LINE], [RED_LINE, "{\"return\": 1,"], 2,
             "compared 0 cases: B line 2: not JSON: "),
            ("a list, not an object", CASES, [RED_LINE, RED_LINE], ["[1, 2]", RED_LINE], 2,
             "compared 0 cases: B line 1: an answer is a JSON object\n"),
            ("a key missing", CASES, [RED_LINE, RED_LINE],
             [RED_LINE, json.dumps({"return": 1})], 2,
             "compared 0 cases: B line 2: missing evaluated, normal, outColor, outNormal\n"),
            ("an unknown key", CASES, [RED_LINE, RED_LINE],
             [RED_LINE, json.dumps(dict(answer(RED), colour=1))], 2,
             'compared 0 cases: B line 2: unknown key "colour"\n'),
            ("a key twice", CASES, [RED_LINE, RED_LINE],
             [RED_LINE, '{"return": 1, "return": 1}'], 2,
             'compared 0 cases: B line 2: not JSON: key "return" given twice\n'),
            ("a pattern of 7 digits", CASES, [RED_LINE, RED_LINE],
             [json.dumps(answer(with_red("0x3f80000"))), RED_LINE], 2,
             'compared 0 cases: B line 1: "outColor" is not 4 patterns "0x%08x" or null\n'),
            ("a state normal of null", CASES, [RED_LINE, RED_LINE],
             [json.dumps(dict(answer(RED), normal=None)), RED_LINE], 2,
             'compared 0 cases: B line 1: "normal" is not 3 patterns "0x%08x"\n'),
            ("a return that is not an integer", CASES, [RED_LINE, RED_LINE],
             [json.dumps(dict(answer(RED), **{"return": True})), RED_LINE], 2,
             'compared 0 cases: B line 1: "return" is not an integer\n'),
            ("NaN as a JSON constant", CASES, [RED_LINE, RED_LINE],
             [RED_LINE, '{"return": NaN}'], 2,
             "compared 0 cases: B line 2: not JSON: NaN is not a JSON number\n"),
            ("10000 nested lists", CASES, [RED_LINE, RED_LINE], ["[" * 10000, RED_LINE], 2,
             "compared 0 cases: B line 1: nested too deeply\n"),
        ]
        for edge, cases, reference, answers, status, text in rows:
            with self.subTest(edge):
                got, printed = run_checker(cases, reference, answers)
                self.assertEqual(got, status, printed)
                self.assertIn(text, printed)

    def test_bytes(self):
        rows = [
            # (edge, the answers file's bytes, in the output)
            ("a line over 64 KiB", RED_LINE.encode() + b"\n" + b" " * 70000 + b"\n",
             "compared 0 cases: B line 2: longer than 65536 bytes\n"),
            ("a byte that is not UTF-8", b'{"return": 1, "\xff": 0}\n',
             "compared 0 cases: B line 1: not UTF-8 (byte 16)\n"),
        ]
        for edge, raw, text in rows:
            with self.subTest(edge):
                got, printed = run_checker(CASES, [RED_LINE, RED_LINE], [], raw=raw)
                self.assertEqual(got, 2, printed)
                self.assertIn(text, printed)


if __name__ == "__main__":
    unittest.main()
