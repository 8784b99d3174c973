"""zvcc send against zvsim on loopback: outcomes, exit statuses, JSON lines,
several runs on one home beside an open console."""

import json
import os
import resource
import signal
import subprocess
import time

from zvcc_e2e import DEADLINE, PrivateBus, Screen, Simulator, SimulatorTestCase, main

PROMPT = "Zorvane Send >"
LIMIT = 1024 * 1024  # the longest line taken, in bytes
# How far past its time-out a run may end: the time-out counts from the
# program's start, and a sanitizer build takes a while to get there.
OVERRUN = 0.6


def sent_numbers(frames):
    """The message numbers of the MSG_SEND frames the simulator received."""
    return [int(f["body"].split("\x03", 1)[1].split(",", 1)[0])
            for f in frames if f.get("command") == "MSG_SEND"]


class SendTest(SimulatorTestCase):
    def start_send(self, args, text=""):
        return subprocess.Popen([self.inst.program, "send", "--no-agent"] + list(args), cwd="/",
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE), text

    def send(self, args, text="", env=None):
        """Runs zvcc send; returns (status, stdout, stderr)."""
        done = subprocess.run([self.inst.program, "send", "--no-agent"] + list(args), input=text.encode(),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd="/",
                              timeout=DEADLINE, env=env)
        return done.returncode, done.stdout.decode(), done.stderr.decode()

    def links(self, *options):
        """(name, zvsim, arguments that reach it, environment) for each link."""
        tcp = self.simulator(*options)
        bus = PrivateBus()
        self.addCleanup(bus.remove)
        local = Simulator(*options, bus=bus)
        self.addCleanup(local.remove)
        return [("tcp", tcp, ["--server", "127.0.0.1:%d" % tcp.port], None),
                ("bus", local, ["--local"], bus.env())]

    def test_results_for_other_pages_answer_none(self):
        # zvsim's flood over TCP/IP: results numbered 1 to 50 for the addresses
        # "1" to "50", before the pages' own results (which carry no number);
        # the pages' numbers are among them.
        sim = self.simulator("--flood", "50")
        status, out, err = self.send(["--server", "127.0.0.1:%d" % sim.port, "--json", "-"],
                                     "555,db1 is DOWN\n7,db2 is DOWN\n")
        self.assertEqual(status, 0, out + err)
        pages = [json.loads(line) for line in out.splitlines()]
        self.assertEqual(sorted(p["address"] for p in pages), ["555", "7"], out)
        for page in pages:
            self.assertLessEqual(page["number"], 50, out)
            self.assertEqual(page["outcome"], "result", out)
            self.assertRegex(page["result"], r"^Message \d+ accepted for %s " % page["address"],
                             out)
        self.assertIn("Unsolicited result 7 of 50", err)  # printed all the same

    def test_a_page_that_could_reach_another_address_is_not_sent(self):
        cases = [
            # (arguments after the link, input, reason)
            (["--json", "555", "Disk full\x031,3,999,4,120,Hacked,TerminalAgent"], "",
             "its text holds 0x03, which starts the message's fields"),
            (["--json", " ", "Disk full"], "", "its address is empty"),
            (["--json", "-"], "5\x0055,Disk full\n",
             "its address holds the control character 0x00"),
            (["--json", "-"], "555,Disk full,\"3,4\"\n",
             "its carrier holds \",\", which the server takes as a field separator"),
        ]
        for name, sim, link, env in self.links():
            for args, text, reason in cases:
                with self.subTest(link=name, args=args, text=text):
                    status, out, err = self.send(link + args, text, env=env)
                    self.assertEqual(status, 3, out + err)
                    [page] = [json.loads(line) for line in out.splitlines()]
                    self.assertEqual((page["outcome"], page["reason"]), ("not sent", reason))
                    self.assertIn(reason, err)
            sent = [f for f in sim.frames() if f.get("command") in ("MSG_SEND", "SendMsg")]
            self.assertEqual(sent, [], name)

    def test_runs_and_their_outcomes(self):
        good = self.simulator()
        mute = self.simulator("--stall-mid-frame", "send")
        server = "127.0.0.1:%d" % good.port
        # A port nobody listens on: the mute simulator's, once it is gone.
        gone = self.simulator()
        closed = "127.0.0.1:%d" % gone.port
        gone.stop()
        runs = [
            # (arguments, input, status, outcomes of the JSON lines or None)
            (["--server", server, "555", "Disk full, on db1"], "", 0, None),
            (["--server", server, "--json", "-"], "555,Hello\n556,World,,2\n", 0,
             ["result", "result"]),
            (["--server", server, "--json", "-"], "555,Hi\nhelp\n1,2,3,4,5,6,7\n", 3,
             ["not sent", "not sent", "result"]),
            (["--server", "127.0.0.1:%d" % mute.port, "--timeout", "2", "--json", "555", "x"],
             "", 3, ["no result"]),
            (["--server", closed, "--json", "555", "x"], "", 3, ["not sent"]),
        ]
        for args, text, status, outcomes in runs:
            with self.subTest(args=args, text=text):
                got, out, err = self.send(args, text)
                self.assertEqual(got, status, out + err)
                if outcomes is None:
                    self.assertIn("Message Result: ", out)
                    self.assertIn("555, Disk full, on db1", out)
                    continue
                lines = [json.loads(line) for line in out.splitlines()]
                self.assertEqual(sorted(o["outcome"] for o in lines), sorted(outcomes), out)
                for line in lines:
                    self.assertIn("result" if line["outcome"] == "result" else "reason", line)
                self.assertRegex(err, r"\d+ messages?: ")
        body = [f["body"] for f in good.frames() if f.get("command") == "MSG_SEND"]
        self.assertTrue(any(b.startswith("World\x03") and ",556,2," in b for b in body), body)

    def test_input_endings_count_every_page(self):
        sim = self.simulator()
        server = "127.0.0.1:%d" % sim.port
        long_line = "556," + "x" * LIMIT
        runs = [
            # (input, outcomes by address, summary)
            ("555,Hi\n" + long_line + "\n557,Ho\n",
             {"555": "result", "556": "not sent", "557": "result"},
             "3 messages: 2 with a result, 1 without"),
            ("555,Hi\n" + long_line,  # the last line, unterminated
             {"555": "result", "556": "not sent"}, "2 messages: 1 with a result, 1 without"),
            ("555,Hi\n" + "x" * (LIMIT + 1) + "\n",  # too long to show an address
             {"555": "result", "": "not sent"}, "2 messages: 1 with a result, 1 without"),
            ("555,Hi\n556,Ho", {"555": "result", "556": "result"},
             "2 messages: 2 with a result, 0 without"),
        ]
        for text, outcomes, summary in runs:
            with self.subTest(text=text[:40], length=len(text)):
                status, out, err = self.send(["--server", server, "--json", "-"], text)
                self.assertEqual(status, 0 if summary.endswith(" 0 without") else 3, err)
                lines = [json.loads(line) for line in out.splitlines()]
                self.assertEqual({l["address"]: l["outcome"] for l in lines}, outcomes, out)
                for line in lines:
                    if line["outcome"] == "not sent":
                        self.assertEqual(line["reason"], "the line is longer than the limit"
                                         " of %d bytes" % LIMIT)
                self.assertIn(summary + "\n", err)

    def timed_send(self, args, text="", **popen):
        """Runs zvcc send; returns (status, seconds, stdout, stderr)."""
        began = time.monotonic()
        proc = subprocess.Popen([self.inst.program, "send", "--no-agent"] + list(args), cwd="/",
                                stdin=subprocess.PIPE, stdout=popen.pop("stdout", subprocess.PIPE),
                                stderr=subprocess.PIPE, **popen)
        out, err = proc.communicate(text.encode(), timeout=DEADLINE)
        return (proc.returncode, time.monotonic() - began, (out or b"").decode(),
                err.decode())

    def test_the_time_out_ends_the_run_on_time(self):
        bus = PrivateBus()
        self.addCleanup(bus.remove)
        local = Simulator("--silent", bus=bus)
        self.sims.append(local)
        silent = self.simulator("--silent")
        many = "".join("5%d,page %d\n" % (i % 100, i) for i in range(1000000))
        runs = [
            # (link options, time-out, input)
            (["--local"], 1, ""),
            (["--local"], 3, ""),
            (["--server", "127.0.0.1:%d" % silent.port], 1, ""),
            (["--server", "127.0.0.1:%d" % silent.port], 3, many),
        ]
        for link, timeout, text in runs:
            with self.subTest(link=link, timeout=timeout, lines=text.count("\n")):
                args = link + ["--timeout", str(timeout), "--json"]
                args += ["-"] if text else ["555", "x"]
                before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
                status, took, out, err = self.timed_send(args, text, env=bus.env())
                self.assertEqual(status, 3, err)
                self.assertLess(took, timeout + OVERRUN, err)
                self.assertGreater(took, timeout - 0.2, err)
                lines = [json.loads(line) for line in out.splitlines()]
                self.assertTrue(lines, err)
                self.assertTrue(all(l["outcome"] != "result" for l in lines), out[:300])
                if text:
                    # Lines are read ahead only so far while the server is not ready.
                    self.assertLessEqual(len(lines), 1000)
                    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
                    self.assertLess(max(peak, before), 150 * 1024, "peak resident KiB")

    def test_output_that_cannot_be_written_fails_the_run(self):
        sim = self.simulator()
        server = "127.0.0.1:%d" % sim.port
        full = open("/dev/full", "wb")
        self.addCleanup(full.close)
        runs = [
            # (arguments, how standard output is given)
            (["--json", "555", "x"], {"stdout": full}),
            (["555", "x"], {"stdout": full}),
            (["--json", "555", "x"], {"stdout": subprocess.DEVNULL, "preexec_fn": lambda: os.close(1)}),
        ]
        for args, popen in runs:
            with self.subTest(args=args, popen=sorted(popen)):
                status, _, _, err = self.timed_send(["--server", server] + args, **popen)
                self.assertEqual(status, 1, err)
                self.assertRegex(err, r"(?m)^zvcc send: the outcomes could not be written: \S")
        # A reader that goes before the end.
        proc = subprocess.Popen([self.inst.program, "send", "--no-agent", "--server", server, "--json", "-"],
                                cwd="/", stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        proc.stdout.close()
        _, err = proc.communicate(b"555,x\n", timeout=DEADLINE)
        self.assertEqual(proc.returncode, 1, err)
        self.assertIn(b"the outcomes could not be written: Broken pipe", err)

    def test_quit_ends_the_run_with_its_outcomes(self):
        silent = self.simulator("--silent")
        proc = subprocess.Popen([self.inst.program, "send", "--no-agent", "--server",
                                 "127.0.0.1:%d" % silent.port, "--timeout", "20", "--json",
                                 "555", "x"], cwd="/", stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        silent.wait_frames(lambda frames: frames, "the connect")
        began = time.monotonic()
        proc.send_signal(signal.SIGQUIT)
        out, err = proc.communicate(timeout=DEADLINE)
        self.assertEqual(proc.returncode, 128 + signal.SIGQUIT, err)
        self.assertLess(time.monotonic() - began, 2.0)
        self.assertEqual([json.loads(l)["outcome"] for l in out.decode().splitlines()],
                         ["not sent"])
        self.assertIn(b"1 message: 0 with a result, 1 without", err)

    def test_usage_errors(self):
        for args in (["555"], ["--bogus", "555", "x"], ["--priority", "9", "555", "x"],
                     ["--server", "h:1", "--local", "555", "x"], ["--timeout", "abc", "-"]):
            with self.subTest(args=args):
                status, out, err = self.send(args)
                self.assertEqual(status, 2)
                self.assertEqual(out, "")
                self.assertTrue(err.startswith("zvcc send: "), err)
        status, out, _ = self.send(["--help"])
        self.assertEqual(status, 0)
        self.assertIn("zvcc send [OPTION]... ADDRESS TEXT", out)

    def test_beside_a_console_and_each_other(self):
        sim = self.simulator()
        self.inst.point_at(sim.port, address="127.0.0.2", connection=1)
        before = self.inst.ini()
        screen = Screen(self.inst)
        screen.wait_prompt(PROMPT)
        # The console's own link goes to the same simulator.
        screen.type_line("con /s")
        screen.wait_text("Set Connection")
        screen.child.send(b"2\r")
        screen.wait_text("connection id")
        screen.child.send(b"y\r127.0.0.1\r%d\r" % sim.port)
        screen.wait_prompt(PROMPT)
        screen.type_line("start")
        screen.wait_for(lambda s: "Connected to the server" in s.lines(), "the ready line")
        # The console is the home's owner: every send beside it goes through its
        # one login.
        batch = "".join("55%d,page %d\n" % (i, i) for i in range(10))
        runs = [subprocess.Popen([self.inst.program, "send", "--no-agent", "--server",
                                  "127.0.0.1:%d" % sim.port, "--json", "-"],
                                 cwd="/", stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL) for _ in range(4)]
        for i in range(5):
            screen.type_line("777,console %d" % i)
        outputs = [run.communicate(batch.encode(), timeout=DEADLINE)[0] for run in runs]
        self.assertEqual([run.returncode for run in runs], [0] * 4)
        # The pages from elsewhere are shown too: the console's own results
        # may have scrolled off the screen.
        screen.wait_for(lambda s: s.raw.count(b", 777, console") == 5, "the console's results")
        self.assertEqual(len([f for f in sim.frames() if f.get("command") == "LOGIN"]), 1)
        numbers = sent_numbers(sim.frames())
        self.assertEqual(len(numbers), 45)
        self.assertEqual(len(set(numbers)), 45, numbers)
        for out in outputs:
            self.assertEqual([json.loads(l)["outcome"] for l in out.decode().splitlines()],
                             ["result"] * 10)
        screen.type_line("q")
        self.assertEqual(screen.wait_exit(), 0)
        ini = self.inst.ini().decode("utf-8-sig")
        # Whole, with the console's settings as it saved them and a numbering
        # beyond every number handed out.
        self.assertIn("ServerIP=127.0.0.1\r\n", ini)
        self.assertIn("ConnectionId=2\r\n", ini)
        last = int(ini.split("LastMsgNo=", 1)[1].split("\r\n", 1)[0])
        self.assertGreaterEqual(last, max(numbers))
        self.assertTrue(ini.rstrip("\r\n").endswith("LogEnabled=1"), ini)
        self.assertNotEqual(self.inst.ini(), before)

    def test_stored_connection_is_left_alone(self):
        sim = self.simulator()
        self.inst.point_at(6022, address="10.9.8.7", connection=1)
        status, _, err = self.send(["--server", "127.0.0.1:%d" % sim.port, "555", "x"])
        self.assertEqual(status, 0, err)
        ini = self.inst.ini().decode("utf-8-sig")
        for line in ("ConnectionId=1\r\n", "ServerIP=10.9.8.7\r\n", "ServerPort=6022\r\n"):
            self.assertIn(line, ini)
        self.assertRegex(ini, r"LastMsgNo=[1-9]")
        self.assertIn("Sending message to \"555\"", self.inst.log_text())


if __name__ == "__main__":
    main()
