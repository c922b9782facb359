#!/usr/bin/env python3
"""linkgraph.py - checks the link graph between source files: file A -> file B
when A's object uses a symbol that B's object defines. Reports every cycle
between files and every arrow that goes up the layer table below; exits 1 when
there is either, 0 when the graph is clean, 2 on bad arguments.

Usage:
  scripts/linkgraph.py OBJECT...                       object files as built
  scripts/linkgraph.py --build build/native --targets coding coding_encode package
                                                       the objects of those CMake targets
  add -v to print every arrow, --nm PROGRAM to choose the symbol lister
  (default: nm for .o files, i686-w64-mingw32-nm for the MinGW .obj files).

Each object is named by its source file, relative to the project root
(build/native/coding/CMakeFiles/coding.dir/lzhuf.cpp.o -> coding/lzhuf.cpp),
so the objects of several targets, or a program that compiles the libraries'
sources itself, give the same names.

To add a layer, add a row to LAYERS: a glob over those names and a rank.
A file may use files of its own rank or a lower one; a file that matches no
row is reported as unranked (a warning: its arrows are still in the cycle check).
"""
import argparse
import fnmatch
import os
import subprocess
import sys
from collections import defaultdict

# ---- The layer table: (glob over source paths, rank); lower ranks sit lower. ----
# The first matching row counts, so put the more specific patterns first.
LAYERS = [
    ("coding/*", 0),                 # cipher, codec, block stream, file layer
    ("app/setupconfig.cpp", 1),      # the configuration block, used by the package's embedding
    ("package/*", 2),                # package reader, transfer engine, writer
]


def rank_of(source):
    for pattern, rank in LAYERS:
        if fnmatch.fnmatch(source, pattern):
            return rank
    return None


def source_name(obj):
    """coding/CMakeFiles/coding.dir/lzhuf.cpp.o -> coding/lzhuf.cpp (relative to
    the build root when the object lies under a CMake target folder)."""
    path = os.path.abspath(obj)
    parts = path.split(os.sep)
    if "CMakeFiles" in parts:
        i = len(parts) - 1 - parts[::-1].index("CMakeFiles")
        if i + 1 < len(parts) and parts[i + 1].endswith(".dir"):
            target_dir = parts[:i]                    # the CMake folder of the target
            inside = [".." if p == "__" else p for p in parts[i + 2:]]
            full = os.path.normpath(os.sep.join(target_dir + inside))
            root = find_build_root(os.sep.join(target_dir))
            name = os.path.relpath(full, root) if root else full
            for suffix in (".o", ".obj"):
                if name.endswith(suffix):
                    name = name[: -len(suffix)]
            return name.replace(os.sep, "/")
    return os.path.basename(obj)


def find_build_root(folder):
    """The folder holding CMakeCache.txt at or above folder."""
    while True:
        if os.path.exists(os.path.join(folder, "CMakeCache.txt")):
            return folder
        parent = os.path.dirname(folder)
        if parent == folder:
            return None
        folder = parent


def symbols(obj, nm):
    """(defined, used) symbol sets of one object."""
    program = nm or ("i686-w64-mingw32-nm" if obj.endswith(".obj") else "nm")
    out = subprocess.run([program, "-P", obj], capture_output=True, text=True, check=True).stdout
    defined, used = set(), set()
    for line in out.splitlines():
        fields = line.split()
        if len(fields) < 2:
            continue
        name, kind = fields[0], fields[1]
        if kind == "U":
            used.add(name)
        elif kind.isupper() and kind not in "VW":
            # Lower case is local (static); weak definitions (V, W: inline
            # functions emitted where used) are everybody's and count for no one.
            defined.add(name)
    return defined, used


def objects_of_targets(build, targets):
    found = []
    for folder, _, files in os.walk(build):
        for target in targets:
            if folder.endswith(os.sep + target + ".dir") or (os.sep + target + ".dir" + os.sep) in folder + os.sep:
                found += [os.path.join(folder, f) for f in files if f.endswith((".o", ".obj"))]
    return sorted(set(found))


def cycles(graph, nodes):
    """Strongly connected components of more than one file (Tarjan)."""
    index, low, stack, on_stack, result = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in sorted(graph[v]):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                result.append(sorted(component))

    sys.setrecursionlimit(10000)
    for v in sorted(nodes):
        if v not in index:
            visit(v)
    return result


def main():
    parser = argparse.ArgumentParser(description="file cycles and upward arrows in the link graph")
    parser.add_argument("objects", nargs="*")
    parser.add_argument("--build")
    parser.add_argument("--targets", nargs="*", default=[])
    parser.add_argument("--nm")
    parser.add_argument("-v", "--verbose", action="store_true")
    args = parser.parse_args()
    objects = list(args.objects)
    if args.build:
        objects += objects_of_targets(args.build, args.targets)
    if not objects:
        parser.print_usage(sys.stderr)
        return 2

    definers = defaultdict(set)
    uses = {}
    names = {}
    for obj in objects:
        name = source_name(obj)
        names[obj] = name
        defined, used = symbols(obj, args.nm)
        for symbol in defined:
            definers[symbol].add(name)
        uses.setdefault(name, set()).update(used)

    graph = defaultdict(set)
    why = {}
    for name, used in uses.items():
        for symbol in used:
            owners = definers.get(symbol, set())
            if len(owners) != 1:
                continue   # the system's, or defined twice (the linker says so)
            (owner,) = owners
            if owner != name:
                graph[name].add(owner)
                why.setdefault((name, owner), symbol)
    nodes = set(uses)

    failed = False
    unranked = sorted(n for n in nodes if rank_of(n) is None)
    for name in unranked:
        print(f"warning: {name} is in no layer (add a row to LAYERS in {sys.argv[0]})")
    for a in sorted(graph):
        for b in sorted(graph[a]):
            ra, rb = rank_of(a), rank_of(b)
            if args.verbose:
                print(f"{a} -> {b}  ({why[(a, b)]})")
            if ra is not None and rb is not None and rb > ra:
                print(f"upward: {a} (layer {ra}) -> {b} (layer {rb}), e.g. {why[(a, b)]}")
                failed = True
    for component in cycles(graph, nodes):
        print("cycle: " + " <-> ".join(component))
        failed = True
    print(f"{len(nodes)} files, {sum(len(v) for v in graph.values())} arrows: "
          + ("FAIL" if failed else "no cycle, no upward arrow"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
