#!/usr/bin/env python3
"""Checks the folders' layering from the #include lines of engine/ and launcher/.

Each folder (engine/<name>, launcher/<name>) has a place in LAYERS, listed
from the top down, and may include only itself and the folders below it:
so no two folders include each other, nothing in engine/ includes
launcher/, and launcher/core/ includes only the LZMA decoder and the engine.
The README's layout table says the same in words.

Usage: check_layers.py [SOURCE_ROOT]. Prints every include that goes the
wrong way (file, line, what it includes) and the counts between folders
with -v; exits 1 when any include is wrong or a folder is not in the table.
"""
import collections
import os
import re
import sys

# Top to bottom.
LAYERS = [
    "launcher/app",        # the program's entry and its command-line modes
    "launcher/ui",         # the window
    "launcher/mod_tasks",  # the mods' imports and tasks (they rewrite Quillmarsh.cfg)
    "launcher/gamebuild",  # the game check, the toolchain, Quillmarsh.cfg, the builds
    "launcher/mods",       # the mod data the game loads and the mods' own state
    "launcher/archive",    # ZIP and RAR5 readers, the member-name check
    "launcher/embed",      # the source bundle's bytes
    "launcher/core",       # settings, data folder, tasks, bundle, translations
    "launcher/lzma",       # the LZMA decoder
    "engine/kt_render",
    "engine/kt_input",
    "engine/kt_i18n",
    "engine/kt_datafile",
    "engine/kt_system",
]

INCLUDE = re.compile(r'^\s*#\s*include\s+"((?:engine|launcher)/[^"]+)"')
SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cpp", ".inc")


def folder_of(path):
    parts = path.split("/")
    return "/".join(parts[:2]) if len(parts) > 2 else None


def main(argv):
    verbose = "-v" in argv
    args = [a for a in argv if a != "-v"]
    root = os.path.abspath(args[0] if args else os.path.join(os.path.dirname(__file__), ".."))
    rank = {name: i for i, name in enumerate(LAYERS)}
    counts = collections.Counter()
    wrong = []
    unknown = set()
    for top in ("engine", "launcher"):
        for dirpath, dirnames, filenames in os.walk(os.path.join(root, top)):
            dirnames.sort()
            for name in sorted(filenames):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/")
                src = folder_of(path)
                if src is None:
                    continue
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        dst = folder_of(m.group(1))
                        if dst is None or dst == src:
                            continue
                        counts[(src, dst)] += 1
                        for folder in (src, dst):
                            if folder not in rank:
                                unknown.add(folder)
                        if src in rank and dst in rank and rank[dst] <= rank[src]:
                            wrong.append(f"{path}:{number}: {src} includes {m.group(1)} ({dst} is not below it)")
    if verbose:
        for (src, dst), n in sorted(counts.items(), key=lambda kv: (rank.get(kv[0][0], -1), rank.get(kv[0][1], -1))):
            print(f"{src:20} -> {dst:20} {n:4}")
    for line in wrong:
        print(line)
    for folder in sorted(unknown):
        print(f"{folder}: not in the layer table of scripts/check_layers.py (and the README's layout table)")
    edges = sum(counts.values())
    if wrong or unknown:
        print(f"layers: FAILED ({len(wrong)} includes go up or across, {len(unknown)} folders not in the table)")
        return 1
    print(f"layers: ok ({edges} includes between {len(LAYERS)} folders, every one going down)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
