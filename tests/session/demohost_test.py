#!/usr/bin/python3
"""The demo host on loopback through vtsession: negotiation, the demo stream and each page of the interactive part."""
import json
import select
import signal
import subprocess
import sys
import unittest

DEMOHOST, VTSESSION = sys.argv[1], sys.argv[2]
GRAPHICS = 32  # cell attribute bit of the line-drawing set in the JSON dump


class DemoHost(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.host = subprocess.Popen([DEMOHOST, "--port", "0"], stdout=subprocess.PIPE, text=True)
        ready, _, _ = select.select([cls.host.stdout], [], [], 10)
        line = cls.host.stdout.readline() if ready else ""
        if not line.startswith("port "):
            cls.host.kill()
            cls.host.wait(10)
            raise RuntimeError("demohost did not report its port: %r" % line)
        cls.port = int(line.split()[1])

    @classmethod
    def tearDownClass(cls):
        if cls.host.poll() is None:
            cls.host.kill()
            cls.host.wait(10)

    def session(self, *sends, as_json=False, sets=()):
        args = [VTSESSION, "--host", "127.0.0.1", "--port", str(self.port), "--timeout", "15",
                "--expect", "Press Return for the interactive page"] + [a for s in sends for a in ("--send", s)]
        args += [a for kv in sets for a in ("--set", kv)]
        out = subprocess.run(args + (["--json"] if as_json else []), capture_output=True, text=True, timeout=60)
        return (json.loads(out.stdout) if as_json else out.stdout), out.stderr

    def test_demo_then_typed_lines_come_back_once_with_erase_and_a_length_limit(self):
        screen, _ = self.session()
        rows = screen.splitlines()
        self.assertIn("VT220 terminal demo", screen)
        self.assertIn(" Ready ", rows[23], "the demo's last row stays in place")
        screen, _ = self.session(r"\015", r"hello there\015", r"abcd\010\010xy\015", "z" * 300 + r"\015")
        # The terminal type came through the Telnet subnegotiation.
        self.assertIn("(terminal type: vt220)", screen)
        # The host echoes and the client's local echo went off with the ECHO option: the line shows once.
        self.assertIn("demo> hello there", [l.rstrip() for l in screen.splitlines()])
        self.assertEqual(screen.count("hello there"), 2, screen)
        self.assertIn("You typed: abxy", screen)
        self.assertEqual(screen.count("z"), 2 * 200, "echo and answer stop at 200 characters")

    def test_keys_lines_and_wide_pages(self):
        screen, _ = self.session(r"\015", r"keys\015", r"\033[A", r"\033[11~")
        self.assertIn("ESC [ A", screen)
        self.assertIn("1b 5b 31 31 7e", screen)
        dump, _ = self.session(r"\015", r"lines\015", as_json=True)
        top = next(r for r in dump["lines"] if "lqqqqqqqqqqwqqqqqqqqqqk" in r["text"])
        start = top["text"].index("l")
        self.assertTrue(all(a & GRAPHICS for a in top["attrs"][start:start + 23]))
        dump, _ = self.session(r"\015", r"wide\015", as_json=True)
        self.assertEqual(dump["cols"], 132)
        self.assertEqual([r["text"][131] for r in dump["lines"] if r["text"].startswith("1234567890")], ["2"])
        dump, _ = self.session(r"\015", r"wide\015", r"\015", as_json=True)
        self.assertEqual(dump["cols"], 80)

    def test_colour_page_in_the_xterm_emulation(self):
        dump, _ = self.session(r"\015", r"colours\015", as_json=True,
                               sets=("termtype=xterm-256color", "utf8=1"))
        lines = dump["lines"]
        texts = [l["text"] for l in lines]
        row = lambda start: lines[next(i for i, t in enumerate(texts) if t.startswith(start))]
        # The 16 colours: "red" in each of the four rows, foreground then background, normal then bright.
        for label, key, index in (("  30-37", "fg", 1), ("  90-97", "fg", 9), ("  40-47", "bg", 1),
                                  (" 100-107", "bg", 9)):
            r = row(label)
            col = r["text"].index("red")
            self.assertEqual(r[key][col:col + 3], [index] * 3, label)
            self.assertEqual(r[key][col + 8], index + 1, label + ": green follows")
        # The cube: six rows of 36, one row per red level; then the 24 greys.
        first = texts.index(next(t for t in texts if t.startswith("  256 colours"))) + 1
        for red in range(6):
            bg = lines[first + red]["bg"]
            self.assertEqual(bg[2:74:2], list(range(16 + 36 * red, 52 + 36 * red)), red)
            self.assertEqual(bg[74], -1)
        self.assertEqual(lines[first + 6]["bg"][2:74:3], list(range(232, 256)))
        # 24-bit: 64 direct colours from pure red on.
        grad = row("  24-bit")["bg"][10:74]
        self.assertEqual(grad[0], 16777216 + 0xFF0000)
        self.assertTrue(all(c >= 16777216 for c in grad))
        self.assertEqual(len(set(grad)), 64)
        # Attributes by their dump bits.
        r = row("  bold dim")
        for word, bit in (("bold", 1), ("dim", 128), ("italic", 256), ("underline", 2), ("blink", 4),
                          ("reverse", 8), ("strike", 512)):
            col = r["text"].index(word + " ")
            self.assertTrue(all(a & bit for a in r["attrs"][col:col + len(word)]), word)
            self.assertEqual(r["attrs"][col + len(word)], 0, word + " ends")
        # Box drawing: the DEC set and the same box in UTF-8.
        dec = row("  DEC")
        start = dec["text"].index("t")
        self.assertTrue(all(a & GRAPHICS for a in dec["attrs"][start:start + 11]))
        self.assertIn("UTF-8 \u251c\u2500\u2500\u2500\u2500\u253c\u2500\u2500\u2500\u2500\u2524", dec["text"])
        self.assertTrue(texts[23].startswith("demo> "), "the prompt ends the page on the last row")

    def test_colour_page_on_a_vt220_and_in_the_menu(self):
        menu, _ = self.session(r"\015")
        self.assertIn("  colours ", menu)
        screen, _ = self.session(r"\015", r"colors\015")
        self.assertIn("a VT220 shows none", screen)
        self.assertNotIn("UTF-8 ", screen, "no UTF-8 bytes for a byte-mode VT220")
        self.assertIn("DEC tqqqqnqqqqu", screen)

    def test_zz_quit_ends_the_session_and_sigterm_the_host(self):
        screen, err = self.session(r"\015", r"quit\015")
        self.assertIn("Goodbye.", screen)
        self.assertIn("Connection to host has been lost\nThe host 127.0.0.1:%d closed the connection." % self.port, err)
        self.host.send_signal(signal.SIGTERM)
        self.assertEqual(self.host.wait(10), 0)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
