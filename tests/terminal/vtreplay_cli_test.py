#!/usr/bin/env python3
"""Command-line behaviour of vtreplay: output shapes, options, standard input, errors."""
import json
import subprocess
import sys
import tempfile
import os

tool, demo, corpus = sys.argv[1], sys.argv[2], sys.argv[3]
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def run(args, data=None):
    return subprocess.run([tool] + args, input=data, capture_output=True, timeout=30)


# Plain output of the demo: 24 lines of exactly 80 characters.
r = run([demo])
check(r.returncode == 0, "demo exit code")
lines = r.stdout.decode("utf-8").split("\n")
check(len(lines) == 25 and lines[-1] == "", "24 newline-terminated lines")
check(all(len(l) == 80 for l in lines[:24]), "every plain line is 80 characters")

# 132 columns, standard input, a byte above 0x7F.
r = run(["--cols", "132"], b"\xe9abc")
lines = r.stdout.decode("utf-8").split("\n")
check(all(len(l) == 132 for l in lines[:24]), "every plain line is 132 characters")
check(lines[0].startswith("\u00e9abc"), "byte 0xE9 shown as U+00E9")

# --utf8: decoded characters, a wide one once in text but two cells in attrs; without it the bytes stay bytes.
r = run(["--utf8", "--json"], "中Жéx".encode("utf-8"))
line = json.loads(r.stdout)["lines"][0]
check(line["text"].rstrip() == "中Жéx" and len(line["text"]) == 79, "utf8 text, wide once")
check(len(line["attrs"]) == 80, "utf8 attrs keep one entry per cell")
r = run([], "Ж".encode("utf-8"))
check(r.stdout.decode("utf-8").startswith("Ð"), "without --utf8 the bytes show one by one")

# JSON with history and replies, read from standard input through "-".
stream = b"".join(b"line%d\r\n" % i for i in range(1, 41)) + b"\x1b[6n\x05\x1b[?5h\x1b[12l"
r = run(["--json", "--history", "-"], stream)
check(r.returncode == 0, "json exit code")
doc = json.loads(r.stdout)
check(list(doc) == ["rows", "cols", "cursor", "modes", "lines", "history", "title", "alt_screen", "replies"], "json key order")
check(doc["title"] == "" and doc["alt_screen"] is False, "no title, normal screen")
check(doc["rows"] == 24 and doc["cols"] == 80, "geometry")
check(doc["cursor"] == {"row": 24, "col": 1, "visible": True}, "cursor")
check(list(doc["modes"]) == ["app_keys", "vt52_mode", "vt100_level", "c1_8bit", "auto_repeat", "new_line_mode",
                             "insert_mode", "origin_mode", "auto_wrap_mode", "pending_wrap", "reverse_screen",
                             "printer_controller", "local_echo", "top_margin", "bottom_margin"], "mode names")
check(doc["modes"]["reverse_screen"] == 1 and doc["modes"]["local_echo"] == 1, "host-held modes")
check(len(doc["lines"]) == 24 and all(len(l["attrs"]) == 80 for l in doc["lines"]), "24 lines of 80 attrs")
check(doc["lines"][22]["text"].rstrip() == "line40", "last written line on row 23")
check(len(doc["history"]) == 199 and all(len(h) == 80 for h in doc["history"]), "199 history lines")
check(doc["history"][-1].rstrip() == "line17" and doc["history"][-17].rstrip() == "line1", "history order")
check(doc["replies"] == (b"\x1b[24;1R" + b"QUILL_TELNET").hex(), "replies hex")

# Quotes, backslashes and DEL inside JSON strings.
r = run(["--json"], b'say "a\\b"\x7f\xff')
check(json.loads(r.stdout)["lines"][0]["text"].rstrip() == 'say "a\\b"\x7f\u00ff', "escaped text round-trips")

# Without --history there is no history member.
r = run(["--json"], b"x")
check("history" not in json.loads(r.stdout), "history only on request")

# --term: xterm* picks the xterm emulation (two direct colours in one sequence, its DA1); anything else the VT220.
xt = b"\x1b[38;2;1;2;3;48;2;4;5;6mX\x1b[c"
for term, xterm in (("xterm", True), ("xterm-256color", True), ("vt220", False), ("vt100", False)):
    r = run(["--json", "--term", term], xt)
    doc = json.loads(r.stdout)
    cell = (doc["lines"][0]["fg"][0], doc["lines"][0]["bg"][0])
    if xterm:
        check(cell == (16777216 + 0x010203, 16777216 + 0x040506), "xterm colours: " + term)
        check(doc["replies"] == b"\x1b[?62;1;6;22c".hex(), "xterm DA1: " + term)
    else:
        check(cell == (-1, -1) and doc["lines"][0]["text"].startswith("6mX"), "VT220 unchanged: " + term)
        check(doc["replies"] == b"\x1b[?62;1;6c".hex(), "VT220 DA1: " + term)
check(b"--term" in run(["--bogus"]).stderr, "usage lists --term")

# The host's title (UTF-8 with --utf8, Latin-1 bytes without) and the alternate screen reach the dump.
doc = json.loads(run(["--json", "--term", "xterm", "--utf8"], "\x1b]2;caf\u00e9\x07\x1b[?1049h".encode()).stdout)
check(doc["title"] == "café" and doc["alt_screen"] is True, "xterm title and alternate screen")
doc = json.loads(run(["--json", "--term", "xterm"], b"\x1b]2;caf\xe9\x07").stdout)
check(doc["title"] == "café", "byte-mode title as Latin-1")
check(run(["--rows", "24", "--json"], b"").returncode == 0, "--rows 24 taken")
check(run(["--rows", "30"]).returncode == 2, "other row counts refused")

# Errors.
check(run(["--cols", "100"]).returncode == 2, "bad width rejected")
check(run(["--bogus"]).returncode == 2, "unknown option rejected")
with tempfile.TemporaryDirectory() as d:
    check(run([os.path.join(d, "missing.vt")]).returncode == 1, "missing file is an error")

# Usage names every option; --help goes to standard output and succeeds.
r = run(["--help"])
check(r.returncode == 0 and b"--bytewise" in r.stdout, "--help lists --bytewise")
check(b"--bytewise" in run(["--bogus"]).stderr, "usage lists --bytewise")

# Blocks through feed (the session's way) and one byte at a time through feed_byte leave the same screen, cursor,
# modes, history and replies. Beside the demo and the emulator's fuzz corpus, streams longer than one 2000-byte
# block with sequences, UTF-8 characters and replies cut at every block boundary.
streams = {"demo": open(demo, "rb").read(), "replies": stream}
for name in sorted(os.listdir(corpus)):
    with open(os.path.join(corpus, name), "rb") as f:
        streams["corpus/" + name] = f.read()
check(len(streams) > 4, "the fuzz corpus was read")
mixed = b"\x1b[6nab\x1b[1;31m\xd0\x96\xe4\xb8\xad\x1b[0m\x1b[5n\x05\x1b[?6c\tz\r\n\x1b[c\x1bZ\x1b[?25l\x1b[7;3H"
streams["long"] = mixed * 700
for shift in range(1, len(mixed)):
    streams["long+%d" % shift] = b"x" * shift + mixed * 90
for name, data in streams.items():
    for opts in (["--json", "--history"], ["--json", "--history", "--utf8"], ["--json", "--cols", "132"],
                 ["--json", "--history", "--utf8", "--term", "xterm"]):
        blocks = run(opts, data)
        bytewise = run(opts + ["--bytewise"], data)
        check(blocks.returncode == 0 and bytewise.returncode == 0, "exit codes: %s %s" % (name, opts))
        check(blocks.stdout == bytewise.stdout, "blocks and --bytewise agree: %s %s" % (name, opts))
        if name == "long" and opts[-1] == "--history":
            check(len(json.loads(blocks.stdout)["replies"]) > 700 * 20, "the long stream's replies are all there")

for f in failures:
    print("FAILED:", f)
sys.exit(1 if failures else 0)
