#!/usr/bin/env python3
"""Plants one fault at a time into the conformance pack's own wide answers
and runs the pack's checker on them as a porter would: each fault it must
find is named by its case, exit, mode and stages, and each allowance (one
ulp through pow, a NaN of another payload) passes.

    planted_faults.py PACK_DIR
"""

import json
import os
import subprocess
import sys
import tempfile


def bits(pattern):
    return int(pattern, 16)


def finite(pattern):
    return bits(pattern) & 0x7FFFFFFF < 0x7F7FFFFF


def is_nan(pattern):
    return bits(pattern) & 0x7FFFFFFF > 0x7F800000


def one_up(pattern):
    return "0x%08x" % (bits(pattern) + 1)


def set_channel(field, channel, value_of):
    def plant(answer):
        answer[field][channel] = value_of(answer[field][channel])
    return plant


def swap_first_reads(answer):
    reads = answer["evaluated"]
    reads[0], reads[1] = reads[1], reads[0]


def write_color(answer):
    answer["outColor"] = ["0x00000000"] * 4


def gamma_set(case):
    gamma = case["params"].get("gamma")
    return gamma not in ("0x3f800000", 1, 1.0)


# (fault, which case: the first whose route and answer fit and that no row
#  above took, the fault, what the report must say about that case; None
#  where the fault is an allowance and the case must agree)
FAULTS = [
    ("one unit in a colour channel, a mode without pow, no correction",
     lambda r, c, a: r["exit"] == "color" and r["mode"] == 5 and "correction" not in r["stages"]
     and finite(a["outColor"][0]),
     set_channel("outColor", 0, one_up), "(exit 8 color, mode 5 multiply, stages "),
    ("one unit in outNormal on the normal path",
     lambda r, c, a: r["exit"] == "normal-out" and finite(a["outNormal"][2]),
     set_channel("outNormal", 2, one_up), "(exit 5 normal-out, mode no blend, stages normal)"),
    ("one unit in the state's normal on the reflection gate",
     lambda r, c, a: r["exit"] == "reflect-color" and finite(a["normal"][0]),
     set_channel("normal", 0, one_up), "(exit 4 reflect-color, mode no blend, stages (none))"),
    ("two reads swapped",
     lambda r, c, a: r["exit"] == "color" and r["mode"] == 15 and len(set(a["evaluated"][:2])) == 2,
     swap_first_reads, "(exit 8 color, mode 15 overlay, stages "),
    ("outColor written where the photon gate writes outNormal",
     lambda r, c, a: r["exit"] == "photon-normal",
     write_color, "(exit 1 photon-normal, mode no blend, stages (none))"),
    ("one unit in a hand-made edge case's colour",
     lambda r, c, a: r["set"] == "edge" and r["mode"] == 4 and finite(a["outColor"][0]),
     set_channel("outColor", 0, one_up), "(exit 8 color, mode 4 add normalised, stages layer)"),
]
ALLOWED = [
    ("one unit in a colour through gamma",
     lambda r, c, a: "correction" in r["stages"] and gamma_set(c) and a["outColor"]
     and finite(a["outColor"][1]) and bits(a["outColor"][1]) & 0x7FFFFFFF != 0,
     set_channel("outColor", 1, one_up), None),
    ("a NaN of the other sign",
     lambda r, c, a: a["outColor"] is not None and is_nan(a["outColor"][3]),
     set_channel("outColor", 3, lambda p: "0x%08x" % (bits(p) ^ 0x80000000)), None),
]


def plant_all(cases, answers, rows):
    """The answers with each row's fault planted in a case of its own: the
    planted answers and each row's case number (None where none fits)."""
    planted = list(answers)
    numbers = []
    for _, pick, plant, _ in rows:
        number = next((n for n, (line, a) in enumerate(zip(cases, answers), 1)
                       if n not in numbers and pick(line["route"], line["input"], json.loads(a))),
                      None)
        numbers.append(number)
        if number is not None:
            answer = json.loads(planted[number - 1])
            plant(answer)
            planted[number - 1] = json.dumps(answer, separators=(",", ":"))
    return planted, numbers


def run_checker(pack, folder, lines):
    path = os.path.join(folder, "planted.jsonl")
    with open(path, "w", encoding="ascii") as f:
        f.write("\n".join(lines) + "\n")
    return subprocess.run([sys.executable, os.path.join(pack, "check.py"), "--model", "wide",
                           "--show", "100", path], cwd=pack, capture_output=True, text=True)


def main(pack):
    pack = os.path.abspath(pack)
    with open(os.path.join(pack, "cases.jsonl"), encoding="ascii") as f:
        cases = [json.loads(line) for line in f]
    with open(os.path.join(pack, "answers-wide.jsonl"), encoding="ascii") as f:
        answers = f.read().splitlines()
    results = []  # (what, passed, detail)
    with tempfile.TemporaryDirectory() as folder:
        # Every fault at once, each in its own case: each named, and counted.
        planted, numbers = plant_all(cases, answers, FAULTS)
        run = run_checker(pack, folder, planted)
        for (fault, _, _, named), number in zip(FAULTS, numbers):
            want = "case %s %s" % (number, named)
            results.append((fault, number is not None and want in run.stdout,
                            "case %s, wanted %r" % (number, want)))
        closing = "%d different, 1 order mismatches\n" % (len(FAULTS) - 1)
        results.append(("the faults counted, status 1",
                        run.returncode == 1 and run.stdout.endswith(closing) and not run.stderr,
                        "status %d, wanted the closing %r" % (run.returncode, closing)))
        failed_output = run.stdout[-3000:] + run.stderr
        # The allowances: every case agrees, one through the pow rule.
        planted, numbers = plant_all(cases, answers, ALLOWED)
        run = run_checker(pack, folder, planted)
        agreed = run.returncode == 0 and None not in numbers and (
            "1 within the pow rule, 0 different, 0 order mismatches\n" in run.stdout)
        results.append(("allowed: " + ", ".join(r[0] for r in ALLOWED), agreed,
                        "cases %s, status %d: %s" % (numbers, run.returncode, run.stdout[-300:])))
        # A line that is not JSON: named, status 2.
        planted = list(answers)
        planted[16] = "not json"
        run = run_checker(pack, folder, planted)
        results.append(("a line that is not JSON", run.returncode == 2
                        and "planted.jsonl line 17: not JSON" in run.stdout,
                        "status %d: %s" % (run.returncode, run.stdout[-300:])))
    failures = 0
    for what, passed, detail in results:
        print("%s %s" % ("ok  " if passed else "FAIL", what) + ("" if passed else ": " + detail))
        failures += not passed
    if failures:
        print(failed_output)
    print("%d passed, %d failed" % (len(results) - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1]))
