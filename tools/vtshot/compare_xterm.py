#!/usr/bin/env python3
"""Shows the same bytes in xterm and in our view and compares the two pictures cell by cell.

usage: compare_xterm.py [--vtshot PATH] [--upto N] [--font FAMILY] [--size PT] [--out DIR] [--list N] IN.vtrec|RAW

vtshot writes the bytes it feeds (a recording's reads up to pause mark N, or a raw file) to DIR/NAME.raw and our
picture to DIR/NAME-ours.png. xterm (80x24, no border, no scroll bar, UTF-8, the given Xft face and size, black
on white: its own defaults, and vtshot's) shows the same file under a private Xvfb at 96 dpi; its window becomes
DIR/NAME-xterm.png, and both side by side DIR/NAME-side.png (xterm left).

Each picture is cut into its own 80x24 cells (the two cell sizes may differ). Per cell: the paper is the most
common colour of its pixels, ink is the pixels far from the paper, and the ink colour the one farthest from it.
A cell matches when the papers agree and both have ink or both have none. Prints the fraction of matching cells,
the ink colour agreement where both have ink, the cells whose ink amount differs by a quarter or more (a bold face
drawn as a normal one, another glyph shape), and the mismatching cells with our screen's character there.
xterm draws the cursor as a hollow box when unfocused (it is, under a bare Xvfb); ours is hidden, and the
cursor's cell is counted apart. Everything is bounded in time; Xvfb and xterm are killed at the end.
"""
import argparse
import collections
import os
import shutil
import subprocess
import sys
import tempfile
import time

COLS, ROWS = 80, 24
DPI = 96
INK_DISTANCE = 120  # sum of channel differences from the paper that counts as ink
INK_PIXELS = 3  # fewer ink pixels than this is a neighbour's fringe
PAPER_TOLERANCE = 24  # per channel
INK_TOLERANCE = 48


def read_ppm(png):
    """(width, height, bytes) of a PNG as 8-bit RGB, through ImageMagick."""
    data = subprocess.run(["convert", png, "-depth", "8", "ppm:-"], check=True, capture_output=True,
                          timeout=60).stdout
    fields, pos = [], 0
    while len(fields) < 4:  # magic, width, height, maxval, each after optional comments
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise SystemExit(f"{png}: unexpected image format")
    return int(fields[1]), int(fields[2]), data[pos + 1:]


def cells(png):
    """Per cell (row-major): (paper, ink pixel count, ink colour or None)."""
    w, h, px = read_ppm(png)
    if w % COLS or h % ROWS:
        raise SystemExit(f"{png}: {w}x{h} is not a whole number of {COLS}x{ROWS} cells")
    cw, ch = w // COLS, h // ROWS
    out = []
    for r in range(ROWS):
        for c in range(COLS):
            pixels = []
            for y in range(r * ch, (r + 1) * ch):
                base = (y * w + c * cw) * 3
                row = px[base:base + cw * 3]
                pixels.extend(tuple(row[i:i + 3]) for i in range(0, len(row), 3))
            paper = collections.Counter(pixels).most_common(1)[0][0]
            ink = [p for p in pixels if sum(abs(a - b) for a, b in zip(p, paper)) > INK_DISTANCE]
            # The pixel farthest from the paper: the glyph's core, which antialiasing leaves at the true colour.
            colour = max(ink, key=lambda p: sum(abs(a - b) for a, b in zip(p, paper))) if ink else None
            out.append((paper, len(ink), colour))
    return out, (cw, ch)


def close(a, b, tol):
    return a is not None and b is not None and all(abs(x - y) <= tol for x, y in zip(a, b))


def hexc(c):
    return "-" if c is None else "#%02x%02x%02x" % c


def wait_for(pred, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if pred():
            return True
        time.sleep(0.1)
    return False


def xterm_shot(raw, png, font, size, work):
    """Shows raw in xterm under a private Xvfb and saves its window; kills both whatever happens."""
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24", "-dpi", str(DPI),
                             "-nolisten", "tcp"], pass_fds=[write_fd], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(write_fd)
    term = None
    try:
        with os.fdopen(read_fd) as f:
            display = ":" + f.readline().strip()
        if display == ":":
            raise SystemExit("Xvfb did not start")
        env = dict(os.environ, DISPLAY=display, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        wid_file, done_file = os.path.join(work, "wid"), os.path.join(work, "done")
        # Raw and without echo: the bytes reach the screen as they were recorded and xterm's replies are not shown.
        child = f'echo $WINDOWID > "{wid_file}"; stty raw -echo; cat "{raw}"; touch "{done_file}"; sleep 30'
        term = subprocess.Popen(["xterm", "-geometry", f"{COLS}x{ROWS}+0+0", "-b", "0", "-bw", "0", "+sb", "-u8",
                                 "-fa", font, "-fs", str(size), "-fg", "black", "-bg", "white", "-e", "sh", "-c",
                                 child], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_for(lambda: os.path.exists(done_file) and os.path.getsize(wid_file) > 0, 20):
            raise SystemExit("xterm did not show the file in time")
        time.sleep(1.0)  # xterm draws after its input goes quiet
        wid = open(wid_file).read().strip()
        subprocess.run(["import", "-window", wid, png], env=env, check=True, timeout=30)
    finally:
        for p in (term, xvfb):
            if p and p.poll() is None:
                p.kill()
                p.wait(timeout=10)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    here = os.path.dirname(os.path.abspath(__file__))
    ap.add_argument("--vtshot", default=os.path.join(here, "..", "..", "build", "tools", "vtshot"))
    ap.add_argument("--upto", type=int, default=0)
    ap.add_argument("--font", default="DejaVu Sans Mono")
    ap.add_argument("--size", type=int, default=12)
    ap.add_argument("--out", default="/tmp/vtshot")
    ap.add_argument("--list", type=int, default=60, help="mismatching cells to list")
    ap.add_argument("input")
    a = ap.parse_args()
    for tool in ("Xvfb", "xterm", "import", "convert"):
        if not shutil.which(tool):
            raise SystemExit(f"{tool} is not installed")

    os.makedirs(a.out, exist_ok=True)
    name = os.path.splitext(os.path.basename(a.input))[0] + (f"-{a.upto}" if a.upto else "")
    raw, text = os.path.join(a.out, name + ".raw"), os.path.join(a.out, name + ".txt")
    ours_png, xterm_png = os.path.join(a.out, name + "-ours.png"), os.path.join(a.out, name + "-xterm.png")
    info = subprocess.run([a.vtshot, "--term", "xterm-256color", "--utf8", "--font", a.font, "--size", str(a.size),
                           "--dpi", str(DPI), "--upto", str(a.upto), "--no-cursor", "--raw-out", raw, "--text", text,
                           a.input, ours_png], check=True, capture_output=True, text=True, timeout=120).stdout
    cursor = None
    words = info.split()
    if "cursor" in words and "hidden" not in words:
        row, col = words[words.index("cursor") + 1].split(",")
        cursor = (int(row), int(col))
    with tempfile.TemporaryDirectory() as work:
        xterm_shot(raw, xterm_png, a.font, a.size, work)
    subprocess.run(["convert", xterm_png, ours_png, "+append", os.path.join(a.out, name + "-side.png")], check=True,
                   timeout=60)

    theirs, tsize = cells(xterm_png)
    ours, osize = cells(ours_png)
    screen = open(text, encoding="utf-8", errors="replace").read().split("\n")
    matching, ink_both, ink_same, bad, hue, heavy = 0, 0, 0, [], [], []
    for i, (t, o) in enumerate(zip(theirs, ours)):
        r, c = i // COLS + 1, i % COLS + 1
        paper_ok = close(t[0], o[0], PAPER_TOLERANCE)
        ink_ok = (t[1] >= INK_PIXELS) == (o[1] >= INK_PIXELS)
        if (r, c) == cursor:
            continue
        if paper_ok and ink_ok:
            matching += 1
        else:
            bad.append((r, c, t, o, paper_ok, ink_ok))
        if t[1] >= INK_PIXELS and o[1] >= INK_PIXELS:
            ink_both += 1
            # Both draw through FreeType, so the same glyph leaves nearly the same ink; a bold face or another
            # shape leaves much more or less.
            if abs(t[1] - o[1]) >= 4 and not 0.8 < t[1] / o[1] < 1.25:
                heavy.append((r, c, t, o))
            if close(t[2], o[2], INK_TOLERANCE):
                ink_same += 1
            else:
                hue.append((r, c, t, o))
    total = ROWS * COLS - (cursor is not None)
    print(f"{name}: xterm cells {tsize[0]}x{tsize[1]}, ours {osize[0]}x{osize[1]}; vtshot: {info.strip()}")
    print(f"{name}: {matching}/{total} cells match ({100.0 * matching / total:.1f}%), "
          f"ink colour agrees in {ink_same}/{ink_both} cells inked in both"
          + f", ink amount differs by a quarter or more in {len(heavy)}"
          + (f"; cursor cell {cursor[0]},{cursor[1]} not counted" if cursor else ""))
    for r, c, t, o, paper_ok, ink_ok in bad[:a.list]:
        ch = screen[r - 1][c - 1:c] if r - 1 < len(screen) else "?"
        why = ",".join(w for w, ok in (("paper", paper_ok), ("ink", ink_ok)) if not ok)
        print(f"  {r:2},{c:2} {ch!r:5} {why:9} xterm paper {hexc(t[0])} ink {t[1]:3} {hexc(t[2])}   "
              f"ours paper {hexc(o[0])} ink {o[1]:3} {hexc(o[2])}")
    if len(bad) > a.list:
        print(f"  ... {len(bad) - a.list} more")
    for r, c, t, o in hue[:a.list]:
        ch = screen[r - 1][c - 1:c] if r - 1 < len(screen) else "?"
        print(f"  {r:2},{c:2} {ch!r:5} ink colour xterm {hexc(t[2])} ours {hexc(o[2])} (paper {hexc(t[0])})")
    if len(hue) > a.list:
        print(f"  ... {len(hue) - a.list} more")
    for r, c, t, o in heavy[:a.list]:
        ch = screen[r - 1][c - 1:c] if r - 1 < len(screen) else "?"
        print(f"  {r:2},{c:2} {ch!r:5} ink pixels xterm {t[1]} ours {o[1]}")
    if len(heavy) > a.list:
        print(f"  ... {len(heavy) - a.list} more")
    print(f"pictures: {xterm_png} {ours_png} {os.path.join(a.out, name + '-side.png')}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
