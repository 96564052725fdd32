#!/usr/bin/env python3
"""Checks the one-way folder stack and that no files of a folder include each other in a circle.

A file may include only headers of its own folder and of the folders below it. Within a folder,
a unit is a header with its source file of the same name; units must not depend on each other in
a circle. Prints every offence and exits 1 when there is one.
"""
import os
import re
import sys

STACK = ["platform", "base", "songs", "sound", "playback", "online", "ui", "app"]
# The customer support program stands on the platform, base and the shared remote-support client.
EXTRA = {"assist": {"platform", "base", "online", "assist"}}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def allowed(folder):
    if folder in EXTRA:
        return EXTRA[folder]
    return set(STACK[: STACK.index(folder) + 1])


def units_of(root, folder):
    """Maps unit name (path without extension, relative to root) to the includes of its files."""
    units = {}
    for dirpath, _, files in os.walk(os.path.join(root, folder)):
        if "/page" in dirpath.replace(os.sep, "/")[len(root):]:
            continue
        for name in files:
            base, ext = os.path.splitext(name)
            if ext not in (".h", ".cpp", ".c"):
                continue
            path = os.path.join(dirpath, name)
            unit = os.path.relpath(os.path.join(dirpath, base), root).replace(os.sep, "/")
            with open(path, encoding="utf-8", errors="replace") as f:
                includes = INCLUDE.findall(f.read())
            units.setdefault(unit, []).extend((os.path.relpath(path, root), inc) for inc in includes)
    return units


def cycles(graph):
    """Strongly connected components with more than one unit (Tarjan)."""
    index, low, on_stack, stack, out = {}, {}, set(), [], []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in graph.get(v, ()):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            comp = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                comp.append(w)
                if w == v:
                    break
            if len(comp) > 1:
                out.append(sorted(comp))

    sys.setrecursionlimit(10000)
    for v in list(graph):
        if v not in index:
            visit(v)
    return out


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    root = os.path.abspath(root)
    problems = []
    for folder in STACK + list(EXTRA):
        if not os.path.isdir(os.path.join(root, folder)):
            continue
        ok = allowed(folder)
        units = units_of(root, folder)
        graph = {}
        for unit, includes in units.items():
            for path, inc in includes:
                top = inc.split("/")[0]
                if "/" in inc and top in STACK + list(EXTRA) and top not in ok:
                    problems.append(f"upward include: {path} includes \"{inc}\" ({folder}/ may use {', '.join(sorted(ok))})")
                target = os.path.splitext(inc)[0]
                if target in units and target != unit:
                    graph.setdefault(unit, set()).add(target)
        for comp in cycles(graph):
            problems.append(f"files include each other in a circle: {' -> '.join(comp)}")
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} layer problem(s)")
        return 1
    print("layers: every include goes down the stack; no circle of files")
    return 0


if __name__ == "__main__":
    sys.exit(main())
