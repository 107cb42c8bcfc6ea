"""The rules of compare_answers.py, one answer pair per row: what two
builds may differ in (NaN patterns; one ulp in a channel that went through
pow) and what they may not. Which modes and fields go through pow comes from
a description of the contract; the one below is written for these rows (a
mode 17 that calls pow, a gamma that does unless it is 1), not the
plug-in's."""

import contextlib
import importlib.util
import io
import json
import os
import tempfile
import unittest

_TOOL = os.path.join(os.path.dirname(__file__), "compare_answers.py")
_spec = importlib.util.spec_from_file_location("compare_answers", _TOOL)
compare = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(compare)

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
    "modes": [{"number": n, "callsPow": n == 17} for n in range(23)],
    "rays": [],
}
RULE = compare.PowerRule(compare.contract.Contract(DESCRIPTION))

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
    def run_pair(self, case, a, b):
        tally = compare.Tally()
        compare.compare_answer(RULE, case, a, b, 1, tally)
        return tally

    def test_rows(self):
        rows = [
            # (edge, case, answer a, answer b, one-ulp channels, mismatches)
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
            ("evaluated lists differ", BLEND,
             answer(RED, evaluated=["gamma"]), answer(RED, evaluated=[]), 0, 1),
        ]
        for edge, case, a, b, one_ulp, mismatches in rows:
            with self.subTest(edge):
                tally = self.run_pair(case, a, b)
                self.assertEqual(tally.one_ulp_channels, one_ulp, tally.mismatches)
                self.assertEqual(len(tally.mismatches), mismatches, tally.mismatches)


class CompareFiles(unittest.TestCase):
    """A comparison of no case fails, and its one line says why."""

    def test_rows(self):
        case, red = json.dumps(BLEND), json.dumps(answer(RED))
        rows = [
            # (edge, cases, answers a, answers b (None: no file), status, the line ends in)
            ("same answers", [case, case], [red, red], [red, red], 0,
             "compared 2 cases (0 through pow); 0 pow channels differed by one ulp; "
             "0 other differences"),
            ("no answers file", [case], [red], None, 1, "compared 0 cases: no file B"),
            ("an empty answers file", [case, case], [red, red], [], 1,
             "compared 0 cases: 2 cases, but 2 answers in A and 0 in B"),
            ("an answer missing", [case, case], [red, red], [red], 1,
             "compared 0 cases: 2 cases, but 2 answers in A and 1 in B"),
            ("no cases", [], [], [], 1, "compared 0 cases: no cases in CASES"),
        ]
        for edge, cases, a, b, status, ending in rows:
            with self.subTest(edge), tempfile.TemporaryDirectory() as folder:
                paths = {name: os.path.join(folder, name) for name in ("CASES", "A", "B")}
                description = os.path.join(folder, "description.json")
                with open(description, "w") as f:
                    json.dump(DESCRIPTION, f)
                for name, lines in (("CASES", cases), ("A", a), ("B", b)):
                    if lines is not None:
                        with open(paths[name], "w") as f:
                            f.write("".join(line + "\n" for line in lines))
                printed = io.StringIO()
                with contextlib.redirect_stdout(printed):
                    got = compare.main(["compare_answers.py", description, paths["CASES"],
                                        paths["A"], paths["B"]])
                line = printed.getvalue().replace(folder + os.sep, "")
                self.assertEqual(got, status, line)
                self.assertEqual(line, "A against B: " + ending + "\n")


if __name__ == "__main__":
    unittest.main()
