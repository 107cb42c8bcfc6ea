#!/usr/bin/env python3
"""Checks that the project's own functions in a 32-bit x86 binary use no x87
arithmetic, compare or conversion, without running it.

The functions checked are those defined in the given object files or archives
(nm's text symbols); the C runtime linked in beside them (mingw-w64's pow and
sqrt are x87 code) is not ours. The i386 calling convention returns a float
or double in st(0), so fld, fst and fstp may move a value in or out; any
other x87 instruction means that arithmetic ran at the x87's precision.

    check_no_x87.py --objdump OBJDUMP --nm NM BINARY OBJECT [OBJECT ...]
"""
import argparse
import re
import subprocess
import sys

ALLOWED = {"fld", "fst", "fstp"}
FUNCTION = re.compile(r"^[0-9a-f]+ <(.+)>:$")
INSTRUCTION = re.compile(r"^\s+[0-9a-f]+:\t(\S+)")


def own_functions(nm, objects):
    names = set()
    for obj in objects:
        out = subprocess.run([nm, "--defined-only", obj], check=True, capture_output=True,
                             text=True).stdout
        for line in out.splitlines():
            parts = line.split()
            if len(parts) == 3 and parts[1] in "Tt" and not parts[2].startswith("."):
                names.add(parts[2])
    return names


def x87_uses(objdump, binary, functions):
    """Each checked function's x87 mnemonics outside ALLOWED, and how many
    functions were checked."""
    out = subprocess.run([objdump, "-d", "--no-show-raw-insn", "-M", "intel", binary],
                         check=True, capture_output=True, text=True).stdout
    found = {}
    checked = set()
    current = None
    for line in out.splitlines():
        header = FUNCTION.match(line)
        if header:
            current = header.group(1) if header.group(1) in functions else None
            if current:
                checked.add(current)
            continue
        insn = INSTRUCTION.match(line)
        if current and insn:
            mnemonic = insn.group(1)
            if mnemonic.startswith("f") and mnemonic != "fs" and mnemonic not in ALLOWED:
                found.setdefault(current, set()).add(mnemonic)
    return found, checked


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--nm", required=True)
    parser.add_argument("binary")
    parser.add_argument("objects", nargs="+")
    args = parser.parse_args()

    functions = own_functions(args.nm, args.objects)
    found, checked = x87_uses(args.objdump, args.binary, functions)
    # A binary without symbols would pass having checked nothing.
    if not checked:
        print(f"{args.binary}: none of the {len(functions)} functions of the given objects "
              "was found in its disassembly")
        return 1
    for name in sorted(found):
        print(f"x87 instructions in {name}: {' '.join(sorted(found[name]))}")
    print(f"{args.binary}: {len(checked)} functions checked, {len(found)} with x87 instructions")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
