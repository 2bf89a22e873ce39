"""Speech and braille through each screen reader under Wine, with the
readers' stand-ins of tools/nvdastub: NVDA's client and its window, JAWS's
COM class registered for the machine and its window, ZDSR's and System
Access's libraries beside the program. Each stand-in writes every call to a
file of its own. A short scripted run per reader: the ready sentence, an
answered key, an announcement, stop speech, and after a reload that turns
braille off, a key again. One more run starts with NVDA, keeps it while
JAWS starts too, moves to JAWS when NVDA quits and then to the SAPI voice,
which Wine has but which never speaks there (its Speak answers "not
implemented"): only the log shows it."""

import os
import shutil

import harness
from run_support import READY, WineCase, build_dir

JAWS_CLASS = "{CCE5B1E5-B2ED-45D5-B09F-8EC54B75ABF4}"
CLASSES = "HKLM\\Software\\Classes\\"
# Row 12 of the simulator's library: "Last Light" by The Lanterns.
KELVO = ["--select", "12"]
SCRIPT = ("ctrl+alt+1; ctrl+alt+o; sleep:1500; ctrl+alt+q; sleep:6000; "
          "ctrl+alt+1")
STOP = None
# What the run says, in order: (text, interrupts, in braille), or STOP.
SAID = [("Starting Kelvo", False, True), (READY[len("say: "):], True, True),
        ("Deck 1. empty", True, True),
        ("Deck 1 loaded. Last Light. The Lanterns", False, True), STOP,
        ("Settings reloaded", False, False),
        ("Deck 1. Last Light. The Lanterns", True, False)]


def calls(reader, said):
    """The stand-in's lines for `said`, as each reader is called."""
    lines = []
    for item in said:
        if item is STOP:
            lines.append("cancel" if reader == "nvda" else "stop")
            continue
        text, interrupt, braille = item
        if reader in ("nvda", "sa"):
            # Interrupting is the program's own stop before speaking.
            if interrupt:
                lines.append("cancel" if reader == "nvda" else "stop")
            lines.append("speak " + text)
        else:
            lines.append(("speak interrupt " if interrupt else "speak ") +
                         text)
        if braille:
            lines.append('run BrailleString("%s")' % text
                         if reader == "jaws" else "braille " + text)
    return lines


class Readers(WineCase):
    def stub_lines(self, box, reader):
        return harness.read_bytes(os.path.join(box.root, reader + ".log"),
                                  b"").decode("utf-8").splitlines()

    def env(self, box, **extra):
        # NVDA's is box.stub_log, root/nvda.log, in every Wine run.
        logs = {"ORVALIN_%s_STUB_LOG" % reader.upper(): self.runner.host_path(
            os.path.join(box.root, reader + ".log"))
            for reader in ("jaws", "zdsr", "sa")}
        return super().env(box, **dict(logs, **extra))

    def register_jaws(self):
        """JAWS's class, served by the stand-in, for this test."""
        server = self.runner.host_path(os.path.join(
            build_dir(self.runner.program), "nvdaControllerClient.dll"))
        key = CLASSES + "CLSID\\" + JAWS_CLASS
        for args in ((key + "\\InprocServer32", "/ve", "/d", server),
                     (key + "\\InprocServer32", "/v", "ThreadingModel", "/d",
                      "Apartment"),
                     (CLASSES + "FreedomSci.JawsApi\\CLSID", "/ve", "/d",
                      JAWS_CLASS)):
            self.runner.wine_command("reg", "add", *args, "/f",
                                     env=self.display.env())
        self.addCleanup(lambda: [
            self.runner.wine_command("reg", "delete", k, "/f", check=False,
                                     env=self.display.env())
            for k in (key, CLASSES + "FreedomSci.JawsApi")])

    def wait_heard(self, box, reader, line):
        harness.wait_until(lambda: line in self.stub_lines(box, reader), 60)
        self.assertIn(line, self.stub_lines(box, reader))

    def check_reader(self, reader, name):
        """One run with `reader` alone running (and NVDA's client found, as
        in every run here); `name` is the reader's name in the log."""
        box = self.box(kelvo_args=KELVO, nvda_window=reader == "nvda")
        if reader == "jaws":
            self.register_jaws()
            self.reader_window(box, "JFWUI2")
        elif reader in ("zdsr", "sa"):
            library = "ZDSRAPI_x64.dll" if reader == "zdsr" else "SAAPI64.dll"
            shutil.copy2(os.path.join(build_dir(self.runner.program),
                                      "readerstubs", library), box.app_dir)
        # JAWS's first call fails, as after a restart of JAWS: it is made
        # again on a new object, and nothing is lost.
        self.start_until(box, ORVALIN_TEST_ACTIONS=SCRIPT, **(
            {"ORVALIN_JAWS_STUB_FAIL_ONCE": "1"} if reader == "jaws" else {}))
        self.wait_for(box, "test key: ctrl+alt+q")
        with open(box.settings_file, "a") as f:
            f.write("[speech]\nbraille = false\n")
        self.wait_for(box, "say: Settings reloaded")
        self.end(box, "test: done")
        messages = box.messages()
        last_key = len(messages) - messages[::-1].index("test key: ctrl+alt+1")
        self.assertLess(messages.index("say: Settings reloaded"), last_key,
                        "the reload came too late for the script")
        self.assertEqual(self.stub_lines(box, reader), calls(reader, SAID))
        names = ["NVDA", "JAWS", "ZDSR", "System Access"]
        found = [n for n in names if n in ("NVDA", name)]
        self.assertEqual(
            [m for m in box.messages(readers=True)
             if m.startswith("speech: ")],
            ["speech: found %s; not found: %s" % (
                ", ".join(found),
                ", ".join(n for n in names if n not in found)),
             "speech: now " + name])

    def test_nvda(self):
        self.check_reader("nvda", "NVDA")

    def test_jaws(self):
        self.check_reader("jaws", "JAWS")

    def test_zdsr(self):
        self.check_reader("zdsr", "ZDSR")

    def test_system_access(self):
        self.check_reader("sa", "System Access")

    def test_speech_moves_from_nvda_to_jaws_and_to_sapi(self):
        self.register_jaws()
        box = self.box()
        self.start_until(box, ORVALIN_TEST_ACTIONS=(
            "ctrl+alt+1; sleep:6000; ctrl+alt+1; sleep:6000; ctrl+alt+1; "
            "ctrl+alt+q; sleep:6000; ctrl+alt+1"))
        self.wait_heard(box, "nvda", "speak Deck 1. empty")
        # JAWS starts while NVDA runs: NVDA, first in the order, speaks on
        # and JAWS hears nothing.
        jaws = self.reader_window(box, "JFWUI2")
        harness.wait_until(lambda: self.stub_lines(box, "nvda").count(
            "speak Deck 1. empty") == 2, 60)
        # NVDA quits: the next message finds only JAWS.
        box.nvda_window.close()
        self.wait_heard(box, "jaws", "stop")
        # JAWS quits too: the Windows voice speaks (Wine's says nothing).
        jaws.close()
        self.end(box, "test: done")
        self.assertEqual(box.messages().count("say: Deck 1. empty"), 4)
        said = SAID[:2] + [("Deck 1. empty", True, True)] * 2
        self.assertEqual(self.stub_lines(box, "nvda"),
                         calls("nvda", said) + ["cancel"])
        self.assertEqual(
            self.stub_lines(box, "jaws"),
            calls("jaws", [("Deck 1. empty", True, True), STOP]) + ["stop"])
        self.assertEqual([m for m in box.messages(readers=True)
                          if m.startswith("speech: now ")],
                         ["speech: now NVDA", "speech: now JAWS",
                          "speech: now SAPI"])


if __name__ == "__main__":
    harness.main()
