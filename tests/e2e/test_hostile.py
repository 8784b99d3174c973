"""zvcc against what a careless or hostile user can do to it: signals at busy
moments, huge lines, closed or special files, odd locales, a second copy."""

import fcntl
import os
import signal
import subprocess
import termios
import threading
import time
import unittest

import zvcc_e2e
from zvcc_e2e import DEADLINE, Installation, Screen

PROMPT = "Zorvane Send >"
TIOCGPTN = 0x80045430  # the number of a pseudo-terminal, from its master
REFUSED = "The line was refused: it is longer than the limit of 1048576 bytes"


def wait_until(condition, what):
    end = time.monotonic() + DEADLINE
    while not condition():
        if time.monotonic() > end:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.01)


def local_modes(master):
    """The local modes of the pseudo-terminal behind `master`, read on its
    program's side."""
    number = bytearray(4)
    fcntl.ioctl(master, TIOCGPTN, number)
    slave = os.open("/dev/pts/%d" % int.from_bytes(number, "little"), os.O_RDWR | os.O_NOCTTY)
    try:
        return termios.tcgetattr(slave)[3]
    finally:
        os.close(slave)


def sane(master):
    """The pseudo-terminal behind `master` echoes and edits lines as a shell
    expects."""
    lflag = local_modes(master)
    return bool(lflag & termios.ECHO) and bool(lflag & termios.ICANON)


class HostileTest(unittest.TestCase):
    def setUp(self):
        self.inst = Installation()

    def tearDown(self):
        self.inst.remove()

    def start(self, **options):
        proc = subprocess.Popen([self.inst.program], cwd="/", **options)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        return proc

    def settings_file(self):
        try:
            return self.inst.ini()
        except FileNotFoundError:
            return None

    def stored_number(self):
        try:
            ini = self.inst.ini()
        except FileNotFoundError:
            return 0
        for line in ini.split(b"\r\n"):
            if line.startswith(b"LastMsgNo="):
                return int(line[len(b"LastMsgNo="):])
        return 0

    # Terminating signals -------------------------------------------------

    def test_a_terminating_signal_ends_a_script_that_is_never_idle(self):
        for signo in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            proc = self.start(stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)

            def feed():
                try:
                    while True:
                        proc.stdin.write(b"1,Hi\n" * 100)
                        proc.stdin.flush()
                except (BrokenPipeError, ValueError):
                    pass

            threading.Thread(target=feed, daemon=True).start()
            first = self.stored_number()
            wait_until(lambda: self.stored_number() > first + 3, "lines to be sent")
            proc.send_signal(signo)
            self.assertEqual(proc.wait(timeout=DEADLINE), 128 + signo)

    def test_a_terminating_signal_ends_a_script_whose_output_is_stalled(self):
        with open(self.inst.path("lines.txt"), "wb") as f:
            f.write(b"stat\n" * 20000)
        with open(self.inst.path("lines.txt"), "rb") as lines:
            proc = self.start(stdin=lines, stdout=subprocess.PIPE)
        # Nobody reads the output: the program stalls once the pipe is full.
        capacity = fcntl.fcntl(proc.stdout, 1032)  # F_GETPIPE_SZ
        buffered = bytearray(4)

        def full():
            fcntl.ioctl(proc.stdout, termios.FIONREAD, buffered)
            # Nearly full: the program writes faster than anything, so it
            # stalls next (pages of the pipe may be part filled).
            return int.from_bytes(buffered, "little") >= capacity * 3 // 4

        wait_until(full, "the output pipe to fill")
        proc.send_signal(signal.SIGTERM)
        self.assertEqual(proc.wait(timeout=DEADLINE), 128 + signal.SIGTERM)
        proc.stdout.close()

    # Lines past the limit ---------------------------------------------------

    def test_a_line_past_the_limit_is_refused_and_the_next_one_read(self):
        text = "1," + "A" * (4 << 20) + "\nstat\nq\n"
        status, out = self.inst.run_plain(text)
        self.assertEqual(status, 3)  # the refused line is a page not sent
        self.assertIn(PROMPT + "\n" + REFUSED + "\n" + PROMPT + "stat\nStatus\n", out)
        self.assertNotIn("AAAA", out)
        self.assertNotIn(b"LastMsgNo=", self.inst.ini())  # nothing was sent

    def test_a_pasted_64kb_line_arrives_whole_in_a_terminal(self):
        s = Screen(self.inst)
        s.wait_prompt(PROMPT)
        # The prompt stands before the line editor takes the terminal over; a
        # paste into the terminal's own line discipline would be cut at 4 KB.
        wait_until(lambda: not local_modes(s.child.child_fd) & termios.ICANON,
                   "the line editor's terminal modes")
        text = "X" * 65536
        paste = ("555," + text + "\r").encode()

        def type_it():
            done = 0
            while done < len(paste):
                done += os.write(s.child.child_fd, paste[done:done + 4096])

        threading.Thread(target=type_it, daemon=True).start()
        s.wait_for(lambda t: b"Not connected to the server" in t.raw, "the message line's result")
        s.type_line("q")
        self.assertEqual(s.wait_exit(), 0)
        self.assertTrue(sane(s.child.child_fd))
        self.assertIn("555," + text + ",", self.inst.log_text())

    def test_a_fatal_signal_gives_the_terminal_back(self):
        for signo in (signal.SIGABRT, signal.SIGSEGV):
            s = Screen(self.inst)
            s.wait_prompt(PROMPT)
            # The editor takes the terminal into its raw mode around the prompt.
            s.wait_for(lambda t: not sane(t.child.child_fd), "the editor's raw mode")
            os.kill(s.child.pid, signo)
            s.wait_exit()
            self.assertTrue(sane(s.child.child_fd), signo)

    # Characters ----------------------------------------------------------------

    def test_text_keeps_its_characters_whatever_the_locale(self):
        env = {"TERM": "xterm", "PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C"}
        s = Screen(self.inst, env=env)
        s.wait_prompt(PROMPT)
        s.type_line("555,Grüße aus Köln", PROMPT)
        s.wait_text("555,Grüße aus Köln\nNot connected to the server")
        s.type_line("äöü,ß", PROMPT)
        s.type_line("q")
        self.assertEqual(s.wait_exit(), 0)
        log = self.inst.log_text()
        self.assertIn("555,Grüße aus Köln,", log)
        self.assertIn('Sending message to "äöü"', log)

    # Files and descriptors --------------------------------------------------

    def test_a_closed_standard_input_is_the_end_of_input(self):
        proc = self.start(stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          preexec_fn=lambda: os.close(0))
        out, _ = proc.communicate(timeout=DEADLINE)
        self.assertEqual(proc.returncode, 0)
        self.assertIn(b"Zorvane Console Client", out)

    def test_special_files_are_refused_with_one_line(self):
        ini = self.inst.path("Settings", "zvcc.ini")
        help_file = self.inst.path("Help", "chelp_main.txt")
        cases = [
            (ini, lambda p: os.mkdir(p), "", "Is a directory"),
            (ini, lambda p: os.mkfifo(p), "", "Not a regular file"),
            (help_file, lambda p: os.mkfifo(p), "help\n", "Not a regular file"),
            (help_file, lambda p: os.symlink("/dev/zero", p), "help\n", "Not a regular file"),
        ]
        for path, make, lines, reason in cases:
            os.remove(path) if os.path.isfile(path) else None
            make(path)
            status, out = self.inst.run_plain(lines + "q\n")
            self.assertEqual(status, 1, path)
            self.assertTrue(out.endswith('EFileOpenError: Cannot open file "%s". %s\n'
                                         % (path, reason)), out[-300:])
            os.rmdir(path) if os.path.isdir(path) else os.remove(path)
        with open(help_file, "w") as f:
            f.write("help\n")

    def test_a_second_console_on_the_same_folder_is_refused(self):
        s = Screen(self.inst)
        s.wait_prompt(PROMPT)
        before = self.settings_file()
        logs = sorted(os.listdir(self.inst.path("Logs")))
        status, out = self.inst.run_plain("1,Hi\nq\n")
        self.assertEqual(status, 1)
        self.assertEqual(out, 'Another zvcc is already running with the settings folder "%s/"\n'
                         % self.inst.path("Settings"))
        self.assertEqual(self.settings_file(), before)
        self.assertEqual(sorted(os.listdir(self.inst.path("Logs"))), logs)
        s.type_line("q")
        self.assertEqual(s.wait_exit(), 0)
        status, _ = self.inst.run_plain("q\n")  # the folder is free again
        self.assertEqual(status, 0)

    def test_temporary_files_of_a_killed_run_are_removed_at_start(self):
        settings = self.inst.path("Settings")
        for name in ("zvcc.ini.tmp-Ab12Cd", "ZVCarriers.ccr.tmp-000000"):
            with open(os.path.join(settings, name), "w") as f:
                f.write("left over")
        os.symlink("/etc/hostname", os.path.join(settings, "zvcc.ini.tmp"))
        status, _ = self.inst.run_plain("q\n")
        self.assertEqual(status, 0)
        self.assertEqual(sorted(os.listdir(settings)),
                         ["ZVSettingsError.log", "zvcc-outbox.db", "zvcc-owner.lock", "zvcc.ini",
                          "zvcc.ini.lock", "zvcc.ini.tmp", "zvcc.lock"])


if __name__ == "__main__":
    zvcc_e2e.main()
