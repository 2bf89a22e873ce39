#!/usr/bin/python3
"""Turns the translations (po/<code>.po) into C++ tables for the program.

Usage: po_tables.py OUT.cpp PO...

Each catalogue keeps its translated, not fuzzy messages, keyed as gettext
keys them (the context, '\\x04' and the English text) and sorted by the bytes
of the key, so the program finds one with a binary search. The Plural-Forms
expression of the header becomes the catalogue's plural function: it is C,
and after a check that it holds only what such an expression may hold it is
compiled as it is.
"""
import os
import re
import sys

try:
    import polib
except ImportError:
    # polib is Debian's package (scripts/bootstrap): under another Python
    # on the path, run again with the system's.
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    raise

PLURAL_RE = re.compile(r"nplurals\s*=\s*(\d+)\s*;\s*plural\s*=\s*(.+?);?\s*$")
SAFE_EXPRESSION = re.compile(r"^[n0-9\s()?:<>=!&|%+*/-]+$")


def literal(text):
    out = ['"']
    for byte in text.encode("utf-8"):
        if 0x20 <= byte < 0x7F and byte not in (0x22, 0x5C, 0x3F):
            out.append(chr(byte))
        else:
            # Always three octal digits: a following digit cannot join the
            # escape, and "?" cannot start a trigraph.
            out.append("\\%03o" % byte)
    out.append('"')
    return "".join(out)


def plural_expression(po, path):
    header = po.metadata.get("Plural-Forms", "nplurals=2; plural=(n != 1);")
    match = PLURAL_RE.match(header.strip())
    if not match or not SAFE_EXPRESSION.match(match.group(2)):
        sys.exit(f"{path}: cannot read Plural-Forms: {header!r}")
    return int(match.group(1)), match.group(2)


def catalogue(path):
    code = os.path.splitext(os.path.basename(path))[0]
    po = polib.pofile(path)
    nplurals, expression = plural_expression(po, path)
    entries = []
    for entry in po:
        if entry.obsolete or "fuzzy" in entry.flags or not entry.msgid:
            continue
        if entry.msgid_plural:
            forms = [entry.msgstr_plural.get(i, "") for i in range(nplurals)]
        else:
            forms = [entry.msgstr]
        if not all(forms):
            continue
        key = entry.msgid if not entry.msgctxt else \
            entry.msgctxt + "\x04" + entry.msgid
        entries.append((key, forms))
    entries.sort(key=lambda e: e[0].encode("utf-8"))
    return code, expression, entries


def main():
    out_path, paths = sys.argv[1], sorted(sys.argv[2:])
    lines = [
        "// Made by scripts/po_tables.py from po/*.po; do not edit.",
        '#include "base/language.h"',
        "",
        "namespace orvalin {",
        "namespace {",
    ]
    rows = []
    for path in paths:
        code, expression, entries = catalogue(path)
        name = "k" + re.sub(r"[^A-Za-z0-9]", "", code.title())
        for i, (_, forms) in enumerate(entries):
            lines.append(f"constexpr std::string_view {name}{i}[] = {{" +
                         ", ".join(literal(f) for f in forms) + "};")
        lines.append(f"constexpr CatalogueEntry {name}Entries[] = {{")
        for i, (key, _) in enumerate(entries):
            lines.append(f"    {{{literal(key)}, {name}{i}}},")
        if not entries:
            lines.append("    {}")
        lines.append("};")
        lines.append(f"unsigned long {name}Plural(unsigned long n) {{")
        lines.append("  (void)n;  // a language of one form")
        lines.append(f"  return static_cast<unsigned long>({expression});")
        lines.append("}")
        count = len(entries)
        rows.append(f"    {{{literal(code)}, {name}Plural, "
                    f"std::span<const CatalogueEntry>({name}Entries, {count})}},")
    lines.append("constexpr Catalogue kCatalogues[] = {")
    lines.extend(rows)
    if not rows:
        lines.append("    {}")
    lines.append("};")
    lines.append("}  // namespace")
    lines.append("")
    lines.append("std::span<const Catalogue> catalogues() {")
    lines.append(f"  return std::span<const Catalogue>(kCatalogues, {len(rows)});")
    lines.append("}")
    lines.append("")
    lines.append("}  // namespace orvalin")
    text = "\n".join(lines) + "\n"
    # Unchanged output keeps its time stamp, so nothing is rebuilt for it.
    try:
        with open(out_path, encoding="utf-8") as old:
            if old.read() == text:
                return
    except OSError:
        pass
    with open(out_path, "w", encoding="utf-8") as out:
        out.write(text)


if __name__ == "__main__":
    main()
