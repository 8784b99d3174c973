#!/usr/bin/env python3
"""End-to-end link benchmark: zvcc against zvsim on loopback.

Prints one table: the latency of a message line to its MSG_SEND frame at the
server and of the server's reply to its printed "Message Result" (percentiles
over single messages, measured through a timestamping proxy between the two),
the throughput of a piped batch of messages, the processor time of an idle
connected console, the peak resident memory with 1,000 carriers loaded, the
time from start to the main screen, and the same send and result latencies on
the local link over D-Bus (a private bus; a monitor on it timestamps the calls
and signals as the proxy does the frames).

With --micro DIR it also runs the micro benchmarks built in DIR (DES and MD5
beside OpenSSL, frames built and parsed per second) into the same table.
bench/run.sh builds everything in Release and runs it all.

    bench/link_bench.py build/bin/zvcc build/bin/zvsim [--messages N] [--idle SECONDS]
        [--micro build/bench]
"""

import argparse
import json
import os
import pty
import random
import re
import resource
import selectors
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time


PROBE_GAP = 0.020  # seconds between the lines of the latency probes


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100.0 * (len(values) - 1))))]


class Folder:
    """A program folder with the console and its settings pointing at `port`."""

    def __init__(self, zvcc, port):
        self.root = tempfile.mkdtemp(prefix="zvcc-bench-")
        for sub in ("Settings", "Logs"):
            os.mkdir(os.path.join(self.root, sub))
        shutil.copytree(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "Help"),
                        os.path.join(self.root, "Help"))
        self.program = os.path.join(self.root, "zvcc")
        shutil.copy2(zvcc, self.program)
        with open(os.path.join(self.root, "Settings", "zvcc.ini"), "w") as f:
            f.write("[ConsoleSys]\nConnectionId=2\nServerIP=127.0.0.1\nServerPort=%d\n" % port)

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)


def start_sim(zvsim, *extra):
    proc = subprocess.Popen([zvsim, "--port", "0", "--quiet", *extra], stdout=subprocess.PIPE)
    line = proc.stdout.readline().decode()
    return proc, int(re.search(r":(\d+)$", line.strip()).group(1))


class Proxy:
    """Forwards one console's connection to the server, noting when each
    MSG_SEND frame passes in either direction."""

    def __init__(self, server_port):
        self.server_port = server_port
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.to_server = []    # arrival times of MSG_SEND requests
        self.to_console = []   # forwarding times of MSG_SEND replies
        self.cond = threading.Condition()
        threading.Thread(target=self.run, daemon=True).start()

    def run(self):
        while True:
            console, _ = self.listener.accept()
            server = socket.create_connection(("127.0.0.1", self.server_port))
            for s in (console, server):
                s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            threading.Thread(target=self.pump, args=(console, server, self.to_server),
                             daemon=True).start()
            threading.Thread(target=self.pump, args=(server, console, self.to_console),
                             daemon=True).start()

    def pump(self, src, dst, marks):
        buf = b""
        while True:
            try:
                data = src.recv(65536)
            except OSError:
                data = b""
            if not data:
                try:
                    dst.shutdown(socket.SHUT_WR)
                except OSError:
                    pass
                return
            buf += data
            while len(buf) >= 2:
                n = int.from_bytes(buf[:2], "big")
                if len(buf) < 2 + n:
                    break
                frame, buf = buf[:2 + n], buf[2 + n:]
                now = time.perf_counter()
                dst.sendall(frame)
                if frame[4:14].strip() == b"MSG_SEND":
                    with self.cond:
                        marks.append(now)
                        self.cond.notify_all()


def end_all(*procs):
    """Ends the processes a measurement started, also after a failed or
    timed-out one, so that none outlives the run."""
    for p in procs:
        if p.poll() is None:
            p.kill()
        p.wait()


def probe(proc, count, cond, sent_marks, result_marks, what):
    """Types `count` message lines into the console `proc`, one at a time, and
    pairs each with the marks the observer (proxy or bus monitor) took: the
    line to its request, and the reply to its printed result."""
    sel = selectors.DefaultSelector()
    sel.register(proc.stdout, selectors.EVENT_READ)
    out = b""

    def read_until(pattern, deadline=20.0):
        nonlocal out
        end = time.perf_counter() + deadline
        while pattern not in out:
            if time.perf_counter() > end:
                raise SystemExit("timed out waiting for %r %s" % (pattern, what))
            if sel.select(0.5):
                out += os.read(proc.stdout.fileno(), 65536)
        stamp = time.perf_counter()
        out = out[out.index(pattern) + len(pattern):]
        return stamp

    proc.stdin.write(b"start\n")
    read_until(b"ready for messages")  # logged in, on either link
    send, result = [], []
    for i in range(count):
        # Lines 20 ms apart, as an operator's or a script's would come, not
        # one on the heels of the last result.
        if i:
            time.sleep(max(0.0, t0 + PROBE_GAP - time.perf_counter()))
        t0 = time.perf_counter()
        proc.stdin.write(b"%d,latency probe\n" % (1000 + i))
        t2 = read_until(b"Message Result:")
        with cond:
            cond.wait_for(lambda: len(result_marks) > i, 5)
            send.append(sent_marks[i] - t0)
            result.append(t2 - result_marks[i])
    proc.stdin.close()
    proc.wait(30)
    return send, result


def latencies(zvcc, zvsim, count):
    sim, port = start_sim(zvsim)
    proxy = Proxy(port)
    folder = Folder(zvcc, proxy.port)
    proc = subprocess.Popen([folder.program], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            bufsize=0)
    try:
        return probe(proc, count, proxy.cond, proxy.to_server, proxy.to_console, "")
    finally:
        end_all(proc, sim)
        folder.remove()


def throughput(zvcc, zvsim, count):
    sim, port = start_sim(zvsim)
    folder = Folder(zvcc, port)
    script = b"start\n" + b"".join(b"%d,Disk full on db%d\n" % (i, i) for i in range(count))
    t0 = time.perf_counter()
    done = subprocess.run([folder.program], input=script, stdout=subprocess.PIPE, timeout=600)
    elapsed = time.perf_counter() - t0
    results = done.stdout.count(b"Message Result:")
    sim.terminate()
    sim.wait()
    folder.remove()
    return results, elapsed, done.returncode


def pipelined(client, zvsim, count):
    """Messages per second of the minimal pipelined client of the same session."""
    sim, port = start_sim(zvsim)
    try:
        done = subprocess.run([client, str(port), str(count)], stdout=subprocess.PIPE,
                              timeout=600, check=True)
        return float(done.stdout.decode().strip())
    finally:
        end_all(sim)


ITEM = re.compile(r"Log Item: (\d+) \(")


def whole_ini(path):
    """Fails unless the settings file is whole: UTF-8, every line a section or
    an entry, ended by a line end. Returns {section: {key: value}}."""
    with open(path, "rb") as f:
        text = f.read().decode("utf-8").lstrip("\ufeff")
    if text and not text.endswith("\r\n"):
        raise SystemExit("kill test: zvcc.ini is cut off")
    sections, current = {}, None
    for line in filter(None, text.split("\r\n")):
        if line.startswith("[") and line.endswith("]"):
            current = sections.setdefault(line[1:-1], {})
        elif current is not None and "=" in line:
            current.__setitem__(*line.split("=", 1))
        else:
            raise SystemExit("kill test: zvcc.ini holds a broken line %r" % line)
    return sections


def whole_items(logs):
    """Fails unless every log file holds whole items numbered 1, 2, ...;
    returns how many items there are."""
    total = 0
    for name in os.listdir(logs):
        with open(os.path.join(logs, name), "rb") as f:
            data = f.read()
        text = data.decode("utf-16-le")
        if len(data) % 2 or (text and (not text.startswith("Log Item: ")
                                       or not text.endswith("\r\n\r\n"))):
            raise SystemExit("kill test: %s ends inside an item" % name)
        numbers = [int(n) for n in ITEM.findall(text)]
        if numbers != list(range(1, len(numbers) + 1)):
            raise SystemExit("kill test: %s numbers its items out of turn" % name)
        total += len(numbers)
    return total


def kill_test(zvcc, zvsim, rounds, seed=1):
    """A batch killed (SIGKILL) at a random moment, again and again, then a
    run to its end: returns (numbers on the wire, repeated ones, log items),
    having checked after every run that zvcc.ini and every log item are whole."""
    rng = random.Random(seed)
    scratch = tempfile.mkdtemp(prefix="zvcc-kill-")
    transcript = os.path.join(scratch, "transcript.jsonl")
    sim, port = start_sim(zvsim, "--transcript", transcript)
    folder = Folder(zvcc, port)
    ini = os.path.join(folder.root, "Settings", "zvcc.ini")
    with open(ini, "a") as f:  # a small ring, so that kills land on changes of file too
        f.write("[SysLog]\nMaxItems=50\nMaxFiles=3\n")
    script = b"start\n" + b"".join(b"%d,kill test %d\n" % (i, i) for i in range(400))
    items = 0
    try:
        for final in [False] * rounds + [True]:
            proc = subprocess.Popen([folder.program], stdin=subprocess.PIPE,
                                    stdout=subprocess.DEVNULL)
            proc.stdin.write(script)
            proc.stdin.close()
            if final:
                proc.wait(120)
            else:
                time.sleep(rng.uniform(0.05, 0.5))
                proc.kill()
                proc.wait()
            whole_ini(ini)
            items = whole_items(os.path.join(folder.root, "Logs"))
    finally:
        end_all(sim)
        folder.remove()
    numbers = []
    with open(transcript) as f:
        for frame in map(json.loads, filter(str.strip, f)):
            if frame.get("id", 0) > 0:
                numbers.append(frame["id"])
            if frame.get("command") == "MSG_SEND":
                numbers.append(int(frame["body"].split("\x03", 1)[1].split(",", 1)[0]))
    shutil.rmtree(scratch, ignore_errors=True)
    return len(numbers), len(numbers) - len(set(numbers)), items


def idle_cpu(zvcc, zvsim, seconds):
    sim, port = start_sim(zvsim)
    folder = Folder(zvcc, port)
    proc = subprocess.Popen([folder.program], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    proc.stdin.write(b"start\n")
    proc.stdin.flush()
    time.sleep(1.0)  # let the start settle before measuring
    with open("/proc/%d/stat" % proc.pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    before = int(fields[11]) + int(fields[12])
    time.sleep(seconds)
    with open("/proc/%d/stat" % proc.pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    after = int(fields[11]) + int(fields[12])
    proc.stdin.close()
    proc.wait(30)
    sim.terminate()
    sim.wait()
    folder.remove()
    ticks = os.sysconf("SC_CLK_TCK")
    return (after - before) / ticks * 60.0 / seconds


# Short fields: the whole list of 1,000 must fit in one zVP frame (32,767 bytes).
CARRIER = """  <carrier>
    <carrierId>%d</carrierId>
    <carrierName>"C%d"</carrierName>
    <msgLength>160</msgLength>
    <carrierType>2</carrierType>
    <carrierTypeStr>"GSM"</carrierTypeStr>
    <addressType>2</addressType>
    <addressTypeStr>"phone"</addressTypeStr>
    <carrierInfo>""</carrierInfo>
  </carrier>
"""


def rss_of(zvcc, zvsim, carriers):
    """Peak resident memory of a console that loads `carriers` carriers from
    the server, lists them and ends."""
    setup = tempfile.NamedTemporaryFile("w", suffix=".ccr", delete=False)
    setup.write('<?xml version="1.0" encoding="UTF-8"?>\n<carriers>\n')
    for i in range(1, carriers + 1):
        setup.write(CARRIER % (i, i))
    setup.write("</carriers>\n")
    setup.close()
    sim, port = start_sim(zvsim, "--carriers", setup.name)
    folder = Folder(zvcc, port)
    # GNU time waits for the console as its own child: the peak it reports is
    # the console's alone, not that of a forked copy of this script.
    peak = tempfile.NamedTemporaryFile("r", suffix=".rss")
    done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak.name, folder.program],
                          input=b"start\ncar /a\n", stdout=subprocess.PIPE, timeout=120)
    out = done.stdout
    sim.terminate()
    sim.wait()
    folder.remove()
    os.unlink(setup.name)
    if b" C%d " % carriers not in out:
        raise SystemExit("the console did not list the %d carriers" % carriers)
    return int(peak.read().split()[-1]) * 1024


def flood(zvcc, zvsim, count):
    """A server that sends `count` unsolicited results as fast as it can, to a
    console whose input stays open: the console's peak resident memory while
    it prints them, the results printed per second, and how long SIGTERM takes
    to end it in the middle of the flood."""
    sim, port = start_sim(zvsim, "--flood", str(count))
    folder = Folder(zvcc, port)
    proc = subprocess.Popen([folder.program], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    seen = [0]

    def read():
        tail = b""
        for chunk in iter(lambda: proc.stdout.read1(65536), b""):
            data = tail + chunk
            seen[0] += data.count(b"Message Result:")
            tail = data[-20:]
            seen[0] -= tail.count(b"Message Result:")
        seen[0] += tail.count(b"Message Result:")

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    proc.stdin.write(b"start\n")
    proc.stdin.flush()
    peak, began, stop_took = 0, None, None
    deadline = time.monotonic() + 120
    try:
        while time.monotonic() < deadline:
            with open("/proc/%d/status" % proc.pid) as f:
                rss = int(f.read().split("VmRSS:")[1].split()[0]) * 1024
            peak = max(peak, rss)
            if began is None and seen[0] > 0:
                began = (time.monotonic(), seen[0])
            if seen[0] >= count // 2:
                break
            time.sleep(0.02)
        rate = (seen[0] - began[1]) / (time.monotonic() - began[0]) if began else 0.0
        start = time.monotonic()
        proc.terminate()
        proc.wait(timeout=30)
        stop_took = time.monotonic() - start
    finally:
        end_all(proc, sim)
        folder.remove()
    return peak, rate, stop_took


def start_to_main_screen(zvcc, runs):
    """Time from starting the program in a terminal to its prompt on the main
    screen, median over `runs` runs."""
    folder = Folder(zvcc, 1)
    times = []
    for _ in range(runs):
        t0 = time.perf_counter()
        pid, fd = pty.fork()
        if pid == 0:
            os.execv(folder.program, [folder.program])
        out = b""
        while b"Zorvane Send >" not in out:
            ready = selectors.DefaultSelector()
            ready.register(fd, selectors.EVENT_READ)
            if not ready.select(10):
                raise SystemExit("no main screen within 10 s")
            out += os.read(fd, 65536)
        times.append(time.perf_counter() - t0)
        os.write(fd, b"q\r")
        while True:
            try:
                if not os.read(fd, 65536):
                    break
            except OSError:
                break
        os.waitpid(pid, 0)
        os.close(fd)
    folder.remove()
    return percentile(times, 50)


class PrivateBus:
    """A dbus-daemon of the benchmark's own, with a monitor noting when each
    SendMsg call and OnZVMessage signal passes."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="zvcc-bench-bus-")
        config = os.path.join(self.root, "bus.conf")
        with open(config, "w") as f:
            f.write('<busconfig><type>session</type><listen>unix:path=%s/socket</listen>'
                    '<policy context="default"><allow send_destination="*" eavesdrop="true"/>'
                    '<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>\n'
                    % self.root)
        self.daemon = subprocess.Popen(["dbus-daemon", "--config-file=" + config, "--nofork",
                                        "--print-address=1"], stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL)
        self.address = self.daemon.stdout.readline().decode().strip()
        self.calls = []
        self.signals = []
        self.cond = threading.Condition()
        self.monitor = subprocess.Popen(
            ["dbus-monitor", "--address", self.address, "--profile",
             "interface='org.zorvane.Server1',member='SendMsg'",
             # The simulator raises each event for another account too; only
             # the console's own count.
             "interface='org.zorvane.Server1',member='OnZVMessage',arg1='TerminalAgent'"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        threading.Thread(target=self.watch, daemon=True).start()

    def watch(self):
        for line in self.monitor.stdout:
            fields = line.decode(errors="replace").split("\t")
            try:
                # The profile's time stamps are wall-clock seconds.
                stamp = float(fields[1]) - time.time() + time.perf_counter()
            except (IndexError, ValueError):
                continue  # the heading line
            with self.cond:
                if fields[0] == "mc" and "SendMsg" in line.decode(errors="replace"):
                    self.calls.append(stamp)
                elif fields[0] == "sig" and "OnZVMessage" in line.decode(errors="replace"):
                    self.signals.append(stamp)
                self.cond.notify_all()

    def close(self):
        end_all(self.monitor, self.daemon)
        shutil.rmtree(self.root, ignore_errors=True)


def local_latencies(zvcc, zvsim, count):
    bus = PrivateBus()
    env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=bus.address, ZVCC_LOCAL_BUS="session")
    sim = subprocess.Popen([zvsim, "--port", "0", "--quiet", "--dbus", "session"],
                           stdout=subprocess.PIPE, env=env)
    sim.stdout.readline()
    folder = Folder(zvcc, 1)
    with open(os.path.join(folder.root, "Settings", "zvcc.ini"), "w") as f:
        f.write("[ConsoleSys]\nConnectionId=1\n")
    proc = subprocess.Popen([folder.program], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            bufsize=0, env=env)
    try:
        return probe(proc, count, bus.cond, bus.calls, bus.signals, "on the local link")
    finally:
        end_all(proc, sim)
        folder.remove()
        bus.close()


def micro(folder):
    """Rows of the micro benchmarks: name -> (value, unit)."""
    import json
    rows = []
    for program in ("cipher_bench", "frame_bench"):
        done = subprocess.run([os.path.join(folder, program), "--benchmark_format=json",
                               "--benchmark_min_time=0.5"], stdout=subprocess.PIPE, check=True)
        for b in json.loads(done.stdout)["benchmarks"]:
            rows.append((b["name"], b.get("bytes_per_second"), b.get("items_per_second")))
    return rows


MICRO_NAMES = {
    "BM_DesEncryptStream": "DES-ECB, the program's stream encryption",
    "BM_OpensslDesEcb": "DES-ECB, OpenSSL",
    "BM_Md5": "MD5, the program's",
    "BM_OpensslMd5": "MD5, OpenSSL",
    "BM_BuildSendFrame": "MSG_SEND requests built into frames",
    "BM_ReadAndParseFrames": "reply frames read and parsed",
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("zvcc")
    parser.add_argument("zvsim")
    parser.add_argument("--messages", type=int, default=10000)
    parser.add_argument("--probes", type=int, default=300)
    parser.add_argument("--idle", type=float, default=60.0)
    parser.add_argument("--carriers", type=int, default=1000)
    parser.add_argument("--no-local", action="store_true", help="skip the local link")
    parser.add_argument("--micro", help="folder of the built micro benchmarks")
    parser.add_argument("--client", help="the minimal pipelined client, for the ratio")
    parser.add_argument("--kills", type=int, default=20, help="kills of the kill test (0: none)")
    parser.add_argument("--flood", type=int, default=1000000,
                        help="unsolicited results of the flood test (0: none)")
    args = parser.parse_args()

    send, result = latencies(args.zvcc, args.zvsim, args.probes)
    results, elapsed, status = throughput(args.zvcc, args.zvsim, args.messages)
    minimal = pipelined(args.client, args.zvsim, args.messages) if args.client else None
    kills = kill_test(args.zvcc, args.zvsim, args.kills) if args.kills else None
    flooded = flood(args.zvcc, args.zvsim, args.flood) if args.flood else None
    cpu = idle_cpu(args.zvcc, args.zvsim, args.idle)
    rss = rss_of(args.zvcc, args.zvsim, args.carriers)
    startup = start_to_main_screen(args.zvcc, 20)
    local = None if args.no_local else local_latencies(args.zvcc, args.zvsim, args.probes)

    ms = lambda v: "%.3f ms" % (v * 1000.0)
    rows = [
        ("line to MSG_SEND frame at the server, median", ms(percentile(send, 50))),
        ("line to MSG_SEND frame at the server, 99th percentile", ms(percentile(send, 99))),
        ("reply to \"Message Result\" printed, median", ms(percentile(result, 50))),
        ("reply to \"Message Result\" printed, 99th percentile", ms(percentile(result, 99))),
        ("piped batch: messages with a result / sent", "%d / %d (status %d)"
         % (results, args.messages, status)),
        ("piped batch: messages per second", "%.0f" % (args.messages / elapsed)),
    ]
    if minimal:
        rows += [
            ("minimal pipelined client, same session: messages per second", "%.0f" % minimal),
            ("piped batch / minimal pipelined client", "%.3f" % (args.messages / elapsed / minimal)),
        ]
    if kills:
        rows.append(("kill test: %d kills, then a whole run: numbers on the wire, repeated"
                     % args.kills, "%d, %d repeated (zvcc.ini and %d log items whole)" % kills))
    if flooded:
        peak, rate, took = flooded
        rows += [
            ("flood of unsolicited results: peak resident memory", "%.1f MiB" % (peak / 1048576.0)),
            ("flood of unsolicited results: printed per second", "%.0f" % rate),
            ("flood of unsolicited results: SIGTERM to exit", ms(took)),
        ]
    rows += [
        ("idle connected console: processor time per minute", "%.3f s" % cpu),
        ("peak resident memory, %d carriers loaded and listed" % args.carriers,
         "%.1f MiB" % (rss / 1048576.0)),
        ("start of the program to its main screen, median", ms(startup)),
    ]
    if local:
        lsend, lresult = local
        rows += [
            ("local link: line to SendMsg call on the bus, median", ms(percentile(lsend, 50))),
            ("local link: line to SendMsg call, 99th percentile", ms(percentile(lsend, 99))),
            ("local link: OnZVMessage to \"Message Result\" printed, median",
             ms(percentile(lresult, 50))),
            ("local link: OnZVMessage to result printed, 99th percentile",
             ms(percentile(lresult, 99))),
        ]
    if args.micro:
        for name, per_byte, per_item in micro(args.micro):
            if name not in MICRO_NAMES:
                continue
            value = ("%.1f MB/s" % (per_byte / 1e6)) if per_byte else ("%.0f per second" % per_item)
            rows.append((MICRO_NAMES[name], value))
    width = max(len(r[0]) for r in rows)
    print("| %-*s | %s |" % (width, "measure", "value"))
    print("|%s|%s|" % ("-" * (width + 2), "-" * 24))
    for name, value in rows:
        print("| %-*s | %s |" % (width, name, value))


if __name__ == "__main__":
    main()
