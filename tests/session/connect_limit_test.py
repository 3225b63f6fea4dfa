#!/usr/bin/env python3
"""vtsession against loopback listeners that never let a session be set up, with a short connect_timeout.

  connect_limit_test.py VTSESSION

A host that accepts and then says nothing (SSH-2 and SSH-1) and a listener whose accept queue is full (the
connect itself hangs) must each end within a few seconds with a message naming the cause; without the limit
the same silent host is still being waited for when vtsession's own time runs out.
"""
import socket
import subprocess
import sys
import threading
import time

LIMIT_S = 2
SLACK_S = 6  # start-up and a loaded machine


def silent_listener():
    """Accepts every connection, reads and keeps it, never sends a byte."""
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.bind(("127.0.0.1", 0))
    srv.listen(8)
    kept = []

    def serve():
        while True:
            try:
                conn, _ = srv.accept()
            except OSError:
                return
            conn.settimeout(0.1)
            kept.append(conn)

    threading.Thread(target=serve, daemon=True).start()
    return srv, kept


def full_listener():
    """A listener that never accepts, its queue filled by one connection: further connects hang (SYN dropped)."""
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.bind(("127.0.0.1", 0))
    srv.listen(0)
    fillers = []
    port = srv.getsockname()[1]
    for _ in range(2):
        c = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        c.settimeout(0.5)
        try:
            c.connect(("127.0.0.1", port))
        except OSError:
            pass
        fillers.append(c)
    probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    probe.settimeout(1.0)
    try:
        probe.connect(("127.0.0.1", port))
        hangs = False
    except socket.timeout:
        hangs = True
    except OSError:
        hangs = False
    fillers.append(probe)
    return srv, fillers, hangs


def run(vtsession, port, sets, timeout_s):
    args = [vtsession, "--host", "127.0.0.1", "--port", str(port), "--expect", "NEVER-SHOWN", "--timeout",
            str(timeout_s)]
    for s in sets:
        args += ["--set", s]
    started = time.monotonic()
    p = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=timeout_s + 30)
    return p.returncode, time.monotonic() - started, p.stderr


def main():
    vtsession = sys.argv[1]
    failures = []

    def check(name, ok, detail):
        print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + detail))
        if not ok:
            failures.append(name)

    srv, kept = silent_listener()
    port = srv.getsockname()[1]
    limit = "connect_timeout=%d" % LIMIT_S
    cases = [
        ("silent SSH-2 host", ["ssh=1", "ssh_type_1_2=1", limit],
         "127.0.0.1:%d did not complete the SSH key exchange within %d s." % (port, LIMIT_S)),
        ("silent SSH-1 host", ["ssh=1", "ssh_type_1_2=0", limit],
         "127.0.0.1:%d did not complete the SSH key exchange within %d s." % (port, LIMIT_S)),
    ]
    for name, sets, cause in cases:
        rc, took, err = run(vtsession, port, sets, 30)
        check(name, rc != 0 and took < LIMIT_S + SLACK_S and cause in err,
              "rc %d after %.1f s, stderr %r" % (rc, took, err))
        print("     ended after %.2f s" % took)

    # Control: the same host without a limit is still waited for when vtsession's own time runs out.
    rc, took, err = run(vtsession, port, ["ssh=1", "ssh_type_1_2=1", "connect_timeout=0"], 4)
    check("no limit: still waiting", rc != 0 and took >= 3.5 and "timed out" in err and "within" not in err,
          "rc %d after %.1f s, stderr %r" % (rc, took, err))
    srv.close()

    full, fillers, hangs = full_listener()
    if not hangs:
        print("skip connect that hangs: this system answers a full accept queue")
    else:
        rc, took, err = run(vtsession, full.getsockname()[1], [limit], 30)
        check("connect that hangs",
              rc != 0 and took < LIMIT_S + SLACK_S and
              "No answer from 127.0.0.1:%d: timed out after %d s." % (full.getsockname()[1], LIMIT_S) in err,
              "rc %d after %.1f s, stderr %r" % (rc, took, err))
        print("     ended after %.2f s" % took)
    for c in fillers:
        c.close()
    full.close()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
