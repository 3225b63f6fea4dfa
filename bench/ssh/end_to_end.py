#!/usr/bin/python3
"""End-to-end SSH-2 receive speed: vtsession against a private sshd printing a text file, next to OpenSSH's own
client fetching the same file with the same cipher, in the same run. Each side's log-in cost is measured alone and
taken off. 3des-cbc runs the fixed legacy suite (sshd with the legacy algorithms added); any other cipher runs the
negotiated mode against a stock sshd told to offer only that cipher.

    end_to_end.py [--mib 64] [--cipher 3des-cbc|chacha20-poly1305@openssh.com|aes128-gcm@openssh.com|...]
                  [--vtsession build/tools/vtsession]
Prints the figures and the ratio (OpenSSH time / vtsession time: 1.0 means as fast).
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
USER, PASSWORD = "qtpeer", "Peer-pass-42"


def timed(argv, **kw):
    t0 = time.monotonic()
    r = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kw)
    dt = time.monotonic() - t0
    if r.returncode != 0:
        sys.exit(f"end_to_end: {argv[0]} failed: {r.stderr.decode(errors='replace')[-500:]}")
    return dt


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mib", type=int, default=64)
    ap.add_argument("--cipher", default="3des-cbc")
    ap.add_argument("--vtsession", default=os.path.join(ROOT, "build", "tools", "vtsession"))
    a = ap.parse_args()

    work = tempfile.mkdtemp(prefix="ssh_e2e_")
    data = os.path.join(work, "data.txt")
    line = b"-rw-r--r--  1 user group  48213 Dec  8 04:00 a-file-name-of-some-length.txt\n"
    with open(data, "wb") as f:
        f.write(line * (a.mib * 1024 * 1024 // len(line)))
    os.chmod(work, 0o755)
    os.chmod(data, 0o644)
    size = os.path.getsize(data)

    legacy = a.cipher == "3des-cbc"
    fixture = [os.path.join(ROOT, "tests/ssh/peers/sshd_fixture.py"), "--user", USER, "--password", PASSWORD,
               "--timeout", "900"]
    fixture += ["--legacy", "--key", "dsa"] if legacy else ["--key", "ed25519", "--option", f"Ciphers {a.cipher}"]
    sshd = subprocess.Popen(["/usr/bin/python3"] + fixture, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        port_line = sshd.stdout.readline()
        if not port_line.startswith("PORT "):
            sys.exit("end_to_end: sshd did not start")
        port = port_line.split()[1]
        ssh = ["sshpass", "-p", PASSWORD, "ssh", "-p", port, "-c", a.cipher, "-oStrictHostKeyChecking=no",
               "-oUserKnownHostsFile=/dev/null", "-oLogLevel=ERROR", f"{USER}@127.0.0.1"]
        if legacy:
            ssh[4:4] = ["-oKexAlgorithms=diffie-hellman-group1-sha1", "-oHostKeyAlgorithms=ssh-dss",
                        "-oMACs=hmac-sha1"]
        vt = [a.vtsession, "--host", "127.0.0.1", "--port", port, "--timeout", "900", "--set", "ssh=1", "--set",
              "ssh_type_1_2=1", "--set", "ssh_encryption=1", "--set", "ssh_default=1", "--set", f"ssh_user={USER}",
              "--set", f"ssh_password={PASSWORD}", "--set", f"ssh_algorithms={0 if legacy else 1}", "--set",
              "ssh_check_host_key=0", "--expect", "$ "]
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")

        ssh_base = min(timed(ssh + ["true"]) for _ in range(2))
        ssh_full = timed(ssh + ["cat", data])
        # The same through a pseudo-terminal on the host, as every terminal session runs.
        ssh_tty = ssh[:4] + ["-tt"] + ssh[4:]
        ssh_tty_full = timed(ssh_tty + ["cat", data])
        ssh_tty_base = min(timed(ssh_tty + ["true"]) for _ in range(2))
        vt_base = min(timed(vt + ["--send", "true\\015"], env=env) for _ in range(2))
        vt_full = timed(vt + ["--send", f"cat {data}\\015"], env=env)
    finally:
        sshd.stdin.close()
        sshd.wait(timeout=30)
        os.unlink(data)
        os.rmdir(work)

    ssh_s = max(ssh_full - ssh_base, 1e-3)
    tty_s = max(ssh_tty_full - ssh_tty_base, 1e-3)
    vt_s = max(vt_full - vt_base, 1e-3)
    mb = size / 1e6
    print(f"{a.cipher}, {mb:.1f} MB of text")
    print(f"  OpenSSH client (cat > /dev/null): {ssh_s:7.2f} s  {mb / ssh_s:7.1f} MB/s")
    print(f"  OpenSSH client -tt (host pty)   : {tty_s:7.2f} s  {mb / tty_s:7.1f} MB/s")
    print(f"  vtsession (host pty, emulator)  : {vt_s:7.2f} s  {mb / vt_s:7.1f} MB/s")
    print(f"  ratio vtsession / OpenSSH        : {ssh_s / vt_s:.2f}")
    print(f"  ratio vtsession / OpenSSH -tt    : {tty_s / vt_s:.2f}")


if __name__ == "__main__":
    main()
