#!/usr/bin/env python3
"""Runs the manual's `stratamix eval` and `stratamix check` examples and
compares each answer with the one the manual gives.

An example is a line of a ```sh block

    echo '{"params": ...}' | bin/stratamix eval

followed by one comment line or more, each an answer the manual gives:

    # outColor: 0.5, 0.6, 0.8, 1        (4 numbers, or "not written")
    # outNormal: 0.44, 0, 0.9           (3 numbers, or "not written")
    # normal: 0.44, 0, 0.9              (the state's normal after the call)
    # evaluated: normalEnable, baseColor (names in order, or "nothing")

A scene example is a paragraph that begins "`stratamix check FILE.mi`
prints" and says "exits with N": the block before it is the scene, the
block after it what check writes (standard output and error as they come).

A number stands for the answer rounded to the decimals it is written with,
and to two at least: it must lie within half a unit of its last place, so
that "1" means 1 to within 0.005 and "0.612" within 0.0005.

    check_examples.py STRATAMIX EMULATOR MANUAL.md   (EMULATOR "" or "|"-separated)
"""
import json
import os
import re
import struct
import subprocess
import sys
import tempfile

EXAMPLE = re.compile(r"^echo '(.*)' \| bin/stratamix eval$")
ANSWER = re.compile(r"^# (outColor|outNormal|normal|evaluated): (.*)$")
SIZES = {"outColor": 4, "outNormal": 3, "normal": 3}


def examples(text):
    """(line number, input, [(line number, key, value text)]) for each example."""
    found = []
    in_sh = False
    follows = None  # the line that may carry the last example's next answer
    for number, line in enumerate(text.splitlines(), 1):
        if line.startswith("```"):
            in_sh = not in_sh and line.strip() == "```sh"
            continue
        if not in_sh:
            continue
        m = EXAMPLE.match(line)
        a = ANSWER.match(line)
        if m:
            found.append((number, m.group(1), []))
            follows = number + 1
        elif a:
            if number != follows:
                raise ValueError(f"line {number}: an answer with no example line right above it")
            found[-1][2].append((number, a.group(1), a.group(2).strip()))
            follows = number + 1
        elif "stratamix eval" in line:
            raise ValueError(f"line {number}: not an example line: echo '...' | bin/stratamix eval")
    return found


SCENE_EXAMPLE = re.compile(r"^`stratamix check (\S+\.mi)` prints")
EXITS = re.compile(r"exits with (\d+)")


def block_at(lines, start, step):
    """The text of the ``` block nearest `start` going by `step`, and its
    opening line's number (1-based)."""
    at = start
    while not lines[at].startswith("```"):
        at += step
    other = at + step
    while not lines[other].startswith("```"):
        other += step
    first, last = sorted((at, other))
    return "".join(l + "\n" for l in lines[first + 1:last]), first + 1


def scene_examples(text):
    """(line number, file name, scene, output, status) for each scene example."""
    lines = text.splitlines()
    found = []
    for n, line in enumerate(lines):
        m = SCENE_EXAMPLE.match(line)
        if not m:
            continue
        status = EXITS.search(" ".join(lines[n:n + 3]))
        if not status:
            raise ValueError(f"line {n + 1}: a scene example that does not say how check exits")
        scene, _ = block_at(lines, n - 1, -1)
        output, _ = block_at(lines, n + 1, 1)
        found.append((n + 1, m.group(1), scene, output, int(status.group(1))))
    return found


def check_scenes(stratamix, emulator, manual, found):
    """The problems of the scene examples, each run in a folder of its own."""
    problems = []
    tool = os.path.abspath(stratamix) if os.path.exists(stratamix) else stratamix
    for number, name, scene, output, status in found:
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
                f.write(scene)
            run = subprocess.run([c for c in emulator.split("|") if c] +
                                 [tool, "check", name], cwd=folder, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True, check=False)
        if run.returncode != status or run.stdout != output:
            problems.append(f"{manual}:{number}: the manual says check exits with {status} and "
                            f"prints\n{output}check exits with {run.returncode} and prints\n"
                            f"{run.stdout}")
    return problems


def from_pattern(pattern):
    return struct.unpack(">f", bytes.fromhex(pattern[2:]))[0]


def differs(key, want, got):
    """What is wrong with one answer, or None."""
    if key == "evaluated":
        names = [] if want == "nothing" else [n.strip() for n in want.split(",")]
        return None if names == got else f"evaluated {', '.join(got) or 'nothing'}"
    if want == "not written":
        return None if got is None else f"{key} was written"
    if got is None:
        return f"{key} was not written"
    numbers = [n.strip() for n in want.split(",")]
    if len(numbers) != SIZES[key]:
        return f"{key} takes {SIZES[key]} numbers"
    values = [from_pattern(p) for p in got]
    for text, value in zip(numbers, values):
        places = max(2, len(text.split(".")[1]) if "." in text else 0)
        if not abs(value - float(text)) <= 0.5 * 10.0**-places * (1 + 1e-9):
            return f"{key} {', '.join(f'{v:.{places + 2}f}' for v in values)}"
    return None


def main(stratamix, emulator, manual):
    with open(manual, encoding="utf-8") as f:
        text = f.read()
        try:
            found = examples(text)
            scenes = scene_examples(text)
        except ValueError as e:
            print(f"{manual}: {e}")
            return 1
    problems = [f"{manual}:{n}: an example without its answer" for n, _, a in found if not a]
    command = [c for c in emulator.split("|") if c] + [stratamix, "eval"]
    run = subprocess.run(command, input="".join(i + "\n" for _, i, _ in found),
                         capture_output=True, text=True, check=False)
    lines = run.stdout.splitlines()
    if run.returncode != 0 or len(lines) != len(found):
        print(f"stratamix eval: status {run.returncode}, {len(lines)} answers to {len(found)} "
              f"examples\n{run.stderr}")
        return 1
    for (_, _, answers), line in zip(found, lines):
        answer = json.loads(line)
        for number, key, want in answers:
            wrong = differs(key, want, answer[key])
            if wrong:
                problems.append(f"{manual}:{number}: the manual says {key}: {want}; eval gives "
                                f"{wrong}")
    problems += check_scenes(stratamix, emulator, manual, scenes)
    for p in problems:
        print(p)
    print(f"{len(found)} examples, {sum(len(a) for _, _, a in found)} answers and "
          f"{len(scenes)} scenes checked: {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3]))
