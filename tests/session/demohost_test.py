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

    def session(self, *sends, as_json=False):
        args = [VTSESSION, "--host", "127.0.0.1", "--port", str(self.port), "--timeout", "15",
                "--expect", "Press Return for the interactive page"] + [a for s in sends for a in ("--send", s)]
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

    def test_zz_quit_ends_the_session_and_sigterm_the_host(self):
        screen, err = self.session(r"\015", r"quit\015")
        self.assertIn("Goodbye.", screen)
        self.assertIn("Connection to host has been lost", err)
        self.host.send_signal(signal.SIGTERM)
        self.assertEqual(self.host.wait(10), 0)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
