#!/usr/bin/env python3
"""Checks that every text Orvalin speaks comes from src/base/sentences.h.

Reads the program's own sources (not tests, not src/testing) and fails on:
- a string literal with a letter in it passed, however deeply, to a call
  that speaks or builds spoken text (say, say_queued, speak, fill, and the
  start-up's stopped/failed), unless it goes to a lookup of data (an
  environment variable, a track field) on the way;
- in the files that build what is said (the actions, reports, beat-grid
  tools, announcements, value formats, hot keys, reload, start-up), any
  literal that reads as words (two words with a space between), outside a
  log line or a thread's name, or within two lines after a comment
  "// not spoken";
- an entry of sentences.h marked Asks that kAskingSentences does not list,
  or a listed name that is not an Asks entry.

usage: spoken_text.py SRC_DIR
"""

import re
import sys
from pathlib import Path

SPEAKING = {"say", "say_queued", "speak", "fill", "stopped", "failed"}
# Calls whose literal arguments are names of data, not text to speak.
LOOKUPS = {"get_env", "find", "get", "value_or", "starts_with", "ends_with",
           "numbered_name", "snprintf", "path", "set", "send_get", "send_set"}
# Calls whose literal arguments are never spoken.
SILENT = {"log", "spawn_detached", "run_guarded", "log_line", "print_line"}
# Files (relative to SRC_DIR) whose every worded literal could be spoken.
BUILDERS = ["actions/*.cpp", "announcer/*.cpp", "beatgrid/*.cpp",
            "controls/formats.cpp", "controls/track.cpp", "hotkeys/hotkeys.cpp",
            "hotkeys/hotkeys_*.cpp", "reload/reload.cpp", "main/run.cpp",
            "main/orvalin_main.cpp", "kelvocheck/kelvocheck.cpp",
            "bridge/*.cpp", "main/launch*.cpp", "base/plugin*.cpp"]
WORDS = re.compile(r"[A-Za-z]+ +[A-Za-z]")
IDENT = re.compile(r"[A-Za-z_][A-Za-z0-9_]*$")


def literals(text):
    """(start, end, body) of each string literal, with comments and
    character literals skipped; raw strings included."""
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            i = text.find("\n", i)
            i = n if i < 0 else i
        elif text.startswith("/*", i):
            i = text.find("*/", i + 2) + 2
        elif c == "'" and not text[i - 1:i].isdigit():
            j = i + 1
            while text[j] != "'":
                j += 2 if text[j] == "\\" else 1
            i = j + 1
        elif c == '"':
            raw = re.search(r'R$', text[max(0, i - 3):i])
            if raw:
                delim = text[i + 1:text.index("(", i)]
                end = text.index(")" + delim + '"', i) + len(delim) + 2
                yield i, end, text[i:end]
                i = end
                continue
            j = i + 1
            while text[j] != '"':
                j += 2 if text[j] == "\\" else 1
            yield i, j + 1, text[i + 1:j]
            i = j + 1
        else:
            i += 1


def enclosing_calls(text, at):
    """The names of the calls whose parentheses hold position `at`,
    innermost first ("" for a parenthesis that is no call)."""
    calls, depth = [], 0
    for i in range(at - 1, -1, -1):
        c = text[i]
        if c in ")]}":
            depth += 1
        elif c in "([{":
            if depth:
                depth -= 1
            elif c == "(":
                name = re.search(r"([A-Za-z_][A-Za-z0-9_]*)\s*$", text[:i])
                calls.append(name.group(1) if name else "")
        elif c == ";" and depth == 0:
            break
    return calls


def spoken_call(calls):
    """Whether a literal inside `calls` reaches a speaking call, not going
    through a lookup first."""
    for name in calls:
        if name in LOOKUPS or name in SILENT:
            return False
        if name in SPEAKING:
            return True
    return False


def check_sources(src):
    problems = []
    builders = {f for pattern in BUILDERS for f in src.glob(pattern)}
    for file in sorted(src.glob("*/*.cpp")) + sorted(src.glob("*/*.h")):
        if (file.stem.endswith("_test") or file.parent.name == "testing" or
                file.name == "sentences.h" or file.name.endswith("_test.h")):
            continue
        text = file.read_text(errors="replace")
        for start, _, body in literals(text):
            if not re.search(r"[A-Za-z]", body):
                continue
            calls = enclosing_calls(text, start)
            line = text.count("\n", 0, start) + 1
            lines = text.splitlines()
            if any("// not spoken" in lines[i]
                   for i in range(max(0, line - 3), line)):
                continue
            where = "%s:%d: %s" % (file.relative_to(src), line, body[:60])
            if spoken_call(calls):
                problems.append(where + " (spoken; put it in sentences.h)")
            elif (file in builders and WORDS.search(body) and
                  not any(name in SILENT for name in calls)):
                problems.append(where + " (words in a file that builds "
                                "spoken text; put it in sentences.h)")
    return problems


def check_table(src):
    text = (src / "base" / "sentences.h").read_text()
    asks = set(re.findall(r"inline constexpr Asks(?:Plural)? (k\w+)", text))
    listed_part = text[text.index("kAskingSentences"):]
    listed = set(re.findall(r"Heard\{[^,{}]*(?:\{\})?,\s*(k\w+)", listed_part))
    listed |= set(re.findall(r"heard\((k\w+), [12]\)", listed_part))
    problems = ["sentences.h: %s is an Asks entry that kAskingSentences does "
                "not list" % name for name in sorted(asks - listed)]
    problems += ["sentences.h: kAskingSentences lists %s, not an Asks entry"
                 % name for name in sorted(listed - asks)]
    return problems


def main():
    src = Path(sys.argv[1])
    problems = check_sources(src) + check_table(src)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
