"""zvcc's TCP/IP link against the real simulator, zvsim, on loopback: through a
pseudo-terminal as an operator types, and through a pipe as a script sends."""

import os
import signal
import subprocess
import time
import unittest

import zvcc_e2e
from zvcc_e2e import Installation, Screen, Simulator

PROMPT = "Zorvane Send >"


def wait_connected(screen):
    """The line that readiness prints, alone (the status screen's line differs)."""
    screen.wait_for(lambda s: "Connected to the server" in s.lines(), "the ready line")


def commands(frames, command, result=None):
    return [f for f in frames if f.get("command") == command
            and (result is None or f.get("result") == result)]


class LinkTest(zvcc_e2e.SimulatorTestCase):
    def started(self, *options):
        """A console in a terminal, connected to a simulator with `options`."""
        sim = self.simulator(*options)
        self.inst.point_at(sim.port)
        screen = Screen(self.inst)
        screen.wait_prompt(PROMPT)
        screen.type_line("start")
        return sim, screen

    def test_start_carriers_message_and_stop_with_logout(self):
        sim, screen = self.started()
        wait_connected(screen)
        frames = sim.wait_frames(lambda f: commands(f, "CONNECT", 12), "the readiness")
        login = commands(frames, "LOGIN")[0]
        self.assertEqual((login["user"], login["password"], login["encoding"]),
                         ("TerminalAgent", "TerminalAgent", 1))
        self.assertTrue(os.path.exists(self.inst.path("Settings", "ZVCarriers.ccr")))
        screen.type_line("car /a", PROMPT)
        screen.wait_text("Carriers")
        screen.type_line("555,Hello")
        screen.wait_text("Message Result:")
        self.assertIn("555, Hello", screen.text())
        sent = commands(sim.frames(), "MSG_SEND")[0]
        self.assertTrue(sent["body"].startswith("Hello\x03"), sent)
        screen.type_line("stop", PROMPT)
        frames = sim.wait_frames(lambda f: commands(f, "CONNECT", 8), "the logout notice")
        self.assertGreater(commands(frames, "CONNECT", 8)[0]["connection"],
                           commands(frames, "LOGIN")[0]["connection"],
                           "the logout notice goes on a fresh connection")
        screen.type_line("stat", PROMPT)
        screen.wait_text("Connected to the server: No")
        screen.type_line("q")
        self.assertEqual(screen.wait_exit(), 0)

    def test_exit_without_stop_sends_no_logout(self):
        sim, screen = self.started()
        wait_connected(screen)
        sim.wait_frames(lambda f: commands(f, "CONNECT", 12), "the readiness")
        screen.type_line("q")
        self.assertEqual(screen.wait_exit(), 0)
        self.assertEqual(commands(sim.frames(), "CONNECT", 8), [])

    def test_a_killed_server_is_a_lost_connection_and_a_restart_connects(self):
        sim, screen = self.started()
        wait_connected(screen)
        sim.proc.send_signal(signal.SIGKILL)
        screen.wait_text("Lost connection to the server")
        screen.wait_prompt(PROMPT)
        screen.type_line("stat", PROMPT)
        screen.wait_text("Connected to the server: No")
        again = self.simulator("--port", str(sim.port))
        screen.type_line("cls", PROMPT)
        screen.type_line("start")
        wait_connected(screen)
        again.wait_frames(lambda f: commands(f, "CONNECT", 12), "the second readiness")
        screen.type_line("q")
        self.assertEqual(screen.wait_exit(), 0)

    def test_a_notice_after_ready_leaves_the_link_up(self):
        """A CONNECT that fails nothing and ends nothing, after readiness: its
        text is shown as a line, and the next page, `stat` and a `start` on the
        live link all find the link up."""
        for code in (0, 1, 3, 8, 11):
            with self.subTest(code=code):
                sim, screen = self.started("--notice-after-ready", str(code))
                notice = "Zorvane Server notice %d: the link stays up" % code
                screen.wait_for(lambda s: notice in s.lines(), "the notice as a line")
                self.assertNotIn("\x02", screen.text())
                screen.type_line("555,Hello")
                screen.wait_for(lambda s: s.text().count("Message Result:") == 1,
                                "the first result")
                screen.type_line("stat", PROMPT)
                screen.wait_text("Connected to the server: Yes")
                screen.type_line("start", PROMPT)
                screen.type_line("556,Again")
                screen.wait_for(lambda s: s.text().count("Message Result:") == 2,
                                "the result of the page after start")
                self.assertNotIn("not sent", screen.text())
                self.assertNotIn("waits until the server is ready", screen.text())
                self.assertEqual(len(commands(sim.frames(), "MSG_SEND")), 2)
                screen.type_line("q")
                self.assertEqual(screen.wait_exit(), 0)

    def test_nothing_listening(self):
        sim = self.simulator()
        port = sim.port
        sim.stop()
        self.inst.point_at(port)
        screen = Screen(self.inst)
        screen.wait_prompt(PROMPT)
        screen.type_line("start")
        for line in ("Cannot find Zorvane Server",
                     "- Check the server IP address and port number",
                     "- Reported error: Wrong port number or the server is not running"):
            screen.wait_text(line)
        screen.type_line("q")
        self.assertEqual(screen.wait_exit(), 0)

    def test_server_endings_refusals_and_errors(self):
        """Each way the server ends or refuses the link is shown and stops it."""
        cases = [
            (("--end-after-ready", "7"), None),
            (("--end-after-ready", "9"), None),
            (("--end-after-ready", "13"), None),
            (("--refuse-connection",), None),
            (("--account", "TerminalAgent:other"), "Login"),
            (("--disabled-account", "TerminalAgent:TerminalAgent"), None),
            (("--malformed", "load"), "zVP protocol error"),
            (("--top-bit-length", "load"), "zVP protocol error"),
        ]
        for options, shown in cases:
            with self.subTest(options=options):
                self.inst.remove()
                self.inst = Installation()
                sim = self.simulator(*options)
                self.inst.point_at(sim.port)
                status, out = self.inst.run_plain("start\nstat\n")
                self.assertIn("Connected to the server: No", out)
                if shown:
                    self.assertIn(shown, out)
                if options[0] == "--end-after-ready":
                    # The closed socket that follows the ending is not a second one.
                    self.assertNotIn("Lost connection to the server", out)
                self.assertNotIn("\x1b", out)

    def test_protocol_17_is_answered_in_17(self):
        sim = self.simulator("--protocol17")
        self.inst.point_at(sim.port)
        status, out = self.inst.run_plain("start\n555,Hello\n")
        self.assertEqual(status, 0, out)
        frames = commands(sim.frames(), "MSG_SEND")
        self.assertEqual(frames[0]["protocol"], 17)

    def test_a_host_name_is_replaced_by_its_address(self):
        sim = self.simulator()
        self.inst.point_at(sim.port, address="localhost")
        status, out = self.inst.run_plain("start\nq\n")
        self.assertIn("Connected to the server", out)
        self.assertIn(b"ServerIP=127.0.0.1", self.inst.ini())


class ScriptTest(unittest.TestCase):
    """printf 'start\\n555,...\\n' | zvcc: the pages go out, and the status says so."""

    def setUp(self):
        self.inst = Installation()

    def tearDown(self):
        self.inst.remove()

    def test_a_script_sends_and_gets_every_result(self):
        sim = Simulator()
        try:
            self.inst.point_at(sim.port)
            lines = "".join("%d,Disk full on db%d\n" % (500 + i, i) for i in range(20))
            status, out = self.inst.run_plain("start\n" + lines)
            self.assertEqual(status, 0, out)
            self.assertEqual(out.count("Message Result:"), 20, out)
            self.assertEqual(len(commands(sim.frames(), "MSG_SEND")), 20)
        finally:
            sim.remove()

    def test_a_script_without_a_server_ends_with_status_3(self):
        sim = Simulator()
        port = sim.port
        sim.remove()
        self.inst.point_at(port)
        status, out = self.inst.run_plain("start\n555,Hello\n")
        self.assertEqual(status, 3, out)
        self.assertIn("Cannot find Zorvane Server", out)

    def test_a_stalled_start_keeps_a_script_waiting_once_not_per_line(self):
        sim = Simulator("--stall-mid-frame", "load")
        try:
            self.inst.point_at(sim.port)
            began = time.monotonic()
            done = subprocess.run([self.inst.program], input=b"start\n555,Hello\ncar /a\nstop\n",
                                  stdout=subprocess.PIPE, timeout=120)
            took = time.monotonic() - began
            out = done.stdout.decode()
            self.assertEqual(done.returncode, 3, out)  # the message got no result
            self.assertIn("Available Carriers", out)
            self.assertLess(took, 55, "the script waited for the start more than once")
        finally:
            sim.remove()

    def test_a_script_on_the_default_local_type_is_told_at_once(self):
        # No bus anywhere: the machine's own buses are never touched.
        env = {k: v for k, v in os.environ.items()
               if k not in ("DBUS_SESSION_BUS_ADDRESS", "ZVCC_LOCAL_BUS")}
        env["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=%s/no-bus" % self.inst.root
        status, out = self.inst.run_plain("start\n555,Hello\n", env=env)
        self.assertEqual(status, 3, out)
        self.assertIn("Cannot connect to the local Zorvane Server (COM).", out)
        self.assertIn("was not sent", out)

    def test_quit_counts_the_pages_as_the_end_of_input_does(self):
        status, _ = self.inst.run_plain("555,Hello\nq\n")
        self.assertEqual(status, 3)  # not sent: no link


if __name__ == "__main__":
    zvcc_e2e.main()
