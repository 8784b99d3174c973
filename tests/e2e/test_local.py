"""zvcc's local link (the default connection type) against zvsim serving the
local interface on a private session bus: through a pseudo-terminal as an
operator types, and through a pipe for the failures."""

import os
import re
import shutil
import tempfile
import time
import unittest

import zvcc_e2e
from zvcc_e2e import Installation, PrivateBus, Screen, Simulator

PROMPT = "Zorvane Send >"
CANNOT = ("Cannot find Zorvane Server",
          "- Check whether the server is installed and registered on the machine",
          "- Reported error: Cannot connect to the local Zorvane Server (COM).")


def calls(frames, command):
    return [f for f in frames if f.get("connection") == "dbus" and f.get("command") == command]


def wait_connected(screen):
    """The line that readiness prints, alone (the status screen's line differs)."""
    screen.wait_for(lambda s: "Connected to the server" in s.lines(), "the ready line")


class LocalLinkTest(unittest.TestCase):
    def setUp(self):
        self.inst = Installation()  # no settings: the default connection type, local
        self.bus = None
        self.sim = None

    def tearDown(self):
        if self.sim:
            self.sim.remove()
        if self.bus:
            self.bus.remove()
        self.inst.remove()

    def started(self, service_dir=None, serve=True):
        """A console in a terminal on a private bus (zvsim serving it when
        `serve`), after `start`."""
        self.bus = PrivateBus(service_dir)
        if serve:
            self.sim = Simulator(bus=self.bus)
        screen = Screen(self.inst, env=self.bus.env(TERM="xterm", LC_ALL="C.UTF-8"))
        screen.wait_prompt(PROMPT)
        screen.type_line("start")
        return screen

    def test_start_carriers_message_and_stop_with_logout(self):
        screen = self.started()
        wait_connected(screen)
        frames = self.sim.wait_frames(lambda f: calls(f, "ClientReady"), "the readiness")
        login = calls(frames, "Login")[0]
        self.assertEqual((login["user"], login["password"], login["encoding"]),
                         ("TerminalAgent", "TerminalAgent", 1))
        self.assertEqual(len(calls(frames, "CarrierById")), 5)
        screen.type_line("car /a", PROMPT)
        screen.wait_text("MDT Dispatch")
        screen.type_line("555,Hello")
        screen.wait_text("Message Result:")
        self.assertIn("555, Hello", screen.text())
        self.assertTrue(calls(self.sim.frames(), "SendMsg")[0]["body"].startswith("Hello\x03"))
        screen.type_line("stop", PROMPT)
        self.sim.wait_frames(lambda f: calls(f, "Logout"), "the logout")
        screen.type_line("stat", PROMPT)
        screen.wait_text("Connected to the server: No")
        # zvsim precedes each event with one for another account.
        self.assertNotIn("another account", screen.text())
        screen.type_line("q")
        self.assertEqual(screen.wait_exit(), 0)

    def test_exit_without_stop_records_no_logout(self):
        screen = self.started()
        wait_connected(screen)
        self.sim.wait_frames(lambda f: calls(f, "ClientReady"), "the readiness")
        screen.type_line("q")
        self.assertEqual(screen.wait_exit(), 0)
        self.assertEqual(calls(self.sim.frames(), "Logout"), [])

    @unittest.skipUnless(zvcc_e2e.SERVICE_DIR, "ZV_DBUS_SERVICE_DIR names the build's services")
    def test_the_first_start_launches_zvsim_through_the_service_file(self):
        screen = self.started(service_dir=zvcc_e2e.SERVICE_DIR, serve=False)
        wait_connected(screen)
        screen.type_line("car /a", PROMPT)
        screen.wait_text("MDT Dispatch")
        screen.type_line("q")
        self.assertEqual(screen.wait_exit(), 0)

    def test_a_notice_after_ready_leaves_the_link_up(self):
        """A connect event that fails nothing and ends nothing, after
        readiness: its text is shown, and the next page goes out."""
        self.bus = PrivateBus()
        for code in (0, 3, 8, 11):
            with self.subTest(code=code):
                self.sim = Simulator("--notice-after-ready", str(code), bus=self.bus)
                screen = Screen(self.inst, env=self.bus.env())
                screen.wait_prompt(PROMPT)
                screen.type_line("start")
                notice = "Zorvane Server notice %d: the link stays up" % code
                screen.wait_for(lambda s: notice in s.lines(), "the notice as a line")
                screen.type_line("555,Hello")
                screen.wait_text("Message Result:")
                self.assertNotIn("not sent", screen.text())
                screen.type_line("stat", PROMPT)
                screen.wait_text("Connected to the server: Yes")
                screen.type_line("q")
                self.assertEqual(screen.wait_exit(), 0, screen.text())
                self.sim.remove()
                self.sim = None

    def test_server_endings_and_refusals_end_the_link(self):
        """zvsim's misbehaviour on the bus: each ends the link, and the console
        carries on."""
        cases = [
            (("--end-after-ready", "7"), "Zorvane Server disconnects the client"),
            (("--end-after-ready", "13"), None),
            (("--refuse-connection",), None),
            (("--account", "TerminalAgent:other"), None),
            (("--disabled-account", "TerminalAgent:TerminalAgent"), None),
        ]
        self.bus = PrivateBus()
        for options, shown in cases:
            with self.subTest(options=options):
                self.sim = Simulator(*options, bus=self.bus)
                screen = Screen(self.inst, env=self.bus.env())
                screen.wait_prompt(PROMPT)
                screen.type_line("start")
                if shown:
                    screen.wait_text(shown)
                # The end reaches the console a moment after the start: ask
                # until it tells.
                end = time.monotonic() + zvcc_e2e.DEADLINE
                while True:
                    screen.type_line("cls", PROMPT)
                    screen.type_line("stat", PROMPT)
                    if "Connected to the server: No" in screen.text():
                        break
                    self.assertLess(time.monotonic(), end, screen.text())
                    time.sleep(0.05)
                screen.type_line("q")
                self.assertEqual(screen.wait_exit(), 0, screen.text())
                self.sim.remove()
                self.sim = None

    def stalled(self, timeout_ms):
        """A ready console whose messages zvsim never answers."""
        self.sim = Simulator("--stall-mid-frame", "send", bus=self.bus)
        screen = Screen(self.inst, env=self.bus.env(TERM="xterm", LC_ALL="C.UTF-8",
                                                    ZVCC_LOCAL_CALL_TIMEOUT_MS=str(timeout_ms)))
        screen.wait_prompt(PROMPT)
        screen.type_line("start")
        wait_connected(screen)
        return screen

    def test_an_unanswered_message_has_no_result_and_the_exit_does_not_wait(self):
        self.bus = PrivateBus()
        screen = self.stalled(1500)
        screen.type_line("555,Hello")
        screen.wait_for(lambda s: b"the server may have received it" in s.raw, "the time-out")
        self.assertIn(b"Message 1 to \"555\": no result: no answer within 1.5 s; the server may "
                      b"have received it", screen.raw)
        self.assertNotIn(b"was not sent", screen.raw)
        screen.type_line("q")
        self.assertEqual(screen.wait_exit(), 0)
        self.sim.remove()

        for leave in ("q", "interrupt"):
            with self.subTest(leave=leave):
                try:
                    screen = self.stalled(20000)
                    screen.type_line("555,Hello")
                    self.sim.wait_frames(lambda f: calls(f, "SendMsg"), "the message")
                    begun = time.monotonic()
                    if leave == "q":
                        screen.type_line("q")
                    else:
                        screen.child.sendintr()
                    status = screen.wait_exit()
                    self.assertLess(time.monotonic() - begun, 2.0)
                    self.assertEqual(status, 0 if leave == "q" else 130)
                    # Named once, by the exit; the stop reports nothing more.
                    self.assertEqual(len(re.findall(rb"No result for message \d+", screen.raw)), 1,
                                     screen.text())
                finally:
                    self.sim.remove()
                    self.sim = None

    def failed_start(self, env, reason):
        status, out = self.inst.run_plain("start\nstat\nq\n", env=env)
        self.assertEqual(status, 0, out)
        for line in CANNOT + (reason, "Connected to the server: No"):
            self.assertIn(line, out)

    def test_no_server_and_no_service_file(self):
        self.bus = PrivateBus()
        self.failed_start(self.bus.env(), "was not provided by any .service files")

    def test_quit_during_a_start_the_bus_never_completes(self):
        """The registered server's program never takes the name: `q` ends the
        pending start at once, without a word about it."""
        services = tempfile.mkdtemp(prefix="zvcc-hang-")
        self.addCleanup(shutil.rmtree, services, True)  # the program lives while it is there
        script = os.path.join(services, "hang.sh")
        with open(script, "w") as f:
            f.write('while [ -e "$0" ]; do sleep 0.1; done\n')
        with open(os.path.join(services, "org.zorvane.Server.service"), "w") as f:
            f.write("[D-BUS Service]\nName=org.zorvane.Server\nExec=/bin/sh %s\n" % script)
        screen = self.started(service_dir=services, serve=False)
        screen.type_line("q")
        begun = time.monotonic()
        self.assertEqual(screen.wait_exit(), 0)
        self.assertLess(time.monotonic() - begun, 1.0)
        self.assertNotIn("Cannot connect", screen.text())

    def test_no_bus_at_all(self):
        nowhere = tempfile.mkdtemp(prefix="zvcc-nobus-")
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS="unix:path=%s/none" % nowhere)
        for name in ("ZVCC_LOCAL_BUS", "DBUS_SESSION_BUS_ADDRESS"):
            env.pop(name, None)
        try:
            self.failed_start(env, "No system bus is reachable")
        finally:
            os.rmdir(nowhere)


if __name__ == "__main__":
    zvcc_e2e.main()
