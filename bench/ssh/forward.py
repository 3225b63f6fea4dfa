#!/usr/bin/python3
"""Local-forward throughput: vtsession -L against OpenSSH's ssh -L, both through the same private stock sshd to the
same loopback service, which sends N MiB to each connection and closes. Both tunnels stay up for the whole run;
each round reads the data once through each (the order alternates), so a busy moment of the machine falls on both.
Prints min and median seconds and MB/s per side and the median of the per-round ratios (ssh time / vtsession time:
1.0 means as fast).

    forward.py [--mib 64] [--rounds 7] [--cipher chacha20-poly1305@openssh.com] [--vtsession build/tools/vtsession]
"""
import argparse
import os
import socket
import statistics
import subprocess
import sys
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


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mib", type=int, default=64)
    ap.add_argument("--rounds", type=int, default=7)
    ap.add_argument("--cipher", default="chacha20-poly1305@openssh.com")
    ap.add_argument("--vtsession", default=os.path.join(ROOT, "build", "tools", "vtsession"))
    a = ap.parse_args()

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
        clients.append(subprocess.Popen(
            ["sshpass", "-p", PASSWORD, "ssh", "-N", "-p", port, "-c", a.cipher, "-oStrictHostKeyChecking=no",
             "-oUserKnownHostsFile=/dev/null", "-oLogLevel=ERROR", "-L", f"{ssh_port}:127.0.0.1:{service}",
             f"{USER}@127.0.0.1"], stdin=subprocess.DEVNULL))
        clients.append(subprocess.Popen(
            [a.vtsession, "--host", "127.0.0.1", "--port", port, "--timeout", "900", "--set", "ssh=1", "--set",
             "ssh_type_1_2=1", "--set", "ssh_default=1", "--set", f"ssh_user={USER}", "--set",
             f"ssh_password={PASSWORD}", "--set", "ssh_algorithms=1", "--set", "ssh_check_host_key=0",
             "-L", f"{vt_port}:127.0.0.1:{service}", "--expect", "$ ", "--hold"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, env=dict(os.environ, QT_QPA_PLATFORM="offscreen")))
        if not (wait_port(ssh_port) and wait_port(vt_port)):
            sys.exit("forward: a tunnel did not open")
        sides = {"ssh -L": ssh_port, "vtsession -L": vt_port}
        times = {n: [] for n in sides}
        size = len(payload)
        for r in range(a.rounds):
            order = list(sides) if r % 2 == 0 else list(sides)[::-1]
            for n in order:
                times[n].append(fetch(sides[n], size))
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


if __name__ == "__main__":
    main()
