"""Shared pieces of the end-to-end tests: a private copy of the program with
its Help/, Settings/ and Logs/ folders, runs through a pipe, and runs in a
pseudo-terminal whose screen is rendered by a terminal emulator."""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import pexpect
import pyte

ZVCC = None  # path of the built program, from the command line
HELP = None  # the Help folder of the sources
ZVSIM = os.environ.get("ZVSIM")  # path of the built simulator, from the environment
# The build's D-Bus service folder, with the service file that starts zvsim.
SERVICE_DIR = os.environ.get("ZV_DBUS_SERVICE_DIR")

DEADLINE = 20.0  # seconds any single wait may take


def parse_args():
    """ctest passes the program and the Help folder; unittest gets the rest."""
    global ZVCC, HELP
    ZVCC, HELP = sys.argv[1], sys.argv[2]
    del sys.argv[1:3]


class Installation:
    """A copy of zvcc with its three folders beside it, in a scratch folder."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="zvcc-e2e-")
        self.program = os.path.join(self.root, "zvcc")
        shutil.copy2(ZVCC, self.program)
        shutil.copytree(HELP, os.path.join(self.root, "Help"))
        os.mkdir(os.path.join(self.root, "Settings"))
        os.mkdir(os.path.join(self.root, "Logs"))

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def ini(self):
        with open(self.path("Settings", "zvcc.ini"), "rb") as f:
            return f.read()

    def remove(self):
        stop_agents(self.root, self.program)
        shutil.rmtree(self.root, ignore_errors=True)

    def point_at(self, port, address="127.0.0.1", connection=2):
        """Settings that make the console's link go to a server at address:port."""
        with open(self.path("Settings", "zvcc.ini"), "w") as f:
            f.write("[ConsoleSys]\nConnectionId=%d\nServerIP=%s\nServerPort=%d\n"
                    % (connection, address, port))

    def log_text(self):
        """Every log file, decoded, in name order."""
        text = ""
        for name in sorted(os.listdir(self.path("Logs"))):
            with open(self.path("Logs", name), "rb") as f:
                text += f.read().decode("utf-16-le", "replace")
        return text

    def run_plain(self, text, cwd=None, args=(), env=None):
        """Runs the program with `text` on a pipe; returns (status, output)."""
        done = subprocess.run([self.program] + list(args), input=text.encode(),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              cwd=cwd or "/", env=env, timeout=DEADLINE)
        return done.returncode, done.stdout.decode("utf-8", "replace")


def processes_of(root):
    """The pids of the live processes whose program file lies in `root`."""
    pids = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                argv0 = f.read().split(b"\0")[0].decode("utf-8", "replace")
            with open("/proc/%s/stat" % pid) as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
        except (OSError, IndexError):
            continue
        if argv0.startswith(root + "/") and state != "Z":
            pids.append(int(pid))
    return pids


def stop_agents(root, program):
    """Asks the agent of the home `root` to leave, waits until no process of
    that copy of the program runs, and kills what is left. Returns the pids
    that had to be killed."""
    if not os.path.exists(program):
        return []
    subprocess.run([program, "agent", "--stop", "--home", root], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=DEADLINE)
    end = time.monotonic() + DEADLINE
    while processes_of(root) and time.monotonic() < end:
        time.sleep(0.02)
    left = processes_of(root)
    for pid in left:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    return left


class PrivateBus:
    """A session bus of the test's own, a dbus-daemon listening in a scratch
    folder, so that no test touches the machine's buses. Services in
    `service_dir` (by default an empty folder of its own) start on demand."""

    def __init__(self, service_dir=None):
        self.dir = tempfile.mkdtemp(prefix="zvcc-bus-")
        self.service_dir = service_dir or os.path.join(self.dir, "services")
        os.makedirs(self.service_dir, exist_ok=True)
        config = os.path.join(self.dir, "bus.conf")
        with open(config, "w") as f:
            f.write(bus_config(os.path.join(self.dir, "socket"), self.service_dir))
        self.proc = subprocess.Popen(["dbus-daemon", "--config-file=" + config, "--nofork",
                                      "--print-address=1"], stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        self.address = self.proc.stdout.readline().decode().strip()
        if not self.address:
            self.remove()
            raise AssertionError("dbus-daemon did not start")

    def env(self, **extra):
        """An environment whose session bus is this one, with no ZVCC_LOCAL_BUS
        (so the session bus is chosen) and with `extra` added."""
        env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address, **extra)
        env.pop("ZVCC_LOCAL_BUS", None)
        return env

    def remove(self):
        """Stops the bus; services it started end when their bus goes."""
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(DEADLINE)
        self.proc.stdout.close()
        shutil.rmtree(self.dir, ignore_errors=True)


def bus_config(socket, service_dir):
    """A session bus configuration listening at `socket` that lets anyone own
    and call anything and starts the services of `service_dir`."""
    return ("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig>\n  <type>session</type>\n"
            "  <listen>unix:path=%s</listen>\n  <servicedir>%s</servicedir>\n"
            "  <policy context=\"default\">\n"
            "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
            "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n"
            "  </policy>\n</busconfig>\n" % (socket, service_dir))


class Simulator:
    """zvsim on a free loopback port, with its transcript of received frames;
    with `bus`, also serving the local interface on that private bus."""

    def __init__(self, *options, bus=None):
        self.dir = tempfile.mkdtemp(prefix="zvsim-e2e-")
        self.transcript = os.path.join(self.dir, "transcript.jsonl")
        self.errors = open(os.path.join(self.dir, "stderr.txt"), "wb")
        args = [ZVSIM, "--port", "0", "--transcript", self.transcript]
        if bus:
            args += ["--dbus", "session"]
        self.proc = subprocess.Popen(args + list(options), stdout=subprocess.PIPE,
                                     stderr=self.errors, env=bus.env() if bus else None)
        line = self.proc.stdout.readline().decode()
        match = re.search(r"listening on [\d.]+:(\d+)", line)
        if bus and match:
            line = self.proc.stdout.readline().decode()
            match = match if "serving org.zorvane.Server" in line else None
        if not match:
            self.stop()
            raise AssertionError("zvsim did not start: %r" % line)
        self.port = int(match.group(1))

    def frames(self):
        """The frames received so far, one dict each."""
        try:
            with open(self.transcript) as f:
                return [json.loads(line) for line in f if line.strip()]
        except FileNotFoundError:
            return []

    def wait_frames(self, predicate, what):
        end = time.monotonic() + DEADLINE
        while True:
            frames = self.frames()
            if predicate(frames):
                return frames
            if time.monotonic() > end:
                raise AssertionError("zvsim never received %s; got %r" % (what, frames))
            time.sleep(0.02)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(DEADLINE)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()
        self.errors.close()

    def remove(self):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)


class SimulatorTestCase(unittest.TestCase):
    """A test case with a private copy of the program and the simulators it
    starts, all removed after each test."""

    def setUp(self):
        self.inst = Installation()
        self.sims = []

    def tearDown(self):
        for sim in self.sims:
            sim.remove()
        self.inst.remove()

    def simulator(self, *options):
        sim = Simulator(*options)
        self.sims.append(sim)
        return sim


class Screen:
    """The program in a pseudo-terminal of 80 by 25, with its screen rendered."""

    def __init__(self, installation, cwd="/", env=None):
        """`env`: the program's environment (default: a UTF-8 xterm)."""
        self.term = pyte.Screen(80, 25)
        self.stream = pyte.ByteStream(self.term)
        env = env or dict(os.environ, TERM="xterm", LC_ALL="C.UTF-8")
        self.child = pexpect.spawn(installation.program, cwd=cwd, env=env,
                                   dimensions=(25, 80), timeout=DEADLINE)
        self.raw = b""

    def _pump(self, timeout):
        try:
            data = self.child.read_nonblocking(65536, timeout=timeout)
        except pexpect.TIMEOUT:
            return
        except pexpect.EOF:
            raise
        self.raw += data
        self.stream.feed(data)

    def lines(self):
        return [line.rstrip() for line in self.term.display]

    def text(self):
        return "\n".join(self.lines())

    def wait_for(self, predicate, what, deadline=None):
        """Reads output until predicate(self) holds; fails after the deadline."""
        end = time.monotonic() + (deadline or DEADLINE)
        while not predicate(self):
            if time.monotonic() > end:
                raise AssertionError("timed out waiting for %s; screen:\n%s" % (what, self.text()))
            try:
                self._pump(0.05)
            except pexpect.EOF:
                if predicate(self):
                    return
                raise AssertionError("program ended while waiting for %s; screen:\n%s"
                                     % (what, self.text()))

    def wait_text(self, text, deadline=None):
        self.wait_for(lambda s: text in s.text(), repr(text), deadline)

    def cursor_line(self):
        return self.lines()[self.term.cursor.y]

    def at_prompt(self, prompt):
        """True when the cursor stands right after `prompt` on its line."""
        line = self.cursor_line()
        blanks = len(prompt) - len(prompt.rstrip())
        return line.endswith(prompt.rstrip()) and self.term.cursor.x == len(line) + blanks

    def wait_prompt(self, prompt):
        self.wait_for(lambda s: s.at_prompt(prompt), "prompt %r" % prompt)

    def type_line(self, line, prompt=None):
        """Types a line; with `prompt`, waits for its echo and then for the
        cursor to stand at that prompt. Output may still follow (a screen that
        is redrawn arrives in parts): wait for what it must show."""
        mark = len(self.raw)
        typed = line.encode()
        self.child.send(typed + b"\r")
        if prompt is not None:
            self.wait_for(lambda s: typed in s.raw[mark:] and s.at_prompt(prompt),
                          "prompt %r after %r" % (prompt, line))

    def wait_line(self, row, text, prompt):
        """Waits until screen row `row` reads `text` and the cursor stands at `prompt`."""
        self.wait_for(lambda s: s.lines()[row] == text and s.at_prompt(prompt),
                      "row %d to read %r" % (row, text))

    def wait_exit(self):
        """Waits for the program's end; returns its exit status."""
        end = time.monotonic() + DEADLINE
        while True:
            try:
                self._pump(0.05)
            except pexpect.EOF:
                break
            if time.monotonic() > end:
                raise AssertionError("program did not end; screen:\n%s" % self.text())
        self.child.wait()
        if self.child.signalstatus is not None:
            return -self.child.signalstatus
        return self.child.exitstatus


def main():
    parse_args()
    unittest.main(verbosity=2)
