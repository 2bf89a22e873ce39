#!/usr/bin/env python3
"""Checks the layering of the modules under src/ against CMake's DEPS.

Reads the `#include "module/..."` lines of the program's own sources (every
.cpp that is not a test, and the headers they reach) and fails when a module
includes another it does not list in DEPS, or when modules include each other
in a cycle. CMake writes the declared DEPS at configure time, one module a
line: the module's name, then its direct dependencies.

usage: layering.py SRC_DIR DEPS_FILE
"""

import re
import sys
from pathlib import Path

INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z0-9_]+/[^"]+)"', re.M)


def read_declared(path):
    declared = {}
    for line in Path(path).read_text().splitlines():
        words = line.split()
        if words:
            declared[words[0]] = set(words[1:])
    return declared


def include_edges(src):
    """{(from module, to module): first file that makes the edge}."""
    src = Path(src)
    modules = {d.name for d in src.iterdir() if d.is_dir()}
    todo = [f for f in src.glob("*/*.cpp") if not f.stem.endswith("_test")]
    seen = set(todo)
    edges = {}
    while todo:
        file = todo.pop()
        module = file.parent.name
        for name in INCLUDE.findall(file.read_text(errors="replace")):
            target = name.split("/")[0]
            if target not in modules:
                continue  # a library's or a generated header
            if target != module:
                edges.setdefault((module, target), file.relative_to(src))
            header = src / name
            if header.exists() and header not in seen:
                seen.add(header)
                todo.append(header)
    return edges


def cycles(graph):
    """The strongly connected groups of more than one module (Tarjan)."""
    index, low, stack, on_stack, groups = {}, {}, [], set(), []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for nxt in sorted(graph.get(node, ())):
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            group = []
            while True:
                top = stack.pop()
                on_stack.discard(top)
                group.append(top)
                if top == node:
                    break
            if len(group) > 1:
                groups.append(sorted(group))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return groups


def problems(edges, declared):
    """Every fault of the include edges against the declared DEPS."""
    found = []
    graph = {}
    for (a, b), where in sorted(edges.items()):
        graph.setdefault(a, set()).add(b)
        if a not in declared:
            found.append(f"{where}: module '{a}' is not declared in CMake")
        elif b not in declared[a]:
            found.append(f"{where}: includes '{b}', which DEPS of '{a}' "
                         f"does not list")
    for a, deps in declared.items():
        graph.setdefault(a, set()).update(deps)
    for group in cycles(graph):
        found.append("cycle between modules: " + " <-> ".join(group))
    return found


def self_check():
    """The checks themselves must be able to fail."""
    ok = {("a", "b"): "a/x.cpp"}
    assert not problems(ok, {"a": {"b"}, "b": set()})
    assert problems(ok, {"a": set(), "b": set()})  # undeclared edge
    ring = {("a", "b"): "a/x.cpp", ("b", "c"): "b/y.cpp",
            ("c", "a"): "c/z.cpp"}
    assert any("cycle" in p and "a <-> b <-> c" in p
               for p in problems(ring, {"a": {"b"}, "b": {"c"},
                                        "c": {"a"}}))


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    self_check()
    found = problems(include_edges(argv[1]), read_declared(argv[2]))
    for problem in found:
        print(problem)
    print(f"layering: {len(found)} problems")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
