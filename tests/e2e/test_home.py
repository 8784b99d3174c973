"""Where zvcc keeps its settings and logs (--home, ZVCC_HOME, beside the
program, the XDG state folder) and its command-line conventions."""

import os
import resource
import shutil
import signal
import subprocess
import tempfile
import unittest

import zvcc_e2e
from zvcc_e2e import DEADLINE, Installation, Simulator

NOTICE = "Settings and logs are kept in %s (the program folder cannot be written)."


class HomeTest(unittest.TestCase):
    def setUp(self):
        self.inst = Installation()
        self.scratch = tempfile.mkdtemp(prefix="zvcc-home-")
        # Nothing from the caller's environment may steer or receive the files.
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("ZVCC_HOME", "XDG_STATE_HOME")}
        self.env["HOME"] = self.scratch_path("user")

    def tearDown(self):
        self.inst.remove()
        shutil.rmtree(self.scratch, ignore_errors=True)

    def scratch_path(self, *parts):
        return os.path.join(self.scratch, *parts)

    def run_zvcc(self, text, args=(), **env):
        return self.inst.run_plain(text, args=args, env=dict(self.env, **env))

    def assert_home(self, home, out, messages=1):
        """The runs kept their settings and log in `home`, and none beside the program."""
        with open(os.path.join(home, "Settings", "zvcc.ini"), "rb") as f:
            self.assertIn(b"LastMsgNo=%d\r\n" % messages, f.read())
        self.assertTrue(os.listdir(os.path.join(home, "Logs")), out)
        self.assertEqual(os.listdir(self.inst.path("Logs")), [])

    def test_help_version_and_usage_errors_touch_no_file(self):
        home = self.scratch_path("never")
        cases = [
            (["--help"], 0, "Usage: zvcc [--home DIR]\n", ""),
            (["--version"], 0, "zvcc ", ""),
            (["--home", home, "--version"], 0, "zvcc ", ""),
            (["--bogus"], 2, "", "zvcc: unknown option '--bogus'\nTry 'zvcc --help'.\n"),
            (["555,Hi"], 2, "", "zvcc: unexpected argument '555,Hi'\nTry 'zvcc --help'.\n"),
            (["--home"], 2, "", "zvcc: option '--home' needs a folder\nTry 'zvcc --help'.\n"),
        ]
        for args, status, out_start, err in cases:
            done = subprocess.run([self.inst.program] + args, input=b"1,Hi\nq\n",
                                  capture_output=True, env=dict(self.env, ZVCC_HOME=home),
                                  timeout=DEADLINE)
            self.assertEqual(done.returncode, status, args)
            self.assertTrue(done.stdout.decode().startswith(out_start), (args, done.stdout))
            self.assertEqual(done.stderr.decode(), err, args)
        self.assertFalse(os.path.exists(home))
        self.assertEqual(os.listdir(self.inst.path("Settings")), [])
        self.assertEqual(os.listdir(self.inst.path("Logs")), [])

    def test_home_option_and_variable_name_the_folder_and_are_created(self):
        option, variable = self.scratch_path("opt", "home"), self.scratch_path("env")
        status, out = self.run_zvcc("1,Hi\nhelp\nq\n", ["--home", option], ZVCC_HOME=variable)
        self.assertEqual(status, 3, out)  # the page cannot go out without a link
        self.assertIn("Zorvane Console Client - Help", out)  # Help/ stays beside the program
        self.assert_home(option, out)
        self.assertFalse(os.path.exists(variable))
        status, out = self.run_zvcc("1,Hi\nq\n", ZVCC_HOME=variable)
        self.assert_home(variable, out)
        self.assertNotIn("(the program folder cannot be written)", out)
        # A relative folder is taken from where zvcc was started.
        status, out = self.inst.run_plain("1,Hi\nq\n", cwd=self.scratch, args=["--home", "rel"],
                                          env=self.env)
        self.assert_home(self.scratch_path("rel"), out)
        self.assertFalse(os.path.exists(self.inst.path("Settings", "zvcc.ini")))

    def test_an_unwritable_program_folder_sends_the_files_to_the_state_folder(self):
        # As root every folder can be written: a missing Settings/ cannot.
        os.rmdir(self.inst.path("Settings"))
        state = self.scratch_path("state")
        cases = [({"XDG_STATE_HOME": state}, os.path.join(state, "zvcc")),
                 ({}, self.scratch_path("user", ".local", "state", "zvcc"))]
        for env, home in cases:
            for _ in range(2):  # created by the first run, taken by the second
                status, out = self.run_zvcc("1,Hi\nq\n", **env)
                self.assertEqual(status, 3, out)  # not sent: no link
                self.assertEqual(out.count(NOTICE % home), 1, out)
                self.assertIn(NOTICE % home + "\n\nZorvane Send >", out)
            self.assert_home(home, out, messages=2)
            self.assertEqual(os.stat(home).st_mode & 0o777, 0o700)
        self.assertFalse(os.path.exists(self.inst.path("Settings")))

    def test_a_home_that_cannot_be_made_ends_with_one_line_saying_how_to_choose_one(self):
        os.rmdir(self.inst.path("Settings"))
        blocker = self.scratch_path("file")
        with open(blocker, "w") as f:
            f.write("not a folder")
        choose = ("Choose a folder for the settings and logs with --home DIR or the "
                  "environment variable ZVCC_HOME.")
        cases = [
            ({"XDG_STATE_HOME": blocker}, [], blocker + "/zvcc", choose),
            ({}, ["--home", blocker + "/sub"], blocker + "/sub",
             "Name a folder that can be written with --home DIR."),
        ]
        for env, args, folder, hint in cases:
            status, out = self.run_zvcc("q\n", args, **env)
            self.assertEqual(status, 1)
            self.assertEqual(out, 'EZVFileError: Cannot create folder "%s". Not a directory. %s\n'
                             % (folder, hint))

    def test_a_moved_home_logs_inside_its_own_logs_folder(self):
        """An older version stored the log file as an absolute path: after the
        folder moved, the name is taken inside this home's Logs/."""
        with open(self.inst.path("Settings", "zvcc.ini"), "wb") as f:
            f.write(b"[SysLog]\r\nLogFilesCount=3\r\n"
                    b"LogFileName=/gone/opt/zvcc/Logs/zvccLog3.txt\r\n")
        status, out = self.inst.run_plain("1,Hi\nq\n")
        self.assertEqual(status, 3, out)  # not sent: no link
        # Beside the log, the lock its writers take in turn.
        self.assertEqual(sorted(os.listdir(self.inst.path("Logs"))),
                         ["zvccLog.txt.lock", "zvccLog3.txt"])
        self.assertIn(b"LogFileName=zvccLog3.txt\r\n", self.inst.ini())

    def test_a_full_disk_costs_the_records_not_the_pages(self):
        """Every file of the home limited in size (as a full disk) so that the
        log fills it: the piped messages all go out and get their results,
        logging stops with one line, and the settings file stays whole. (A
        limit below the carrier cache's size would end the run in the
        carriers' save, which this home's files do not cover.)"""
        sim = Simulator()
        try:
            self.inst.point_at(sim.port)
            settings = self.inst.ini()
            messages = 150
            cases = [(24000, ["Logging stopped: Cannot write file"])]
            for limit, warnings in cases:
                def full_disk(limit=limit):
                    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                    resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
                script = "start\n" + "".join("%d,page %d\n" % (k, k) for k in range(messages))
                done = subprocess.run([self.inst.program], input=script.encode(),
                                      capture_output=True, preexec_fn=full_disk, cwd="/",
                                      timeout=DEADLINE)
                out = done.stdout.decode("utf-8", "replace")
                self.assertEqual(done.returncode, 0, out[-2000:])
                self.assertEqual(out.count("Message Result: "), messages, limit)
                for warning in warnings:
                    self.assertEqual(out.count(warning), 1, (limit, warning, out[-2000:]))
                # A short item that fits now and then must not make it flap.
                self.assertNotIn("Logging resumed", out)
                if limit < len(settings):
                    self.assertEqual(self.inst.ini(), settings)
                else:
                    self.assertTrue(self.inst.ini().endswith(b"\r\n\r\n"))
                for name in os.listdir(self.inst.path("Logs")):
                    os.remove(self.inst.path("Logs", name))
        finally:
            sim.remove()


if __name__ == "__main__":
    zvcc_e2e.main()
