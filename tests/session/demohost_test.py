#!/usr/bin/python3
"""The demo host on loopback, driven through vtsession: Telnet negotiation (its page names the terminal type the
client sent), the demo stream, typed lines coming back once, key codes, the line-drawing and 132-column pages,
quit, and a clean stop on SIGTERM."""
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

    def session(self, *sends, as_json=False):
        args = [VTSESSION, "--host", "127.0.0.1", "--port", str(self.port), "--timeout", "15",
                "--expect", "Press Return for the interactive page"]
        for s in sends:
            args += ["--send", s]
        if as_json:
            args.append("--json")
        out = subprocess.run(args, capture_output=True, text=True, timeout=60)
        self.assertEqual(out.returncode, 0, out.stderr)
        return json.loads(out.stdout) if as_json else out.stdout

    def test_demo_stream_plays_first(self):
        screen = self.session()
        self.assertIn("VT220 terminal demo", screen)
        self.assertIn(" Ready ", screen)
        rows = screen.splitlines()
        self.assertEqual(rows[22].rstrip(), "Press Return for the interactive page.")
        self.assertIn(" Ready ", rows[23], "the demo's last row stays in place")

    def test_negotiated_terminal_type_and_a_typed_line_comes_back_once(self):
        screen = self.session(r"\015", r"hello there\015")
        self.assertIn("(terminal type: vt220)", screen)
        lines = screen.splitlines()
        # The host echoes (the client's local echo went off with the ECHO option), so the line shows once.
        self.assertIn("demo> hello there", [l.rstrip() for l in lines])
        self.assertEqual(screen.count("hello there"), 2, screen)
        self.assertIn("You typed: hello there", screen)

    def test_erase_and_overlong_lines_are_handled(self):
        screen = self.session(r"\015", r"abcd\010\010xy\015", "z" * 300 + r"\015")
        self.assertIn("You typed: abxy", screen)
        typed = [l for l in screen.splitlines() if l.startswith("You typed: z")]
        self.assertEqual(len(typed), 1, screen)
        # Echo and answer each stop at 200 characters.
        self.assertEqual(screen.count("z"), 2 * 200)

    def test_keys_page_shows_the_codes_of_a_key(self):
        screen = self.session(r"\015", r"keys\015", r"\033[A", r"\033[11~")
        self.assertIn("ESC [ A", screen)
        self.assertIn("1b 5b 41", screen)
        self.assertIn("1b 5b 31 31 7e", screen)

    def test_line_drawing_page_uses_the_graphics_set(self):
        dump = self.session(r"\015", r"lines\015", as_json=True)
        rows = dump["lines"]
        top = next(r for r in rows if "lqqqqqqqqqqwqqqqqqqqqqk" in r["text"])
        start = top["text"].index("l")
        self.assertTrue(all(a & GRAPHICS for a in top["attrs"][start:start + 23]))
        label = next(r for r in rows if "one" in r["text"])
        self.assertFalse(label["attrs"][label["text"].index("one")] & GRAPHICS)

    def test_wide_page_has_132_columns_and_return_goes_back_to_80(self):
        dump = self.session(r"\015", r"wide\015", as_json=True)
        self.assertEqual(dump["cols"], 132)
        ruler = [r["text"] for r in dump["lines"] if r["text"].startswith("1234567890")]
        self.assertEqual(len(ruler), 1)
        self.assertEqual(ruler[0][131], "2")
        back = self.session(r"\015", r"wide\015", r"\015", as_json=True)
        self.assertEqual(back["cols"], 80)
        self.assertIn("qtelnet demo host", back["lines"][0]["text"])

    def test_quit_ends_the_session(self):
        args = [VTSESSION, "--host", "127.0.0.1", "--port", str(self.port), "--timeout", "15",
                "--expect", "Press Return for the interactive page", "--send", r"\015", "--send", r"quit\015"]
        out = subprocess.run(args, capture_output=True, text=True, timeout=60)
        self.assertIn("Goodbye.", out.stdout)
        self.assertIn("Connection to host has been lost", out.stderr)

    def test_zz_stops_on_sigterm(self):
        self.host.send_signal(signal.SIGTERM)
        self.assertEqual(self.host.wait(10), 0)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
