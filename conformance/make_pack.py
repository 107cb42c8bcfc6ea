#!/usr/bin/env python3
"""Lays out the conformance pack's folder from the build's files.

    make_pack.py --out DIR --description FILE --cases FILE --routes FILE
                 --wide FILE --single FILE --readme FILE --checker FILE --reader FILE

The cases are `stratamix eval` lines and the routes their routes, line for
line (tests/identity/gen_cases.py writes both); the answers are the
plug-in's in each float model. Each line of the pack's cases.jsonl joins a
case with its number and route. Before it writes anything it holds every
answer of both models to its route, as the description's exits say: the
result field the exit writes is the one written, and the state's normal
leaves the call as it came in where the normal stage did not run; a route
the plug-in does not take stops the pack.
"""

import argparse
import json
import os
import shutil
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "describe"))
import contract  # noqa: E402

RESULT_FIELDS = ("outColor", "outNormal")
DEFAULT_NORMAL = [0.0, 0.0, 1.0]


def bits_of(value):
    """A case's float as its 32-bit pattern: "0x..." as written, a number
    rounded to single precision."""
    if isinstance(value, str):
        return int(value, 16)
    return struct.unpack("<I", struct.pack("<f", value))[0]


def lines(path):
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f if line.strip()]


def route_problem(c, case, route, answer):
    """What in an answer does not fit the case's route, or None."""
    exit_entry = c.exit_named(route["exit"])
    written = [f for f in RESULT_FIELDS if answer[f] is not None]
    if written != [exit_entry["writes"]]:
        return "exit %s writes %s, the answer %s" % (route["exit"], exit_entry["writes"],
                                                    " and ".join(written) or "nothing")
    incoming = [bits_of(v) for v in case.get("normal", DEFAULT_NORMAL)]
    if "normal" not in route["stages"] and [int(v, 16) for v in answer["normal"]] != incoming:
        return "the normal stage did not run, but the state's normal changed"
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("out", "description", "cases", "routes", "wide", "single", "readme", "checker",
                 "reader"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()

    c = contract.load(args.description)
    cases, routes = lines(args.cases), lines(args.routes)
    answers = {model: lines(path) for model, path in (("wide", args.wide), ("single", args.single))}
    counts = {len(cases), len(routes)} | {len(a) for a in answers.values()}
    if len(counts) != 1:
        sys.exit("make_pack.py: %d cases, %d routes, %d wide and %d single answers"
                 % (len(cases), len(routes), len(answers["wide"]), len(answers["single"])))
    for model, model_answers in answers.items():
        for number, (case, route, answer) in enumerate(zip(cases, routes, model_answers), 1):
            problem = route_problem(c, case, route, answer)
            if problem:
                sys.exit("make_pack.py: case %d (%s answers): %s" % (number, model, problem))

    shutil.rmtree(args.out, ignore_errors=True)
    os.makedirs(args.out)
    with open(os.path.join(args.out, "cases.jsonl"), "w", encoding="ascii", newline="\n") as f:
        for number, (case, route) in enumerate(zip(cases, routes), 1):
            f.write(json.dumps({"case": number, "route": route, "input": case},
                               separators=(",", ":")) + "\n")
    for model in answers:
        shutil.copyfile(getattr(args, model), os.path.join(args.out, "answers-%s.jsonl" % model))
    for source, name in ((args.description, "description.json"), (args.readme, "README.md"),
                         (args.checker, "check.py"), (args.reader, "contract.py")):
        shutil.copyfile(source, os.path.join(args.out, name))
    print("%s: %d cases, answers in both float models" % (args.out, len(cases)))


if __name__ == "__main__":
    main()
