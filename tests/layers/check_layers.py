#!/usr/bin/env python3
"""Checks that the source folders include one another one way, downward.

Each folder has a layer; a file may include a header of its own folder or of
a folder on a lower layer, never one above it, so that no two folders
include each other. Headers are included by bare name, so each project
header's name must be unique across the folders.

    check_layers.py SOURCE_DIR
"""
import os
import re
import sys

# Lowest first. Folders on one layer may not include each other.
LAYERS = [
    ["renderer"],  # the colour and vector types, the renderer interface
    ["shader"],  # the records, the field list, the flow and the stages
    ["binding"],  # the plug-in's exports and the Windows lookup
    ["host"],  # the stand-in renderer and the loader
    ["scene"],  # the scene reader and the checks of its instances
    ["bench", "preview"],  # fixtures and benchmarks; the preview library
    ["bake", "describe"],  # baking looks into maps on a mesh; the description of the contract
    ["serve"],  # the look-development server and its page
    ["tools"],  # the command line
    ["tests", "fuzz"],
]
SOURCES = (".h", ".cpp")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_of(path, root):
    rel = os.path.relpath(os.path.dirname(path), root).replace(os.sep, "/")
    for layer in LAYERS:
        for folder in sorted(layer, key=len, reverse=True):
            if rel == folder or rel.startswith(folder + "/"):
                return folder
    return None


def layer_of(folder):
    for i, layer in enumerate(LAYERS):
        if folder in layer:
            return i
    raise KeyError(folder)


def main(root):
    files = []
    for top in {f.split("/")[0] for layer in LAYERS for f in layer}:
        for dirpath, _, names in os.walk(os.path.join(root, top)):
            files += [os.path.join(dirpath, n) for n in names if n.endswith(SOURCES)]
    headers = {}
    problems = []
    for path in files:
        if path.endswith(".h"):
            name = os.path.basename(path)
            folder = folder_of(path, root)
            if name in headers and headers[name] != folder:
                problems.append(f"{name} stands in both {headers[name]}/ and {folder}/")
            headers[name] = folder
    for path in sorted(files):
        here = folder_of(path, root)
        with open(path, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m or os.path.basename(m.group(1)) not in headers:
                    continue
                there = headers[os.path.basename(m.group(1))]
                if there != here and layer_of(there) >= layer_of(here):
                    problems.append(f"{os.path.relpath(path, root)}:{number}: {here}/ includes "
                                    f"{m.group(1)} of {there}/, which is not below it")
    for p in problems:
        print(p)
    print(f"{len(files)} files, {len(headers)} headers: {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
