#!/usr/bin/python3
"""End-to-end SSH-2 receive speed: vtsession against a private sshd printing a text file, next to OpenSSH's own
client fetching the same file with the same cipher, in the same run. Each side's log-in cost is measured alone and
taken off. 3des-cbc runs the fixed legacy suite (sshd with the legacy algorithms added); any other cipher runs the
negotiated mode against a stock sshd told to offer only that cipher.

The sides are interleaved (the order alternates from round to round) and repeated, so a busy moment of the machine
falls on both; each prints its min and median time, throughput and client CPU time (user + system of the client
process alone), and the ratios are the median of the per-round ratios.

    end_to_end.py [--mib 64] [--rounds 5] [--cipher 3des-cbc|chacha20-poly1305@openssh.com|aes128-gcm@openssh.com|...]
                  [--sshd-option 'RekeyLimit 64K']... [--vtsession build/tools/vtsession] [--compare OTHER_VTSESSION]
                  [--compare-set KEY=VALUE]... [--size ROWSxCOLS]
A ratio is OpenSSH time / vtsession time: 1.0 means as fast. --compare-set gives the compared side settings of its
own (the same binary with scrollback_lines=100000, say); the CPU ratios then tell what they cost the client.
--size gives the vtsession sides a grid that their emulators take (the screen following the window).
"""
import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
USER, PASSWORD = "qtpeer", "Peer-pass-42"


def timed(argv, **kw):
    """Wall time and the CPU time (user + system) of the finished child."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.monotonic()
    r = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kw)
    dt = time.monotonic() - t0
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if r.returncode != 0:
        sys.exit(f"end_to_end: {argv[0]} failed: {r.stderr.decode(errors='replace')[-500:]}")
    return dt, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mib", type=int, default=64)
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--sshd-option", action="append", default=[],
                    help="an sshd_config line for the server, e.g. 'RekeyLimit 64K' for many re-exchanges")
    ap.add_argument("--cipher", default="3des-cbc")
    ap.add_argument("--vtsession", default=os.path.join(ROOT, "build", "tools", "vtsession"))
    ap.add_argument("--compare", metavar="OTHER_VTSESSION",
                    help="a second vtsession binary (an older build, say) run as one more interleaved side")
    ap.add_argument("--compare-set", action="append", default=[], metavar="KEY=VALUE",
                    help="a setting for the compared side only")
    ap.add_argument("--size", metavar="ROWSxCOLS", help="the vtsession sides' grid (60x200, say)")
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
    for o in a.sshd_option:
        fixture += ["--option", o]
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
        if a.size:
            vt[1:1] = ["--size", a.size]
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")

        # The same through a pseudo-terminal on the host, as every terminal session runs.
        ssh_tty = ssh[:4] + ["-tt"] + ssh[4:]
        sides = {
            "ssh": (ssh + ["true"], ssh + ["cat", data], {}),
            "ssh -tt": (ssh_tty + ["true"], ssh_tty + ["cat", data], {}),
            "vtsession": (vt + ["--send", "true\\015"], vt + ["--send", f"cat {data}\\015"], {"env": env}),
        }
        if a.compare:
            other = [a.compare] + vt[1:-2]
            for kv in a.compare_set:
                other += ["--set", kv]
            other += vt[-2:]
            sides["compared"] = (other + ["--send", "true\\015"], other + ["--send", f"cat {data}\\015"], {"env": env})
        names = list(sides)
        runs = {n: [] for n in names}  # (seconds, cpu seconds) with the log-in taken off
        for rnd in range(a.rounds):
            order = names if rnd % 2 == 0 else names[::-1]
            for n in order:
                base_argv, full_argv, kw = sides[n]
                base, base_cpu = timed(base_argv, **kw)
                full, full_cpu = timed(full_argv, **kw)
                runs[n].append((max(full - base, 1e-3), max(full_cpu - base_cpu, 0.0)))
            print(f"  round {rnd + 1}: " + ", ".join(f"{n} {runs[n][-1][0]:.2f} s" for n in names), flush=True)
    finally:
        sshd.stdin.close()
        sshd.wait(timeout=30)
        os.unlink(data)
        os.rmdir(work)

    mb = size / 1e6
    print(f"{a.cipher}, {mb:.1f} MB of text, {a.rounds} rounds (min / median)")
    for n in names:
        secs = [s for s, _ in runs[n]]
        cpu = [c for _, c in runs[n]]
        print(f"  {n:10s}: {min(secs):6.2f} / {statistics.median(secs):6.2f} s   "
              f"{mb / statistics.median(secs):7.1f} MB/s (median)   client CPU {min(cpu):5.2f} / "
              f"{statistics.median(cpu):5.2f} s")
    for ref in [n for n in names if n != "vtsession"]:
        ratios = [r[0] / v[0] for r, v in zip(runs[ref], runs["vtsession"])]
        print(f"  ratio vtsession / {ref:8s}: median {statistics.median(ratios):.2f} "
              f"(min {min(ratios):.2f}, max {max(ratios):.2f})")
    if a.compare:
        cpu = [r[1] / v[1] for r, v in zip(runs["compared"], runs["vtsession"]) if v[1] > 0]
        if cpu:
            print(f"  client CPU compared / vtsession: median {statistics.median(cpu):.2f} "
                  f"(min {min(cpu):.2f}, max {max(cpu):.2f})")


if __name__ == "__main__":
    main()
