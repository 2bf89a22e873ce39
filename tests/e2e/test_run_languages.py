"""The demo session in German and in Chinese against the same session in
English: every sentence is said in the language (a line made only of names
and numbers may read the same), numbers take the language's decimal
separator, the same events are told, and what reaches the speech stand-in
(a private speech-dispatcher) is the text said, intact UTF-8. The log's own
lines stay English."""

import importlib.machinery
import os
import re
import unicodedata

import harness
from run_support import RunCase

SOURCE = os.path.dirname(os.path.abspath(__file__))
DEMO = importlib.machinery.SourceFileLoader(
    "demo", os.path.join(SOURCE, "..", "..", "scripts", "demo")).load_module()
SCRIPT = ";".join(step for step, _ in DEMO.SESSION)


def names_and_numbers(text):
    """Whether a sentence is only names, numbers and signs: it may read the
    same in every language (a track's title, "128 BPM")."""
    words = re.findall(r"[^\W\d_]+", text)
    return all(w in ("BPM", "Kelvo", "Orvalin") or w[0].isupper() and
               w not in ("Deck", "Hotcue") for w in words)


class Languages(RunCase):
    def session(self, language, speech=False):
        box = self.box()
        box.write_run_settings(["--select", "12"],
                               keys='language = "%s"\n' % language)
        env = {"ORVALIN_TEST_ACTIONS": SCRIPT}
        daemon = None
        if speech:
            daemon = harness.SpeechDaemon(os.path.join(box.root, "speechd"))
            self.addCleanup(daemon.stop)
            env.update(daemon.env())
        box.start(env=env)
        self.end(box, "test: done", 120)
        harness.read_bytes(box.log_file).decode("utf-8")  # strict UTF-8
        messages = box.messages()
        return daemon, [m[len("say: "):] for m in messages
                        if m.startswith("say: ")], messages

    def test_german_and_chinese(self):
        _, english, english_log = self.session("en")
        own = [m for m in english_log if not m.startswith("say: ")]
        self.assertGreater(len(english), 15, english)
        for language, separator in (("de", ","), ("zh_CN", ".")):
            with self.subTest(language=language):
                daemon, said, log = self.session(language, speech=True)
                self.assertEqual(len(said), len(english),
                                 list(zip(english, said)))
                for theirs, ours in zip(english, said):
                    if not names_and_numbers(theirs):
                        self.assertNotEqual(ours, theirs, said)
                decimals = [s for s in said if re.search(r"\d[.,]\d", s)]
                self.assertTrue(decimals, said)
                for sentence in decimals:
                    self.assertRegex(sentence, r"\d" + re.escape(separator) +
                                     r"\d")
                # The log's own lines read as in English, apart from the
                # language named once and the run's own values.
                self.assertIn("Language: " + language, log)
                self.assertEqual(
                    len([m for m in log if not m.startswith("say: ")]),
                    len(own) + 1)
                # Each message the stand-in spoke is one said, whole
                # (speech-dispatcher normalises text to NFKC: a full-width
                # comma reaches its module as ",").
                heard = daemon.spoken()
                self.assertTrue(heard)
                normal = [unicodedata.normalize("NFKC", s) for s in said]
                for message in heard:
                    self.assertIn(message, normal)
                    self.assertNotIn("\ufffd", message)


if __name__ == "__main__":
    harness.main()
