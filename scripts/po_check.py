#!/usr/bin/python3
"""The catalogue check (ctest po_catalogues).

Fails when po/orvalin.pot is not what the code gives (run `make pot`), or
when a shipped translation, po/<code>.po:
- does not pass `msgfmt --check` (header, plural forms, format flags);
- lacks a message of the template, leaves one untranslated or fuzzy;
- has a translation whose placeholders differ from the English ones ("{}"
  counted, or numbered "{0}".."{9}" covering the same parts);
- has a translation equal to the English text, unless that text is only
  names, numbers and signs (a key's name, a note's letter, "{} BPM").
"""
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

try:
    import polib
except ImportError:
    # polib is Debian's package (scripts/bootstrap): under another Python
    # on the path, run again with the system's.
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    raise

ROOT = Path(__file__).resolve().parent.parent
SHIPPED = ["de", "es", "fr", "pt_BR", "zh_CN"]
# Words that stay as they are in every language: names of programs and
# things, and what the settings file itself says.
NAMES = {"Orvalin", "Kelvo", "Qt", "BPM", "X11", "XWayland", "DISPLAY",
         "QT_QPA_PLATFORM", "UTF", "JSON", "Camelot"}
PLACEHOLDER = re.compile(r"\{(\d?)\}")


def key(entry):
    return (entry.msgctxt or "", entry.msgid)


def only_names(text):
    text = PLACEHOLDER.sub(" ", text)
    text = re.sub(r"'[^']*'|\"[^\"]*\"", " ", text)
    words = re.findall(r"[^\W\d]\w*", text)
    return all(w in NAMES or "_" in w or len(w) == 1 for w in words)


def placeholders_agree(english, translated):
    parts = len(PLACEHOLDER.findall(english))
    found = PLACEHOLDER.findall(translated)
    if all(f == "" for f in found):
        return len(found) == parts
    if any(f == "" for f in found):
        return False
    return sorted(int(f) for f in found) == list(range(parts))


def check_template(problems):
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run([str(ROOT / "scripts" / "po_update"), "--check", tmp],
                       check=True, stderr=subprocess.DEVNULL)
        made = polib.pofile(str(Path(tmp) / "orvalin.pot"))
    kept = polib.pofile(str(ROOT / "po" / "orvalin.pot"))
    def summary(pot):
        return [(key(e), e.msgid_plural, e.comment) for e in pot]
    if summary(made) != summary(kept):
        problems.append("po/orvalin.pot is out of date with the code: run "
                        "`make pot` and translate what it marks")
    return kept


def check_translation(code, template, problems):
    path = ROOT / "po" / f"{code}.po"
    if not path.exists():
        problems.append(f"{path.name}: missing")
        return
    checked = subprocess.run(["msgfmt", "--check", "-o", "/dev/null",
                              str(path)], capture_output=True, text=True)
    if checked.returncode != 0:
        problems.append(f"{path.name}: msgfmt --check: {checked.stderr}")
    po = polib.pofile(str(path))
    nplurals = int(re.search(r"nplurals\s*=\s*(\d+)",
                             po.metadata.get("Plural-Forms", "")).group(1))
    found = {key(e): e for e in po if not e.obsolete}
    for wanted in template:
        name = f"{path.name}: {wanted.msgid!r}"
        entry = found.get(key(wanted))
        if entry is None:
            problems.append(f"{name}: missing (run `make pot`)")
            continue
        if "fuzzy" in entry.flags:
            problems.append(f"{name}: fuzzy")
            continue
        if wanted.msgid_plural:
            pairs = [(wanted.msgid if i == 0 and nplurals > 1 else
                      wanted.msgid_plural, entry.msgstr_plural.get(i, ""))
                     for i in range(nplurals)]
        else:
            pairs = [(wanted.msgid, entry.msgstr)]
        for english, translated in pairs:
            if not translated:
                problems.append(f"{name}: not translated")
            elif not placeholders_agree(english, translated):
                problems.append(f"{name}: placeholders differ in "
                                f"{translated!r}")
            elif (translated == english and not only_names(english) and
                  wanted.msgctxt != "key"):
                problems.append(f"{name}: the translation is the English "
                                "text")


def main():
    problems = []
    template = check_template(problems)
    for code in SHIPPED:
        check_translation(code, template, problems)
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} problems in the message catalogues")
        return 1
    print(f"{len(template)} messages, translated into {', '.join(SHIPPED)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
