#!/usr/bin/env python3
"""vtshot on the vim recording, offscreen: the picture is 80x24 whole cells and known cells carry vim's colours
(palette 2, 4, 5 and 130 of the 256, the reversed status line) as xterm draws them for the same bytes.

usage: vtshot_test.py VTSHOT RECORDINGS_DIR
"""
import os
import subprocess
import sys
import tempfile

COLS, ROWS = 80, 24
WHITE, BLACK = (255, 255, 255), (0, 0, 0)

# (row, column, what is there, paper, ink colour or None for an empty cell), at vim's ninth pause.
VIM_CELLS = [
    (1, 3, "line number, colour 130", WHITE, (0xAF, 0x5F, 0x00)),
    (1, 10, "comment, colour 4", WHITE, (0x00, 0x00, 0xEE)),
    (2, 5, "#include, colour 5", WHITE, (0xCD, 0x00, 0xCD)),
    (8, 5, "struct, colour 2", WHITE, (0x00, 0xCD, 0x00)),
    (9, 16, "plain text", WHITE, BLACK),
    (23, 1, "status line, reversed", BLACK, WHITE),
    (23, 70, "status line blank", BLACK, None),
    (5, 40, "empty line", WHITE, None),
]


def read_ppm(path):
    data = open(path, "rb").read()
    fields, pos = [], 0
    while len(fields) < 4:
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
    assert fields[0] == b"P6" and fields[3] == b"255", fields
    return int(fields[1]), int(fields[2]), data[pos + 1:]


def cell(img, cw, ch, row, col):
    """(paper, ink colour or None): the commonest colour, and the pixel farthest from it."""
    w, _, px = img
    pixels = []
    for y in range((row - 1) * ch, row * ch):
        base = (y * w + (col - 1) * cw) * 3
        pixels.extend(tuple(px[base + i:base + i + 3]) for i in range(0, cw * 3, 3))
    paper = max(set(pixels), key=pixels.count)
    dist = lambda p: sum(abs(a - b) for a, b in zip(p, paper))
    far = max(pixels, key=dist)
    return paper, far if dist(far) > 120 else None


def recorded_reads(path, upto):
    d, i, marks, out = open(path, "rb").read(), 7, 0, b""
    while i < len(d):
        kind = d[i:i + 1]
        i += 1
        if kind == b"D":
            n = int.from_bytes(d[i:i + 4], "little")
            out += d[i + 4:i + 4 + n]
            i += 4 + n
        else:
            marks += 1
            if marks == upto:
                break
    return out


def main():
    vtshot, recordings = sys.argv[1], sys.argv[2]
    vim = os.path.join(recordings, "vim.vtrec")
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        ppm, raw = os.path.join(tmp, "vim.ppm"), os.path.join(tmp, "vim.raw")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        subprocess.run([vtshot, "--utf8", "--size", "12", "--dpi", "96", "--upto", "9", "--no-cursor", "--raw-out",
                        raw, vim, ppm], check=True, env=env, timeout=60, stdout=subprocess.DEVNULL)
        if open(raw, "rb").read() != recorded_reads(vim, 9):
            failures.append("--raw-out is not the reads up to the ninth pause")
        img = read_ppm(ppm)
        w, h, _ = img
        if w % COLS or h % ROWS:
            failures.append(f"picture {w}x{h} is not whole 80x24 cells")
        cw, ch = w // COLS, h // ROWS
        for row, col, what, paper, ink in VIM_CELLS:
            got_paper, got_ink = cell(img, cw, ch, row, col)
            if got_paper != paper or (got_ink is None) != (ink is None) or (
                    ink and any(abs(a - b) > 8 for a, b in zip(got_ink, ink))):
                failures.append(f"{row},{col} {what}: paper {got_paper} ink {got_ink}, want {paper} {ink}")

        beyond = subprocess.run([vtshot, "--upto", "11", vim, ppm], env=env, timeout=60, capture_output=True)
        if beyond.returncode != 1:
            failures.append(f"--upto past the last pause exits {beyond.returncode}, want 1")
    for f in failures:
        print("FAIL:", f)
    print("ok" if not failures else f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
