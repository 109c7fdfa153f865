#!/usr/bin/env python3
"""Shows which of Quillmart's folders include which, and checks that no include runs upward.

Usage: scripts/include-layers.py            (from the source tree's root)

The layers, lowest first: the table engine (dbf/), the index engine (index/),
the dataset component (dataset/), the socket and FTP client (net/, with its
widgets in net/widgets/), then the programs' shared core (app/core/), the
command line (app/cli/) and the windows (app/gui/). A folder may include its
own headers and those of the folders ALLOWED names for it; anything else is a
include running upward or sideways, printed with file and line. Exit status 1
when there is one.
"""
import collections
import os
import re
import sys

ALLOWED = {
    "dbf": set(),
    "index": {"dbf"},
    "dataset": {"dbf", "index"},
    "net": set(),
    "net/widgets": {"net"},
    "app/core": {"dbf", "index", "dataset", "net"},
    "app/cli": {"app/core", "dbf", "index", "dataset", "net"},
    "app/gui": {"app/core", "dbf", "index", "dataset", "net", "net/widgets"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_of(path):
    """The layer a path (a source file or an included header) belongs to."""
    best = None
    for layer in ALLOWED:
        if path == layer or path.startswith(layer + "/"):
            if best is None or len(layer) > len(best):
                best = layer
    return best


def main():
    edges = collections.Counter()
    wrong = []
    for layer in ALLOWED:
        if not os.path.isdir(layer):
            continue
        for root, _, files in os.walk(layer):
            here = folder_of(root)
            if here != layer:
                continue  # a deeper layer's folder is walked as that layer
            for name in sorted(files):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(root, name)
                with open(path, encoding="utf-8", errors="replace") as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = folder_of(match.group(1))
                        if target is None:
                            continue  # a header beside the file, or generated
                        edges[(layer, target)] += 1
                        if target != layer and target not in ALLOWED[layer]:
                            wrong.append(f"{path}:{number}: {layer} includes {match.group(1)}")
    for layer in ALLOWED:
        targets = [f"{target} ({count})" for (source, target), count in sorted(edges.items())
                   if source == layer and target != layer]
        if os.path.isdir(layer):
            print(f"{layer:12} -> {', '.join(targets) if targets else '(nothing outside itself)'}")
    for line in wrong:
        print(line)
    print(f"{len(wrong)} include(s) running upward or sideways")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
