"""orvalin --open-settings creates or loads the settings file and opens it.

Natively the editor is a script of the test (VISUAL or EDITOR) that records
the file it was given. Under Wine it is Notepad, whose window is looked for
on a virtual display of the test's own.
"""

import os
import stat

import harness


class OpenSettings(harness.OwnWinePrefix, harness.SandboxCase):
    # Notepad's window shows on the display of whoever started the
    # prefix's Wine processes.
    PREFIX = "e2e-settings-wineprefix"

    def setUp(self):
        super().setUp()
        self.builtin = harness.builtin_config_text(harness.OPTIONS.source)
        self.env = self.box.no_kelvo_env()

    def editor(self, name):
        """A native editor script that writes its argument to a file."""
        record = self.box.path("editor", name + ".txt")
        # Shell built-ins only: PATH may name nothing else.
        script = harness.write_file(
            self.box.path("editor", name + ".sh"),
            '#!/bin/sh\nprintf "%%s\\n" "$1" > "%s"\n' % record, stat.S_IRWXU)
        return script, record

    def run_service(self, extra_env=None):
        env = dict(self.env, **(extra_env or {}))
        if not self.runner.under_wine:
            return self.box.run(["--open-settings"], env=env, timeout=120)
        # Ending the display closes Notepad. Notepad holds the output of
        # orvalin.exe open under Wine, so that goes to files.
        with harness.VirtualDisplay() as display:
            env.update(display.env())
            done = self.box.run(["--open-settings"], env=env, timeout=120,
                                output_files=True)
            self.notepad = display.wait_for_window(r"config\.toml", 60)
        return done

    def assert_opened(self, record):
        """The editor (natively the script writing `record`) got the file."""
        if self.runner.under_wine:
            self.assertTrue(
                any(name.startswith("config.toml") for name in self.notepad),
                self.notepad)
        else:
            # The script's file is whole once it ends with its new line.
            harness.wait_until(lambda: os.path.exists(record) and harness.
                               read_bytes(record).endswith(b"\n"), 30)
            self.assertEqual(harness.read_bytes(record),
                             (self.box.settings_file + "\n").encode())

    def test_creates_the_default_file_and_opens_it(self):
        visual, visual_record = self.editor("visual")
        editor, editor_record = self.editor("editor")
        done = self.run_service({"VISUAL": visual, "EDITOR": editor})
        self.assertEqual(done.code, 0, done)
        harness.assert_new_settings(self, self.box.read_settings(), None,
                                    self.runner.under_wine)
        self.assertEqual(self.box.messages()[0], "Orvalin 1.0.0")
        self.assertTrue(done.out.startswith("Orvalin 1.0.0\n"), done)
        self.assert_opened(visual_record)
        self.assertFalse(os.path.exists(editor_record))

        # An existing file is loaded and left as it is.
        custom = self.builtin + b"\n# my own note\n"
        self.box.write_settings(custom)
        done = self.run_service({"VISUAL": "", "EDITOR": editor})
        self.assertEqual(done.code, 0, done)
        self.assertEqual(self.box.read_settings(), custom)
        # An empty VISUAL leaves the choice to EDITOR.
        self.assert_opened(editor_record)

    def test_broken_file_is_reported_and_opened_all_the_same(self):
        broken = b"[general\nkelvo_path = 'x'\n"
        self.box.write_settings(broken)
        visual, record = self.editor("visual")
        done = self.run_service({"VISUAL": visual})
        self.assertEqual(done.code, 1, done)
        self.assertEqual(self.box.read_settings(), broken)
        messages = self.box.messages()
        errors = [m for m in messages if m.startswith("error: ")]
        self.assertEqual(len(errors), 1, messages)
        self.assertTrue(errors[0].startswith(
            "error: error in " +
            self.runner.host_path(self.box.settings_file) + ": "), errors)
        self.assert_opened(record)


if __name__ == "__main__":
    harness.main()
