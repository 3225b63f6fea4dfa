#!/usr/bin/python3
"""A private OpenSSH sshd on 127.0.0.1 for tests.

Makes a temporary folder with a host key and an sshd_config, makes sure the test account exists with the given
password, starts sshd in the foreground on a free port and prints "PORT <n>" once it accepts connections. sshd is
stopped (by PID) and the folder removed when standard input closes or the hard timeout passes.

    sshd_fixture.py [--key dsa|rsa|ecdsa|ed25519] [--legacy] [--user NAME] [--password PW]
                    [--option 'RekeyLimit 1M']... [--timeout S] [--keep-log FILE]
"""
import argparse
import ctypes
import fcntl
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

PR_SET_PDEATHSIG = 1

LEGACY = [
    "HostKeyAlgorithms +ssh-dss",
    "KexAlgorithms +diffie-hellman-group1-sha1",
    "Ciphers +3des-cbc",
    "MACs +hmac-sha1",
]


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5) as s:
            s.settimeout(2)
            return s.recv(4).startswith(b"SSH-")
    except OSError:
        return False


def ensure_account(user, password):
    # Fixtures of tests running side by side would race on useradd and on the shadow file's lock.
    with open("/tmp/sshd_fixture.account.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if subprocess.run(["id", "-u", user], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            subprocess.run(["useradd", "-m", "-s", "/bin/sh", user], check=True)
        subprocess.run(["chpasswd"], input=f"{user}:{password}\n".encode(), check=True)


def write_config(folder, port, key_file, legacy, options):
    # sshd takes the first value of a keyword, so the caller's options come first and override the defaults.
    lines = list(options) + [
        f"Port {port}",
        "ListenAddress 127.0.0.1",
        f"HostKey {key_file}",
        "PasswordAuthentication yes",
        "KbdInteractiveAuthentication no",
        "UsePAM no",
        "PrintMotd no",
        "PrintLastLog no",
        "UseDNS no",
        "LogLevel DEBUG1",
        f"PidFile {folder}/sshd.pid",
    ]
    if legacy:
        lines += LEGACY
    path = os.path.join(folder, "sshd_config")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return path


def die_with_parent():
    """sshd runs in a session of its own; should this script be killed outright, the listener goes too."""
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def start(folder, key_file, legacy, options):
    """sshd on a free port; a port taken between the probe and sshd's bind gets another try."""
    for _ in range(5):
        port = free_port()
        config = write_config(folder, port, key_file, legacy, options)
        log = os.path.join(folder, "sshd.log")
        proc = subprocess.Popen(["/usr/sbin/sshd", "-D", "-f", config, "-E", log],
                                stdin=subprocess.DEVNULL, start_new_session=True, preexec_fn=die_with_parent)
        end = time.monotonic() + 10
        while time.monotonic() < end and proc.poll() is None:
            if accepts(port):
                return proc, port
            time.sleep(0.05)
        stop(proc)
    return None, None


def stop(proc):
    if proc is None or proc.poll() is not None:
        return
    # sshd -D runs in its own session: the group holds the listener and its per-connection children.
    try:
        os.killpg(proc.pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    try:
        proc.wait(3)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--key", default="dsa", choices=["dsa", "rsa", "ecdsa", "ed25519"])
    ap.add_argument("--legacy", action="store_true")
    ap.add_argument("--user", default="qtpeer")
    ap.add_argument("--password", default="Peer-pass-42")
    ap.add_argument("--option", action="append", default=[])
    ap.add_argument("--timeout", type=float, default=120)
    ap.add_argument("--keep-log", help="copy sshd's log here before the folder goes")
    a = ap.parse_args()

    folder = tempfile.mkdtemp(prefix="sshd_fixture_")
    proc = None
    try:
        os.makedirs("/run/sshd", exist_ok=True)
        ensure_account(a.user, a.password)
        key_file = os.path.join(folder, "host_" + a.key)
        subprocess.run(["ssh-keygen", "-q", "-t", a.key, "-N", "", "-f", key_file], check=True,
                       stdout=subprocess.DEVNULL)
        proc, port = start(folder, key_file, a.legacy, a.option)
        if proc is None:
            sys.stderr.write("sshd_fixture: sshd did not start\n")
            log = os.path.join(folder, "sshd.log")
            if os.path.exists(log):
                sys.stderr.write(open(log, errors="replace").read())
            return 1
        print(f"PORT {port}", flush=True)
        end = time.monotonic() + a.timeout
        while True:
            left = end - time.monotonic()
            if left <= 0 or proc.poll() is not None:
                break
            r, _, _ = select.select([sys.stdin], [], [], min(left, 1.0))
            if r and not os.read(sys.stdin.fileno(), 4096):
                break
        return 0
    finally:
        stop(proc)
        if a.keep_log and os.path.exists(os.path.join(folder, "sshd.log")):
            shutil.copyfile(os.path.join(folder, "sshd.log"), a.keep_log)
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    sys.exit(main())
