#!/usr/bin/python3
"""A UTF-8 host through vtsession with utf8=1: `ls` of UTF-8 file names and the start of `man ls` under
LANG=C.UTF-8, from telnetd behind socat on loopback, compared line by line with what the same commands print here.

  utf8_session_test.py VTSESSION
"""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

NAMES = ["Gr\u00fc\u00dfe.txt", "\u041f\u0440\u0438\u0432\u0435\u0442", "\u4e2d\u6587\u540d.txt", "caf\u00e9"]
ENV = {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8", "MANWIDTH": "80", "MANPAGER": "cat",
       "PATH": "/usr/local/bin:/usr/bin:/bin"}
MAN_LINES = 12


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def expected_lines(names_dir):
    ls = subprocess.run(["ls", "-1"], cwd=names_dir, env=ENV, capture_output=True, check=True).stdout
    man = subprocess.run("man ls 2>/dev/null | head -n %d" % MAN_LINES, shell=True, env=ENV,
                         capture_output=True).stdout
    return [line.rstrip() for line in (ls + man).decode("utf-8").split("\n")[:-1]]


def main():
    vtsession = sys.argv[1]
    for tool in ("socat", "man"):
        if not shutil.which(tool) or not os.path.exists("/usr/sbin/telnetd"):
            # The full run (scripts/test.sh) demands every peer.
            required = os.environ.get("QTELNET_REQUIRE_PEERS", "") not in ("", "0")
            print(("FAILED" if required else "skipped") + ": socat, man or telnetd missing")
            return 1 if required else 0
    work = tempfile.mkdtemp(prefix="utf8_session_")
    names_dir = os.path.join(work, "names")
    os.mkdir(names_dir)
    for n in NAMES:
        open(os.path.join(names_dir, n), "w").close()
    script = os.path.join(work, "host.sh")
    with open(script, "w") as f:
        f.write("#!/bin/sh\n")
        f.write("".join("export %s='%s'\n" % kv for kv in ENV.items()))
        f.write("cd '%s'\nls -1 | cat\nman ls 2>/dev/null | head -n %d\nprintf 'end> '\nsleep 1\n" %
                (names_dir, MAN_LINES))
    os.chmod(script, 0o700)
    expect = expected_lines(names_dir)
    failures = []
    if len(expect) == len(NAMES):
        print("note: no manual page of ls here (an image without manuals); only the file names are compared")
    elif not any(any(ord(ch) > 0x7F for ch in line) for line in expect[len(NAMES):]):
        failures.append("the man page lines hold no non-ASCII character; the comparison would prove little")

    port = free_port()
    peer = subprocess.Popen(["socat", "TCP-LISTEN:%d,bind=127.0.0.1,reuseaddr,fork" % port,
                             "EXEC:/usr/sbin/telnetd -h -E " + script],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            with socket.socket() as s:
                if s.connect_ex(("127.0.0.1", port)) == 0:
                    break
            time.sleep(0.05)
        r = subprocess.run([vtsession, "--host", "127.0.0.1", "--port", str(port), "--timeout", "20", "--json",
                            "--set", "utf8=1", "--expect", "end>"], capture_output=True, timeout=60)
        if r.returncode != 0:
            failures.append("vtsession failed: %s" % r.stderr.decode(errors="replace"))
        else:
            screen = json.loads(r.stdout.decode("utf-8"))
            texts = [line["text"].rstrip() for line in screen["lines"]]
            try:
                start = texts.index(expect[0])
            except ValueError:
                start = -1
            if start < 0 or texts[start:start + len(expect)] != expect:
                failures.append("screen differs from the host's output:\n  expected %r\n  screen   %r" %
                                (expect, texts))
            for line in screen["lines"]:
                if line["text"].startswith(NAMES[2]):
                    # Three wide characters: three cells more than characters in text, one attrs entry per cell.
                    if len(line["attrs"]) != 80 or len(line["text"]) != 80 - 3:
                        failures.append("wide line: %d attrs, text %r" % (len(line["attrs"]), line["text"]))
    finally:
        peer.kill()
        peer.wait()
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
