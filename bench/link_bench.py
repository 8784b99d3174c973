#!/usr/bin/env python3
"""End-to-end link benchmark: zvcc against zvsim on loopback.

Prints one table: the latency of a message line to its MSG_SEND frame at the
server and of the server's reply to its printed "Message Result" (percentiles
over single messages, measured through a timestamping proxy between the two),
the throughput of a piped batch of messages, and the processor time of an idle
connected console.

    bench/link_bench.py build/bin/zvcc build/bin/zvsim [--messages N] [--idle SECONDS]
"""

import argparse
import os
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


def start_sim(zvsim):
    proc = subprocess.Popen([zvsim, "--port", "0", "--quiet"], stdout=subprocess.PIPE)
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


def latencies(zvcc, zvsim, count):
    sim, port = start_sim(zvsim)
    proxy = Proxy(port)
    folder = Folder(zvcc, proxy.port)
    proc = subprocess.Popen([folder.program], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            bufsize=0)
    sel = selectors.DefaultSelector()
    sel.register(proc.stdout, selectors.EVENT_READ)
    out = b""

    def read_until(pattern, deadline=20.0):
        nonlocal out
        end = time.perf_counter() + deadline
        while pattern not in out:
            if time.perf_counter() > end:
                raise SystemExit("timed out waiting for %r" % pattern)
            if sel.select(0.5):
                out += os.read(proc.stdout.fileno(), 65536)
        stamp = time.perf_counter()
        out = out[out.index(pattern) + len(pattern):]
        return stamp

    proc.stdin.write(b"start\n")
    read_until(b"ready for messages")
    send, result = [], []
    for i in range(count):
        t0 = time.perf_counter()
        proc.stdin.write(b"%d,latency probe\n" % (1000 + i))
        t2 = read_until(b"Message Result:")
        with proxy.cond:
            proxy.cond.wait_for(lambda: len(proxy.to_console) > i, 5)
            send.append(proxy.to_server[i] - t0)
            result.append(t2 - proxy.to_console[i])
    proc.stdin.close()
    proc.wait(30)
    sim.terminate()
    sim.wait()
    folder.remove()
    return send, result


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


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("zvcc")
    parser.add_argument("zvsim")
    parser.add_argument("--messages", type=int, default=10000)
    parser.add_argument("--probes", type=int, default=300)
    parser.add_argument("--idle", type=float, default=60.0)
    args = parser.parse_args()

    send, result = latencies(args.zvcc, args.zvsim, args.probes)
    results, elapsed, status = throughput(args.zvcc, args.zvsim, args.messages)
    cpu = idle_cpu(args.zvcc, args.zvsim, args.idle)

    ms = lambda v: "%.3f ms" % (v * 1000.0)
    rows = [
        ("line to MSG_SEND frame at the server, median", ms(percentile(send, 50))),
        ("line to MSG_SEND frame at the server, 99th percentile", ms(percentile(send, 99))),
        ("reply to \"Message Result\" printed, median", ms(percentile(result, 50))),
        ("reply to \"Message Result\" printed, 99th percentile", ms(percentile(result, 99))),
        ("piped batch: messages with a result / sent", "%d / %d (status %d)"
         % (results, args.messages, status)),
        ("piped batch: messages per second", "%.0f" % (args.messages / elapsed)),
        ("idle connected console: processor time per minute", "%.3f s" % cpu),
    ]
    width = max(len(r[0]) for r in rows)
    print("| %-*s | %s |" % (width, "measure", "value"))
    print("|%s|%s|" % ("-" * (width + 2), "-" * 24))
    for name, value in rows:
        print("| %-*s | %s |" % (width, name, value))


if __name__ == "__main__":
    main()
