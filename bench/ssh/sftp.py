#!/usr/bin/python3
"""SFTP throughput: vtsession --get/--put against OpenSSH's sftp and scp, all through the same private stock sshd
(internal-sftp, told to offer only the cipher measured) on loopback. Each round moves the same N MiB file down and up once with each client,
the order rotating, so a busy moment of the machine falls on all of them. Prints min and median seconds and MB/s
per client and direction, and the median of the per-round ratios (other client's time / vtsession's: 1.0 means as
fast, above 1 faster).

    sftp.py [--mib 300] [--rounds 5] [--cipher chacha20-poly1305@openssh.com --cipher aes128-gcm@openssh.com]
            [--vtsession build/tools/vtsession]
"""
import argparse
import filecmp
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
USER, PASSWORD = "qtpeer", "Peer-pass-42"


def timed(cmd, env=None):
    t = time.perf_counter()
    r = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env, timeout=600)
    took = time.perf_counter() - t
    if r.returncode != 0:
        sys.exit(f"failed ({r.returncode}): {' '.join(cmd)}\n{r.stderr.decode(errors='replace')[-2000:]}")
    return took


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mib", type=int, default=300)
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--cipher", action="append")
    ap.add_argument("--vtsession", default=os.path.join(ROOT, "build/tools/vtsession"))
    a = ap.parse_args()
    ciphers = a.cipher or ["chacha20-poly1305@openssh.com", "aes128-gcm@openssh.com"]
    sshd = None
    work = tempfile.mkdtemp(prefix="sftp_bench_")
    remote_dir = f"/home/{USER}/sftp_bench_{os.getpid()}"
    os.makedirs(remote_dir, exist_ok=True)
    src = os.path.join(remote_dir, "src")
    with open(src, "wb") as f:
        for _ in range(a.mib):
            f.write(os.urandom(1 << 20))
    up_src = os.path.join(work, "up_src")
    shutil.copyfile(src, up_src)
    subprocess.run(["chown", "-R", USER, remote_dir], check=True)
    rel = os.path.basename(remote_dir)
    try:
        for cipher in ciphers:
            fixture = ["/usr/bin/python3", os.path.join(ROOT, "tests/ssh/peers/sshd_fixture.py"), "--key", "ed25519",
                       "--user", USER, "--password", PASSWORD, "--timeout", "3600", "--option",
                       "Subsystem sftp internal-sftp", "--option", f"Ciphers {cipher}"]
            sshd = subprocess.Popen(fixture, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
            line = sshd.stdout.readline()
            if not line.startswith("PORT "):
                sys.exit("sshd did not start")
            port = line.split()[1]
            vt = [a.vtsession, "--host", "127.0.0.1", "--port", port, "--timeout", "600", "--set", "ssh=1", "--set",
                  "ssh_type_1_2=1", "--set", "ssh_default=1", "--set", f"ssh_user={USER}", "--set",
                  f"ssh_password={PASSWORD}", "--set", "ssh_algorithms=1", "--set", "ssh_check_host_key=0",
                  ]
            opts = ["-oStrictHostKeyChecking=no", "-oUserKnownHostsFile=/dev/null", "-oLogLevel=ERROR",
                    "-c", cipher, "-P", port]
            sp = ["sshpass", "-p", PASSWORD]
            clients = {
                "vtsession": {
                    "down": lambda dst: vt + ["--get", f"{rel}/src", dst],
                    "up": lambda: vt + ["--put", up_src, f"{rel}/up"]},
                "sftp": {
                    "down": lambda dst: sp + ["sftp", "-q"] + opts + [f"{USER}@127.0.0.1"],
                    "up": lambda: sp + ["sftp", "-q"] + opts + [f"{USER}@127.0.0.1"]},
                "scp": {
                    "down": lambda dst: sp + ["scp", "-q"] + opts + [f"{USER}@127.0.0.1:{rel}/src", dst],
                    "up": lambda: sp + ["scp", "-q"] + opts + [up_src, f"{USER}@127.0.0.1:{rel}/up"]},
            }
            times = {(c, d): [] for c in clients for d in ("down", "up")}
            names = list(clients)
            for rnd in range(a.rounds):
                order = names[rnd % len(names):] + names[:rnd % len(names)]
                for c in order:
                    for d in ("down", "up"):
                        dst = os.path.join(work, f"dst_{c}")
                        if os.path.exists(dst):
                            os.remove(dst)
                        cmd = clients[c][d](dst) if d == "down" else clients[c][d]()
                        if c == "sftp":
                            batch = (f"get {rel}/src {dst}\n" if d == "down" else f"put {up_src} {rel}/up\n")
                            t = time.perf_counter()
                            r = subprocess.run(cmd, input=batch.encode(), stdout=subprocess.DEVNULL,
                                               stderr=subprocess.PIPE, timeout=600)
                            took = time.perf_counter() - t
                            if r.returncode != 0:
                                sys.exit(f"sftp failed: {r.stderr.decode(errors='replace')}")
                        else:
                            took = timed(cmd)
                        if d == "down" and not filecmp.cmp(src, dst, shallow=False):
                            sys.exit(f"{c}: the download differs")
                        if d == "up" and not filecmp.cmp(up_src, os.path.join(remote_dir, "up"), shallow=False):
                            sys.exit(f"{c}: the upload differs")
                        times[(c, d)].append(took)
            print(f"== {cipher}, {a.mib} MiB, {a.rounds} rounds")
            for d in ("down", "up"):
                for c in names:
                    v = times[(c, d)]
                    print(f"  {d:4} {c:9} min {min(v):6.2f} s  median {statistics.median(v):6.2f} s  "
                          f"best {a.mib * 1.048576 / min(v):7.1f} MB/s")
                for c in names[1:]:
                    ratios = [o / m for o, m in zip(times[(c, d)], times[("vtsession", d)])]
                    print(f"  {d:4} {c} / vtsession per-round ratio median {statistics.median(ratios):.2f} "
                          f"(vtsession at {statistics.median(ratios):.2f}x of {c}'s speed)")
            sshd.stdin.close()
            sshd.wait(timeout=30)
            sshd = None
    finally:
        if sshd:
            sshd.stdin.close()
            sshd.wait(timeout=30)
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(remote_dir, ignore_errors=True)


if __name__ == "__main__":
    main()
