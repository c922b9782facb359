#!/usr/bin/env python3
"""Link graph of a program's object files: file A -> file B when A uses a
symbol that B defines. Reports cycles between files and arrows that point up
the layer table; exits 1 when there is either.

usage: linkgraph.py --layers TABLE [--nm NM] [--root DIR] OBJECT...

TABLE: one "PATTERN RANK" a line ('#' starts a comment); PATTERN is a
shell-style pattern over the source path relative to the project root
(coding/*, app/entry.cpp); the first that matches gives the file its rank.
A file may use files of its own rank or lower ranks only. A line
"known-cycle FILE FILE..." names a cycle that is reported but not counted,
for a layer whose rework has not landed yet.
Object paths as CMake lays them out (DIR/CMakeFiles/TARGET.dir/SOURCE.obj)
are turned back into their source path.
"""
import argparse
import fnmatch
import os
import re
import subprocess
import sys


def source_path(obj, root):
    path = os.path.relpath(os.path.abspath(obj), root) if root else obj
    path = path.replace(os.sep, "/")
    path = re.sub(r"^build/[^/]+/", "", path)
    m = re.match(r"(.*?)/?CMakeFiles/[^/]+\.dir/(.*?)\.(?:o|obj)$", path)
    if m:
        path = (m.group(1) + "/" if m.group(1) else "") + m.group(2).replace("__/", "../")
    return os.path.normpath(path).replace(os.sep, "/")


def read_table(path):
    table, known = [], []
    with open(path) as f:
        for line in f:
            line = line.split("#", 1)[0].split()
            if line and line[0] == "known-cycle":
                known.append(sorted(line[1:]))
            elif len(line) == 2:
                table.append((line[0], int(line[1])))
    return table, known


def rank_of(path, table):
    for pattern, rank in table:
        if fnmatch.fnmatch(path, pattern):
            return rank
    return None


def symbols(nm, obj):
    out = subprocess.run([nm, obj], check=True, capture_output=True, text=True).stdout
    defined, used = set(), set()
    for line in out.splitlines():
        parts = line.split()
        if len(parts) >= 2 and parts[-2] == "U":
            used.add(parts[-1])
        elif len(parts) == 3 and parts[1] in "TDBRCWVG":
            defined.add(parts[2])
    return defined, used


def cycles(graph):
    """Strongly connected components of more than one file (Tarjan)."""
    index, low, stack, on, found = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in sorted(graph[v]):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    for v in sorted(graph):
        if v not in index:
            visit(v)
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--layers", required=True)
    parser.add_argument("--nm", default="nm")
    parser.add_argument("--root", default=os.getcwd())
    parser.add_argument("objects", nargs="+")
    args = parser.parse_args()

    table, known = read_table(args.layers)
    # CMake hands lists over joined by ';'; resource objects hold no code.
    objects = [o for arg in args.objects for o in arg.split(";") if o.endswith((".o", ".obj"))]
    files = {}
    for obj in objects:
        files[source_path(obj, args.root)] = symbols(args.nm, obj)
    definers = {}
    for name, (defined, _) in files.items():
        for symbol in defined:
            definers.setdefault(symbol, []).append(name)
    graph = {name: set() for name in files}
    for name, (_, used) in files.items():
        for symbol in used:
            owners = definers.get(symbol, [])
            # A symbol several files define (inline functions, templates) ties none of them.
            if len(owners) == 1 and owners[0] != name:
                graph[name].add(owners[0])

    problems = 0
    ranks = {name: rank_of(name, table) for name in files}
    for name in sorted(files):
        if ranks[name] is None:
            print(f"NO LAYER: {name}")
            problems += 1
    print("link graph (rank file -> files it uses):")
    for name in sorted(files, key=lambda n: (ranks[n] if ranks[n] is not None else 99, n)):
        print(f"  {ranks[name]} {name} -> {', '.join(sorted(graph[name])) or '-'}")
    for name in sorted(files):
        for target in sorted(graph[name]):
            if ranks[name] is not None and ranks[target] is not None and ranks[target] > ranks[name]:
                print(f"UPWARD: {name} (rank {ranks[name]}) -> {target} (rank {ranks[target]})")
                problems += 1
    for component in cycles(graph):
        if component in known:
            print(f"known cycle (not counted): {' <-> '.join(component)}")
            continue
        print(f"CYCLE: {' <-> '.join(component)}")
        problems += 1
    print(f"{len(files)} files, {sum(len(t) for t in graph.values())} arrows, {problems} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
