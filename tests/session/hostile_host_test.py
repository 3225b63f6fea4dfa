#!/usr/bin/env python3
"""vtsession against a hostile host (data/hostile_peer.py) on loopback.

  hostile_host_test.py VTSESSION

Each scenario must end by itself (the host closes, the client notices), the line the host sends after the attack
must be on the screen, and the client's peak memory must stay bounded whatever the host sent.
"""
import os
import resource
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PEER = os.path.join(HERE, "data", "hostile_peer.py")
PEAK_LIMIT_KB = 60 * 1024
TIME_LIMIT_S = 90

# scenario, megabytes sent, text that must be on the final screen
SCENARIOS = [
    ("flood", 256, "AFTER-ATTACK"),
    ("subneg", 64, "AFTER-ATTACK"),
    ("iac", 8, "AFTER-ATTACK"),
    ("params", 16, "AFTER-ATTACK"),
    ("printer", 128, "AFTER-ATTACK"),
    ("reset", 0, "AFTER-ATTACK"),
    ("drip", 0, "AFTER-ATTACK"),
]


def run(vtsession, scenario, megabytes, expect):
    peer = subprocess.Popen([sys.executable, PEER, scenario, str(megabytes)], stdout=subprocess.PIPE, text=True)
    try:
        port = peer.stdout.readline().strip()
        if not port:
            return "the peer did not start"
        started = time.monotonic()
        errfile = tempfile.TemporaryFile()
        client = subprocess.Popen([vtsession, "--host", "127.0.0.1", "--port", port, "--timeout", str(TIME_LIMIT_S)],
                                  stdout=subprocess.PIPE, stderr=errfile)
        # wait4 gives this child's own peak memory; communicate() would reap it first.
        out_chunks = []
        deadline = started + TIME_LIMIT_S + 15
        os.set_blocking(client.stdout.fileno(), False)
        while True:
            pid, status, usage = os.wait4(client.pid, os.WNOHANG)
            try:
                chunk = client.stdout.read()
                if chunk:
                    out_chunks.append(chunk)
            except BlockingIOError:
                pass
            if pid:
                break
            if time.monotonic() > deadline:
                client.kill()
                os.wait4(client.pid, 0)
                return "the session never ended"
            time.sleep(0.05)
        client.returncode = os.waitstatus_to_exitcode(status)
        rest = client.stdout.read()
        if rest:
            out_chunks.append(rest)
        screen = b"".join(out_chunks).decode("latin-1")
        errfile.seek(0)
        errors = errfile.read().decode("latin-1")
        elapsed = time.monotonic() - started
        peak_kb = usage.ru_maxrss
        print(f"{scenario:8s} {megabytes:4d} MB  {elapsed:6.2f} s  peak {peak_kb / 1024:6.1f} MB")
        if client.returncode != 0:
            return f"vtsession exited with {client.returncode}: {errors.strip()}"
        if elapsed > TIME_LIMIT_S:
            return f"the session took {elapsed:.1f} s"
        if expect not in screen:
            return f"{expect!r} is not on the screen:\n{screen}"
        if errors.count("\n") > 10:
            return f"a storm of messages the user would have to click away:\n{errors[:2000]}"
        if peak_kb > PEAK_LIMIT_KB:
            return f"peak memory {peak_kb} kB is over {PEAK_LIMIT_KB} kB"
        return None
    finally:
        peer.kill()
        peer.wait()


def main():
    vtsession = sys.argv[1]
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    failures = 0
    for scenario, megabytes, expect in SCENARIOS:
        problem = run(vtsession, scenario, megabytes, expect)
        if problem:
            failures += 1
            print(f"FAILED {scenario}: {problem}")
    passed = len(SCENARIOS) - failures
    print(f"{passed} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
