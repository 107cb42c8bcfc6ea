#!/usr/bin/env python3
"""Writes the eval tool's input: the cases of a case file, behind a UTF-8
byte-order mark, and after them the lines that no file in the repository
should hold (tests/eval/README.md lists them):

    34  100,000 nested lists
    35  a line one byte over 1 MiB
    36  a case padded to exactly 1 MiB, answered
    37  a NUL byte at column 16
    38  a case ended by CR alone, answered
    39  a case ended by CRLF, answered
    40  an unknown key: its number shows that CR and CRLF each ended one line

usage: hostile_cases.py CASES OUTPUT
"""
import sys

MIB = 1024 * 1024


def hostile_lines():
    yield b"[" * 100000 + b"]" * 100000 + b"\n"
    over = b'{"params": {"gamma": "'
    yield over + b"y" * (MIB + 1 - len(over)) + b"\n"
    case = b'{"params": {"gamma": 0.5}}'
    yield case + b" " * (MIB - len(case)) + b"\n"
    yield b'{"params": {"ga\0mma": 1}}\n'
    yield b'{"rayType": 1}\r'
    yield b'{"normal": [0, 0, 1]}\r\n'
    yield b'{"colour": 1}\n'


def main(cases_path, output_path):
    with open(cases_path, "rb") as cases:
        text = cases.read()
    with open(output_path, "wb") as out:
        out.write(b"\xef\xbb\xbf" + text)
        for line in hostile_lines():
            out.write(line)
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.stderr.write(__doc__)
        sys.exit(2)
    sys.exit(main(sys.argv[1], sys.argv[2]))
