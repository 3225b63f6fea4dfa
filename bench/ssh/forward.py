#!/usr/bin/python3
"""Local-forward throughput: vtsession -L against OpenSSH's ssh -L, both through the same private stock sshd to the
same loopback service, which sends N MiB to each connection and closes. Both tunnels stay up for the whole run;
each round reads the data once through each (the order alternates), so a busy moment of the machine falls on both.
Prints min and median seconds and MB/s per side and the median of the per-round ratios (ssh time / vtsession time:
1.0 means as fast).

With --keystrokes each client also runs an interactive shell (cat with the tty's echo) and, during every transfer
through it, a key is typed every 50 ms and timed until its echo arrives (ssh: on its stdout; vtsession: in its
--capture file). Prints keystroke round trip min / median / p99 per side, idle and during the transfers.

    forward.py [--mib 64] [--rounds 7] [--cipher chacha20-poly1305@openssh.com] [--vtsession build/tools/vtsession]
               [--keystrokes]
"""
import argparse
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
USER, PASSWORD = "qtpeer", "Peer-pass-42"


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def send_all(c, payload):
    try:
        c.sendall(payload)
    except OSError:
        pass  # a probe that only checked the tunnel was up
    c.close()


def serve(listener, payload):
    while True:
        try:
            c, _ = listener.accept()
        except OSError:
            return
        threading.Thread(target=send_all, args=(c, payload), daemon=True).start()


def wait_port(port, limit=20):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.1)
    return False


def fetch(port, size):
    t0 = time.monotonic()
    c = socket.create_connection(("127.0.0.1", port), timeout=60)
    got = 0
    while True:
        b = c.recv(1 << 20)
        if not b:
            break
        got += len(b)
    c.close()
    dt = time.monotonic() - t0
    if got != size:
        sys.exit(f"forward: {got} bytes of {size} arrived on port {port}")
    return dt


READY = "echo rea''dy; exec cat >/dev/null"


class typist:
    """Types single keys into one client's shell and times each echo."""

    def __init__(self, proc, capture=None):
        self.proc, self.capture = proc, capture
        self.buf, self.seen = b"", 0
        self.cond = threading.Condition()
        if capture is None:
            threading.Thread(target=self._pump, daemon=True).start()

    def _pump(self):
        while True:
            b = os.read(self.proc.stdout.fileno(), 65536)
            if not b:
                return
            with self.cond:
                self.buf += b
                self.cond.notify_all()

    def _fresh(self, timeout, after):
        """Everything read so far, once there is more than `after` bytes (or the wait ends)."""
        if self.capture is None:
            with self.cond:
                self.cond.wait_for(lambda: len(self.buf) > after, timeout)
                return self.buf
        time.sleep(0.0005)
        try:
            with open(self.capture, "rb") as f:
                f.seek(self.seen)
                self.buf = self.buf[:self.seen] + f.read()
        except OSError:
            pass
        return self.buf

    def wait_text(self, text, limit=30):
        end = time.monotonic() + limit
        while time.monotonic() < end:
            if text in self._fresh(0.05, len(self.buf)):
                self.seen = len(self.buf)
                return True
        return False

    def key(self, ch, limit=20):
        t0 = time.monotonic()
        self.proc.stdin.write(ch)
        self.proc.stdin.flush()
        checked = self.seen
        while time.monotonic() - t0 < limit:
            buf = self._fresh(0.05, checked)
            checked = len(buf)
            if ch in buf[self.seen:]:
                self.seen = len(buf)
                return time.monotonic() - t0
        return None


def type_during(t, stop, trips, missing):
    i = 0
    start = time.monotonic()
    while not stop.is_set():
        rtt = t.key(bytes([ord("a") + i % 26]))
        if rtt is None:
            missing[0] += 1
        else:
            trips.append(rtt)
        i += 1
        time.sleep(max(0.0, start + i * 0.05 - time.monotonic()))


def p99(v):
    v = sorted(v)
    return v[min(len(v) - 1, int(round(0.99 * (len(v) - 1))))]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mib", type=int, default=64)
    ap.add_argument("--rounds", type=int, default=7)
    ap.add_argument("--cipher", default="chacha20-poly1305@openssh.com")
    ap.add_argument("--vtsession", default=os.path.join(ROOT, "build", "tools", "vtsession"))
    ap.add_argument("--keystrokes", action="store_true")
    a = ap.parse_args()
    work = tempfile.mkdtemp(prefix="forward_bench_")
    capture = os.path.join(work, "vt.cap")

    payload = os.urandom(a.mib << 20)
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    service = listener.getsockname()[1]
    threading.Thread(target=serve, args=(listener, payload), daemon=True).start()

    fixture = [os.path.join(ROOT, "tests/ssh/peers/sshd_fixture.py"), "--user", USER, "--password", PASSWORD,
               "--timeout", "900", "--key", "ed25519", "--option", f"Ciphers {a.cipher}"]
    sshd = subprocess.Popen(["/usr/bin/python3"] + fixture, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    clients = []
    try:
        line = sshd.stdout.readline()
        if not line.startswith("PORT "):
            sys.exit("forward: sshd did not start")
        port = line.split()[1]
        ssh_port, vt_port = free_port(), free_port()
        ssh_shell = ["-tt", f"{USER}@127.0.0.1", READY] if a.keystrokes else ["-N", f"{USER}@127.0.0.1"]
        clients.append(subprocess.Popen(
            ["sshpass", "-p", PASSWORD, "ssh", "-p", port, "-c", a.cipher, "-oStrictHostKeyChecking=no",
             "-oUserKnownHostsFile=/dev/null", "-oLogLevel=ERROR", "-L", f"{ssh_port}:127.0.0.1:{service}"]
            + ssh_shell, stdin=subprocess.PIPE if a.keystrokes else subprocess.DEVNULL,
            stdout=subprocess.PIPE if a.keystrokes else None))
        vt_shell = ["--capture", capture, "--send", READY + "\\015", "--type-stdin"] if a.keystrokes else []
        clients.append(subprocess.Popen(
            [a.vtsession, "--host", "127.0.0.1", "--port", port, "--timeout", "900", "--set", "ssh=1", "--set",
             "ssh_type_1_2=1", "--set", "ssh_default=1", "--set", f"ssh_user={USER}", "--set",
             f"ssh_password={PASSWORD}", "--set", "ssh_algorithms=1", "--set", "ssh_check_host_key=0",
             "-L", f"{vt_port}:127.0.0.1:{service}", "--expect", "$ "] + vt_shell + ["--hold"],
            stdin=subprocess.PIPE if a.keystrokes else subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            env=dict(os.environ, QT_QPA_PLATFORM="offscreen")))
        if not (wait_port(ssh_port) and wait_port(vt_port)):
            sys.exit("forward: a tunnel did not open")
        sides = {"ssh -L": ssh_port, "vtsession -L": vt_port}
        times = {n: [] for n in sides}
        typists, idle, busy, missing = {}, {n: [] for n in sides}, {n: [] for n in sides}, {n: [0] for n in sides}
        if a.keystrokes:
            typists = {"ssh -L": typist(clients[0]), "vtsession -L": typist(clients[1], capture)}
            for n, t in typists.items():
                if not t.wait_text(b"ready\r\n"):
                    sys.exit(f"forward: the shell of {n} did not start")
            time.sleep(0.3)
            for n, t in typists.items():  # a quiet line first, for comparison
                for i in range(20):
                    rtt = t.key(b"0")
                    if rtt is None:
                        sys.exit(f"forward: {n} did not echo a key")
                    idle[n].append(rtt)
                    time.sleep(0.05)
        size = len(payload)
        for r in range(a.rounds):
            order = list(sides) if r % 2 == 0 else list(sides)[::-1]
            for n in order:
                stop = threading.Event()
                typing = None
                if a.keystrokes:
                    typing = threading.Thread(target=type_during, args=(typists[n], stop, busy[n], missing[n]))
                    typing.start()
                times[n].append(fetch(sides[n], size))
                if typing:
                    stop.set()
                    typing.join()
            print(f"  round {r + 1}: " + ", ".join(f"{n} {times[n][-1]:.2f} s" for n in sides), flush=True)
    finally:
        for c in clients:
            c.terminate()
            c.wait(timeout=10)
        sshd.stdin.close()
        sshd.wait(timeout=30)
        listener.close()

    mb = size / 1e6
    print(f"{a.cipher}, {mb:.1f} MB through a local forward, {a.rounds} rounds (min / median)")
    for n in sides:
        print(f"  {n:13s}: {min(times[n]):6.2f} / {statistics.median(times[n]):6.2f} s   "
              f"{mb / statistics.median(times[n]):7.1f} MB/s (median)")
    ratios = [s / v for s, v in zip(times["ssh -L"], times["vtsession -L"])]
    print(f"  ratio vtsession / ssh -L: median {statistics.median(ratios):.2f} "
          f"(min {min(ratios):.2f}, max {max(ratios):.2f})")
    if a.keystrokes:
        print("keystroke round trip, ms (min / median / p99)")
        for n in sides:
            line = f"  {n:13s}: idle {min(idle[n]) * 1e3:6.2f} / {statistics.median(idle[n]) * 1e3:6.2f} / " \
                   f"{p99(idle[n]) * 1e3:6.2f}"
            if busy[n]:
                line += f";  during transfers {min(busy[n]) * 1e3:6.2f} / {statistics.median(busy[n]) * 1e3:6.2f} / " \
                        f"{p99(busy[n]) * 1e3:6.2f} ({len(busy[n])} keys)"
            if missing[n][0]:
                line += f";  {missing[n][0]} keys never echoed"
            print(line)


if __name__ == "__main__":
    main()
