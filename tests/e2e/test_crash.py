"""zvcc killed outright (SIGKILL) at random moments while a script connects to
zvsim, sends a burst of messages and changes settings, again and again in the
same installation: the settings file and the carrier setup file are always
whole, readable files, no message number is handed out twice (neither in the
log nor on the wire, where every request carries one), and the log ring
carries on with whole, consecutively numbered items. A clean run at the end
stores its true last number, so the run after it goes on without a gap."""

import os
import random
import re
import signal
import subprocess
import time
import unittest
import xml.etree.ElementTree as ElementTree

import zvcc_e2e
from zvcc_e2e import DEADLINE, Installation, Simulator

ROUNDS = 40
BUDGET = 45.0  # seconds for all rounds; fewer rounds run on a slow machine
MIN_ROUNDS = 15
ITEM_HEAD = re.compile(r"Log Item: (\d+) \(")
SENT = re.compile(r"Log Item: \d+ \([^)]*\)\r\nSending Message\r\n"
                  r"Description: [^\r\n]*\r\nDebug Info: \"(\d+),")


def script(rng, round_no):
    """A link start, then messages mixed with setting changes."""
    lines = ["start"]
    for k in range(rng.randint(20, 60)):
        choice = rng.random()
        if choice < 0.15:
            lines += ["cmd /s", "Prompt %d.%d >" % (round_no, k)]
        elif choice < 0.25:
            lines += ["msg /s", str(rng.randint(1, 6)), "Subject %d.%d" % (round_no, k),
                      str(rng.randint(1, 500))]
        else:
            lines.append("%d,Message %d.%d" % (rng.randint(100, 999), round_no, k))
    return "\n".join(lines) + "\n"


def read_ini(inst):
    """The settings as {section: {key: value}}; fails on anything not whole."""
    with open(inst.path("Settings", "zvcc.ini"), "rb") as f:
        data = f.read()
    text = data.decode("utf-8")  # a torn write could split a character
    text = text.lstrip("\ufeff")
    if text and not text.endswith("\r\n"):
        raise AssertionError("zvcc.ini does not end with a line end: %r" % text[-40:])
    sections, current = {}, None
    for line in text.split("\r\n"):
        if not line:
            continue
        if line.startswith("[") and line.endswith("]"):
            current = sections.setdefault(line[1:-1], {})
        elif current is not None and "=" in line:
            key, value = line.split("=", 1)
            current[key] = value
        else:
            raise AssertionError("zvcc.ini holds a broken line %r" % line)
    return sections


def check_carriers(inst):
    path = inst.path("Settings", "ZVCarriers.ccr")
    if not os.path.exists(path):
        return
    root = ElementTree.parse(path).getroot()  # raises on a cut-off file
    if root.tag != "carriers" or not root.findall("carrier"):
        raise AssertionError("ZVCarriers.ccr holds no carriers")
    for carrier in root.findall("carrier"):
        int(carrier.findtext("carrierId"))


def log_files(inst):
    """{file name: its text}, each checked to be whole items numbered 1, 2, ..."""
    files = {}
    for name in sorted(os.listdir(inst.path("Logs"))):
        with open(inst.path("Logs", name), "rb") as f:
            data = f.read()
        if len(data) % 2:
            raise AssertionError("%s ends inside a character" % name)
        text = data.decode("utf-16-le")
        if text and (not text.startswith("Log Item: ") or not text.endswith("\r\n\r\n")):
            raise AssertionError("%s does not hold whole items: ...%r" % (name, text[-80:]))
        numbers = [int(n) for n in ITEM_HEAD.findall(text)]
        if numbers != list(range(1, len(numbers) + 1)):
            raise AssertionError("%s numbers its items %r" % (name, numbers))
        files[name] = text
    return files


class CrashTest(unittest.TestCase):
    def setUp(self):
        self.inst = Installation()
        self.sim = Simulator()
        # A small ring, so that kills also land on the change of file.
        with open(self.inst.path("Settings", "zvcc.ini"), "wb") as f:
            f.write(b"[ConsoleSys]\r\nConnectionId=2\r\nServerIP=127.0.0.1\r\n"
                    b"ServerPort=%d\r\n[SysLog]\r\nMaxItems=25\r\nMaxFiles=3\r\n" % self.sim.port)

    def tearDown(self):
        self.sim.remove()
        self.inst.remove()

    def test_killed_at_random_moments(self):
        seed = int(os.environ.get("ZV_CRASH_SEED", random.randrange(1 << 32)))
        rng = random.Random(seed)
        try:
            self.rounds(rng)
            self.check_wire()
            self.clean_runs()
        except AssertionError as e:
            raise AssertionError("%s (seed %d: ZV_CRASH_SEED=%d reruns it)" % (e, seed, seed))

    def wire_numbers(self):
        """Every number zvsim received, in order: a request's own, and a
        message's in the body of MSG_SEND (whose own is 0)."""
        numbers = []
        for frame in self.sim.frames():
            if frame.get("id", 0) > 0:
                numbers.append(frame["id"])
            if frame.get("command") == "MSG_SEND":
                numbers.append(int(frame["body"].split("\x03", 1)[1].split(",", 1)[0]))
        return numbers

    def check_wire(self):
        seen = set()
        for number in self.wire_numbers():
            if number in seen:
                raise AssertionError("number %d went out twice" % number)
            seen.add(number)
        self.assertTrue(seen, "no request reached zvsim")

    def clean_runs(self):
        """Two runs ended by the end of their input: the first goes on after
        every number handed out so far; its exit stores its true last number,
        and the second starts right after it."""
        before = self.wire_numbers()
        status, _ = self.inst.run_plain("start\n" + "".join("5%d,clean\n" % k for k in range(40)))
        self.assertEqual(status, 0)
        first = self.wire_numbers()[len(before):]
        self.assertGreater(min(first), max(before))
        last = int(read_ini(self.inst)["ConsoleSys"]["LastMsgNo"])
        self.assertEqual(last, max(first))
        status, _ = self.inst.run_plain("start\n6,again\n")
        self.assertEqual(status, 0)
        second = self.wire_numbers()[len(before) + len(first):]
        self.assertEqual(min(second), last + 1)
        self.check_wire()
        log_files(self.inst)

    def rounds(self, rng):
        numbers = {}  # message number -> (file, item, time stamp) that carries it
        start = time.monotonic()
        killed_busy = 0
        for round_no in range(ROUNDS):
            if round_no >= MIN_ROUNDS and time.monotonic() - start > BUDGET:
                break
            stored = int(read_ini(self.inst).get("ConsoleSys", {}).get("LastMsgNo", "0"))
            proc = subprocess.Popen([self.inst.program], stdin=subprocess.PIPE,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    cwd="/")
            proc.stdin.write(script(rng, round_no).encode())
            proc.stdin.flush()
            time.sleep(rng.uniform(0.0, 0.6))  # the random moment of the kill
            proc.send_signal(signal.SIGKILL)
            self.assertEqual(proc.wait(timeout=DEADLINE), -signal.SIGKILL)
            proc.stdin.close()

            ini = read_ini(self.inst)
            check_carriers(self.inst)
            files = log_files(self.inst)
            last = int(ini.get("ConsoleSys", {}).get("LastMsgNo", "0"))
            if last > stored:
                killed_busy += 1
            for name, text in files.items():
                for match in SENT.finditer(text):
                    number = int(match.group(1))
                    head = text[match.start():text.index(")", match.start()) + 1]
                    where = (name, head)
                    if number not in numbers and number <= stored:
                        raise AssertionError("message number %d given again after a restart "
                                             "(LastMsgNo was %d)" % (number, stored))
                    if numbers.setdefault(number, where) != where:
                        raise AssertionError("message number %d given twice: %r and %r"
                                             % (number, numbers[number], where))
                    if number > last:
                        raise AssertionError("message %d logged, but LastMsgNo is %d"
                                             % (number, last))
        # The kills must have landed while messages went out, not only before.
        self.assertGreater(killed_busy, 0)
        self.assertTrue(numbers, "no message was ever logged")
        self.assertTrue(os.path.exists(self.inst.path("Settings", "ZVCarriers.ccr")),
                        "no start ever loaded the carriers")
        self.assertGreater(len(files), 1, "the log ring never changed file")


if __name__ == "__main__":
    zvcc_e2e.main()
