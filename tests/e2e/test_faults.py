"""Fault injection: zvcc in a terminal against a zvsim that misbehaves in one
way per case. In every case the console reports the fault, `stop` returns
within 3 seconds, the next `start` against a sound server connects, and the
program ends with status 0 (under the sanitizers that also means no leak)."""

import os
import signal
import socket
import time
import unittest

import zvcc_e2e
from zvcc_e2e import Installation, PrivateBus, Screen, Simulator

PROMPT = "Zorvane Send >"
# A stop acts within a second in every state; the thread sanitizer slows the
# program several times over, so its build gets more.
STOP_BOUND = 1.0 * (4 if "tsan" in os.environ.get("ZV_BUILD_DIR", "") else 1)

# zvsim's options, and what the console shows for them (a list: any of these
# texts); for a fault that shows nothing at once, the command of the frame the
# case waits for instead.
TCP_CASES = [
    (("--abort", "connect"), "Lost connection to the server"),
    (("--abort-mid-frame", "load"), "Lost connection to the server"),
    (("--empty-frame", "login"), "Frame length 0 (0x0000) is invalid"),
    (("--top-bit-length", "ready"), "is invalid: a frame holds 1 to 32767 bytes"),
    (("--malformed", "login"), "zVP protocol error"),
    (("--account", "TerminalAgent:other"), "Login"),
    (("--disabled-account", "TerminalAgent:TerminalAgent"), "Login"),
    (("--refuse-connection",), "Zorvane Server"),
    (("--end-after-ready", "6"), "Zorvane Server ends the connection"),
    (("--end-after-ready", "7"), "ready for messages"),
    (("--end-after-ready", "9"), "ready for messages"),
    (("--end-after-ready", "13"), "ready for messages"),
    (("--load-fails",), "ready for messages"),
    (("--silent",), ("CONNECT",)),
    (("--stall-mid-frame", "load"), ("LOAD",)),
    (("--oversized", "ready"), "Frame length 40000 (0x9C40) is invalid"),
    (("--broken-carriers",), "Object id must be greater than"),
    (("--flood", "10000"), "ready for messages"),
]


# The same on the local link, zvsim serving a private bus; "kill" kills zvsim
# once the link is ready, so the owner of the name vanishes mid-session.
BUS_CASES = [
    (("kill",), "no longer reachable"),
    # The bus tells the caller and the name's watchers each in its own message:
    # which one the console reads first depends on the machine's load.
    (("--abort", "login"), ["disconnected from message bus without replying",
                            "no longer reachable"]),
    (("--abort", "load"), "Error loading client carriers"),
    (("--malformed", "send"), "ready to communicate"),
    (("--end-after-ready", "6"), "Zorvane Server ends the connection"),
    (("--end-after-ready", "7"), "ready to communicate"),
    (("--end-after-ready", "9"), "ready to communicate"),
    (("--end-after-ready", "13"), "ready to communicate"),
    (("--account", "TerminalAgent:other"), "Login refused"),
    # Calls that are never answered: the start fails when the bus's time-out
    # (25 s) ends the first of them.
    (("--silent",), "Cannot connect to the local Zorvane Server"),
]


class FaultTest(unittest.TestCase):
    def check_fault(self, options, shown, bus=None):
        inst = Installation()
        sims = []
        kill = options == ("kill",)
        try:
            sim = Simulator(*([] if kill else options), bus=bus)
            sims.append(sim)
            inst.point_at(sim.port, connection=1 if bus else 2)
            screen = Screen(inst, env=bus.env() if bus else None)
            screen.wait_prompt(PROMPT)
            screen.type_line("start")
            if kill:
                screen.wait_text("ready to communicate")
                sim.proc.send_signal(signal.SIGKILL)
            if isinstance(shown, (str, list)):
                texts = [shown] if isinstance(shown, str) else shown
                # A call's reply is awaited up to the bus's time-out of 25 s. The
                # text is looked for in all the output, not only the screen: a
                # flood that follows it may scroll it away before a poll sees it.
                screen.wait_for(lambda s: any(t in s.text() or t.encode() in s.raw
                                              for t in texts),
                                repr(texts), deadline=40)
            else:
                sim.wait_frames(lambda f: any(x.get("command") == shown[0] for x in f),
                                "the console's " + shown[0])

            began = time.monotonic()
            screen.type_line("stop", PROMPT)
            took = time.monotonic() - began
            self.assertLess(took, STOP_BOUND, "stop took %.2f s" % took)

            port = sim.port
            sim.stop()
            sound = Simulator("--port", str(port), bus=bus)
            sims.append(sound)
            screen.type_line("cls", PROMPT)
            screen.type_line("start")
            screen.wait_text("ready to communicate" if bus else "ready for messages")
            screen.type_line("q")
            self.assertEqual(screen.wait_exit(), 0, screen.text())
        finally:
            for s in sims:
                s.remove()
            inst.remove()

    def test_tcp_faults(self):
        for options, shown in TCP_CASES:
            with self.subTest(options=options):
                self.check_fault(options, shown)

    def test_tcp_connect_that_hangs(self):
        """A server whose accept queue is full leaves a connect hanging: stop
        and q abort it at once instead of waiting for its time-out."""
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(0)
        fillers = []
        for _ in range(3):
            filler = socket.socket()
            filler.setblocking(False)
            filler.connect_ex(listener.getsockname())
            fillers.append(filler)
        inst = Installation()
        try:
            inst.point_at(listener.getsockname()[1])
            screen = Screen(inst)
            screen.wait_prompt(PROMPT)
            for last in ("stop", "q"):
                screen.type_line("start")
                screen._pump(0.3)
                self.assertNotIn("Cannot find Zorvane Server", screen.text())
                began = time.monotonic()
                if last == "q":
                    screen.type_line("q")
                    self.assertEqual(screen.wait_exit(), 0, screen.text())
                else:
                    screen.type_line("stop", PROMPT)
                took = time.monotonic() - began
                self.assertLess(took, STOP_BOUND, "%s took %.2f s" % (last, took))
        finally:
            for s in fillers + [listener]:
                s.close()
            inst.remove()

    def test_local_faults(self):
        bus = PrivateBus()
        try:
            for options, shown in BUS_CASES:
                with self.subTest(options=options):
                    self.check_fault(options, shown, bus)
        finally:
            bus.remove()


if __name__ == "__main__":
    zvcc_e2e.main()
