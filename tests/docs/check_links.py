#!/usr/bin/env python3
"""Checks that every link and picture of the given Markdown files that names
a file of the tree resolves to one (web addresses and in-page anchors are
not followed), and that the manual's pictures stay small.

    check_links.py IMAGES_DIR MAX_BYTES FILE.md [FILE.md ...]
"""
import os
import re
import sys

LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)(?:\s+\"[^\"]*\")?\)")


def main(images, max_bytes, files):
    problems = []
    for md in files:
        with open(md, encoding="utf-8") as f:
            text = f.read()
        # Code blocks show commands and scenes, not links.
        text = re.sub(r"```.*?```", "", text, flags=re.S)
        for target in LINK.findall(text):
            if re.match(r"^[a-z]+:", target) or target.startswith("#"):
                continue
            path = os.path.normpath(os.path.join(os.path.dirname(md), target.split("#")[0]))
            if not os.path.exists(path):
                problems.append(f"{md}: {target} does not resolve ({path})")
    total = sum(os.path.getsize(os.path.join(images, n)) for n in os.listdir(images))
    if total > max_bytes:
        problems.append(f"{images}: {total} bytes, more than {max_bytes}")
    for p in problems:
        print(p)
    print(f"{len(files)} files checked, {images} holds {total} bytes: {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], int(sys.argv[2]), sys.argv[3:]))
