"""One owner per home: `zvcc send` runs hand their pages to the home's agent
(started on demand) or open console, which holds the one login, keeps the
pages in its outbox and tells each sender its pages' outcomes; a burst all
goes out, an outage loses nothing, a retry with a key never pages twice, a
killed owner's successor carries on."""

import json
import os
import signal
import subprocess
import time

import zvcc_e2e
from zvcc_e2e import DEADLINE, Screen, SimulatorTestCase, main, processes_of, stop_agents


def sent(frames):
    """(number, address) of every MSG_SEND frame the simulator received."""
    out = []
    for f in frames:
        if f.get("command") != "MSG_SEND":
            continue
        fields = f["body"].split("\x03", 1)[1].split(",")
        out.append((int(fields[0]), fields[2]))
    return out


def logins(frames):
    return [f for f in frames if f.get("command") == "LOGIN"]


class OwnerTest(SimulatorTestCase):
    def send(self, *args, text="", timeout=DEADLINE):
        done = subprocess.run([self.inst.program, "send", "--json"] + list(args),
                              input=text.encode(), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, cwd="/", timeout=timeout)
        return (done.returncode, [json.loads(l) for l in done.stdout.decode().splitlines()],
                done.stderr.decode())

    def start_sends(self, server, count, *extra):
        return [subprocess.Popen([self.inst.program, "send", "--json", "--server", server]
                                 + list(extra) + [str(500 + i), "burst %d" % i],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd="/")
                for i in range(count)]

    def agents(self):
        return processes_of(self.inst.root)

    def test_a_burst_of_sends_is_one_login_and_every_page_gets_its_result(self):
        sim = self.simulator()
        server = "127.0.0.1:%d" % sim.port
        runs = self.start_sends(server, 12)
        for i, run in enumerate(runs):
            out, err = run.communicate(timeout=DEADLINE)
            self.assertEqual(run.returncode, 0, err.decode())
            line = json.loads(out.decode())
            self.assertEqual((line["address"], line["outcome"]), (str(500 + i), "result"))
        frames = sim.frames()
        self.assertEqual(len(logins(frames)), 1)
        numbers = [n for n, _ in sent(frames)]
        self.assertEqual(len(numbers), 12)
        self.assertEqual(len(set(numbers)), 12)
        # A send for another server is refused at once, saying why.
        began = time.monotonic()
        status, lines, err = self.send("--server", "127.0.0.1:1", "555", "elsewhere")
        self.assertEqual(status, 3, err)
        self.assertEqual(lines[0]["outcome"], "not sent")
        self.assertIn("sends through tcp " + server, lines[0]["reason"])
        self.assertLess(time.monotonic() - began, 5)
        # The agent stays for later sends and leaves when asked.
        self.assertEqual(len(self.agents()), 1)
        self.assertEqual(stop_agents(self.inst.root, self.inst.program), [])

    def test_an_outage_keeps_the_pages_and_a_retry_with_the_key_pages_once(self):
        sim = self.simulator()
        port = sim.port
        sim.stop()
        server = "127.0.0.1:%d" % port
        status, lines, err = self.send("--server", server, "--timeout", "2", "--key", "db1/disk",
                                       "555", "Disk full")
        self.assertEqual(status, 4, err)
        self.assertEqual(lines[0]["outcome"], "queued")
        self.assertIn("tried until", lines[0]["reason"])
        back = self.simulator("--port", str(port))
        back.wait_frames(lambda f: len(sent(f)) == 1, "the queued page")
        # The caller retries: the first page's outcome, never a second page.
        status, lines, err = self.send("--server", server, "--key", "db1/disk", "555",
                                       "Disk full")
        self.assertEqual(status, 0, err)
        self.assertEqual(lines[0]["outcome"], "result")
        self.assertEqual(len(sent(back.frames())), 1)

    def test_a_killed_agent_is_followed_and_nothing_accepted_is_lost(self):
        sim = self.simulator("--delay", "300")
        server = "127.0.0.1:%d" % sim.port
        runs = self.start_sends(server, 6)
        end = time.monotonic() + DEADLINE
        while not sent(sim.frames()) and time.monotonic() < end:
            time.sleep(0.01)
        for pid in self.agents():
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                if b"agent" in f.read():
                    os.kill(pid, signal.SIGKILL)
        numbers = {}
        for i, run in enumerate(runs):
            out, err = run.communicate(timeout=DEADLINE * 2)
            self.assertEqual(run.returncode, 0, err.decode())
            line = json.loads(out.decode())
            self.assertEqual(line["outcome"], "result", line)
            numbers[line["number"]] = line.get("attempts", 1)
        self.assertEqual(len(numbers), 6)  # no number serves two pages
        # Only a page framed without a result went out twice, under its number.
        by_number = {}
        for n, address in sent(sim.frames()):
            by_number.setdefault(n, set()).add(address)
        for n, addresses in by_number.items():
            self.assertEqual(len(addresses), 1, by_number)
        repeats = [n for n, _ in sent(sim.frames())]
        for n in set(repeats):
            if repeats.count(n) > 1:
                self.assertGreaterEqual(numbers.get(n, 1), 2, (n, numbers))

    def test_an_open_console_serves_sends_and_takes_over_from_the_agent(self):
        sim = self.simulator()
        server = "127.0.0.1:%d" % sim.port
        self.inst.point_at(sim.port)
        status, lines, err = self.send("--server", server, "555", "before the console")
        self.assertEqual(status, 0, err)
        self.assertEqual(len(self.agents()), 1)
        screen = Screen(self.inst)
        try:
            screen.wait_prompt("Zorvane Send >")
            end = time.monotonic() + DEADLINE
            while len(self.agents()) > 1 and time.monotonic() < end:
                time.sleep(0.02)
            self.assertEqual(len(self.agents()), 1)  # the console alone
            screen.type_line("start", "Zorvane Send >")
            screen.wait_text("Connected to the server")
            status, lines, err = self.send("--server", server, "556", "beside the console")
            self.assertEqual(status, 0, err)
            self.assertEqual(lines[0]["outcome"], "result")
            screen.wait_text("556")
            screen.type_line("q")
            screen.wait_exit()
        finally:
            if screen.child.isalive():
                screen.child.terminate(force=True)

    def test_the_agent_leaves_within_a_second_of_sigterm(self):
        sim = self.simulator()
        agent = subprocess.Popen([self.inst.program, "agent", "--server",
                                  "127.0.0.1:%d" % sim.port], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE)
        end = time.monotonic() + DEADLINE
        while time.monotonic() < end:
            status, lines, err = self.send("--timeout", "5", "555", "ping")
            if status == 0:
                break
        self.assertEqual(status, 0, err)
        began = time.monotonic()
        agent.send_signal(signal.SIGTERM)
        agent.wait(DEADLINE)
        self.assertLess(time.monotonic() - began, 1.5)
        self.assertEqual(agent.returncode, 0, agent.stderr.read().decode())
        agent.stderr.close()

    def test_the_user_unit_is_valid(self):
        unit = os.path.join(os.path.dirname(zvcc_e2e.HELP), "packaging", "zvcc-agent.service.in")
        if not os.path.exists(unit):
            self.skipTest("no source tree")
        with open(unit) as f:
            text = f.read().replace("@ZV_AGENT_PROGRAM@", self.inst.program)
        path = self.inst.path("zvcc-agent.service")
        with open(path, "w") as f:
            f.write(text)
        # Checked as the system manager checks units: a user manager needs a
        # login session, which a test machine has not; the rules are the same.
        # The manual page is not installed here.
        done = subprocess.run(["systemd-analyze", "verify", "--man=no", path],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=DEADLINE, env=dict(os.environ, SYSTEMD_LOG_LEVEL="err"))
        self.assertEqual(done.returncode, 0, done.stdout.decode())


if __name__ == "__main__":
    main()
