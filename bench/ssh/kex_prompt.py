#!/usr/bin/python3
"""Time to prompt for each key exchange method: vtsession signing on to a private stock sshd offering only that
method until the shell's prompt, then exit; next to OpenSSH's ssh with the same -oKexAlgorithms= through a
pseudo-terminal (its exit typed ahead, which the shell reads once it is ready). Both sign on by password with no
key files or agent to try first.

The two sides alternate in order from round to round; each method prints the median of its rounds for each side
and the median of the per-round ratios (ssh time / vtsession time: 1.0 means as fast, below 1 we are slower).

    kex_prompt.py [--rounds 7] [--kex NAME]... [--vtsession build/tools/vtsession]
Methods this machine's OpenSSH lacks (ssh -Q kex) are skipped and named.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
USER, PASSWORD = "qtpeer", "Peer-pass-42"
METHODS = [
    "mlkem768x25519-sha256",
    "sntrup761x25519-sha512",
    "sntrup761x25519-sha512@openssh.com",
    "curve25519-sha256",
    "ecdh-sha2-nistp256",
    "ecdh-sha2-nistp521",
    "diffie-hellman-group-exchange-sha256",
    "diffie-hellman-group14-sha256",
    "diffie-hellman-group16-sha512",
    "diffie-hellman-group18-sha512",
]


def timed(argv, **kw):
    t0 = time.monotonic()
    r = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60, **kw)
    dt = time.monotonic() - t0
    if r.returncode != 0:
        sys.exit(f"kex_prompt: {argv[0]} failed ({r.returncode}): {r.stderr.decode(errors='replace')[-500:]}")
    return dt


def one_method(kex, a, env):
    fixture = [sys.executable, os.path.join(ROOT, "tests/ssh/peers/sshd_fixture.py"), "--user", USER, "--password",
               PASSWORD, "--key", "ed25519", "--timeout", "900", "--option", f"KexAlgorithms {kex}"]
    sshd = subprocess.Popen(fixture, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        port_line = sshd.stdout.readline()
        if not port_line.startswith("PORT "):
            sys.exit("kex_prompt: sshd did not start")
        port = port_line.split()[1]
        ssh = ["sshpass", "-p", PASSWORD, "ssh", "-F", "/dev/null", "-tt", "-p", port, f"-oKexAlgorithms={kex}",
               "-oStrictHostKeyChecking=no", "-oUserKnownHostsFile=/dev/null", "-oLogLevel=ERROR",
               "-oPubkeyAuthentication=no", "-oIdentityAgent=none", f"{USER}@127.0.0.1"]
        vt = [a.vtsession, "--host", "127.0.0.1", "--port", port, "--timeout", "60", "--set", "ssh=1", "--set",
              "ssh_type_1_2=1", "--set", "ssh_default=1", "--set", f"ssh_user={USER}", "--set",
              f"ssh_password={PASSWORD}", "--set", "ssh_algorithms=1", "--set", "ssh_check_host_key=0", "--expect",
              "$ ", "--send", "exit\\015"]
        sides = {
            "vtsession": lambda: timed(vt, env=env),
            "ssh": lambda: timed(ssh, input=b"exit\n", env=env),
        }
        names = list(sides)
        runs = {n: [] for n in names}
        for rnd in range(a.rounds):
            for n in names if rnd % 2 == 0 else names[::-1]:
                runs[n].append(sides[n]())
    finally:
        sshd.stdin.close()
        sshd.wait(timeout=30)
    return runs


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rounds", type=int, default=7)
    ap.add_argument("--kex", action="append", help="a method (all of METHODS when none is given)")
    ap.add_argument("--vtsession", default=os.path.join(ROOT, "build", "tools", "vtsession"))
    a = ap.parse_args()
    known = subprocess.run(["ssh", "-Q", "kex"], capture_output=True, text=True).stdout.split()
    home = tempfile.mkdtemp(prefix="kex_prompt_")
    # No key files, agent or known_hosts of the runner's on either side.
    env = {k: v for k, v in os.environ.items() if k != "SSH_AUTH_SOCK"}
    env.update(HOME=home, XDG_STATE_HOME=os.path.join(home, "state"), QT_QPA_PLATFORM="offscreen")
    print(f"time to prompt, {a.rounds} rounds interleaved, medians (ratio = ssh / vtsession)")
    try:
        for kex in a.kex or METHODS:
            if kex not in known:
                print(f"  {kex:38s} skipped: this OpenSSH lacks it")
                continue
            runs = one_method(kex, a, env)
            ratios = [s / v for s, v in zip(runs["ssh"], runs["vtsession"])]
            print(f"  {kex:38s} vtsession {statistics.median(runs['vtsession']) * 1000:6.1f} ms   "
                  f"ssh {statistics.median(runs['ssh']) * 1000:6.1f} ms   ratio {statistics.median(ratios):.2f} "
                  f"(min {min(ratios):.2f}, max {max(ratios):.2f})", flush=True)
    finally:
        subprocess.run(["rm", "-rf", home])


if __name__ == "__main__":
    main()
