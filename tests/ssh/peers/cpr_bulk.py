#!/usr/bin/python3
"""Run on the remote side of a terminal session: writes BLOCKS blocks of 1040 numbered 63-byte lines, each block
followed by a cursor position request, and counts the terminal's answers that put the cursor at row 24, column 1
(where it is only if every byte of the block arrived). Prints "bulk <bytes> bytes blocks <n> cursor-ok <m>"."""
import os
import select
import sys
import termios
import tty

BLOCKS = int(sys.argv[1]) if len(sys.argv) > 1 else 161
LINES = 1040


def write_all(data):
    while data:
        data = data[os.write(1, data):]


def read_reply():
    reply = b""
    while not reply.endswith(b"R") and len(reply) < 32:
        ready, _, _ = select.select([0], [], [], 10)
        if not ready:
            break
        reply += os.read(0, 1)
    return reply


saved = termios.tcgetattr(0)
tty.setraw(0)
try:
    total = good = 0
    n = 0
    for _ in range(BLOCKS):
        block = b"".join(b"%08d" % (n + k) + b"." * 53 + b"\r\n" for k in range(LINES))
        n += LINES
        write_all(block + b"\x1b[6n")
        total += len(block)
        if read_reply() == b"\x1b[24;1R":
            good += 1
finally:
    termios.tcsetattr(0, termios.TCSADRAIN, saved)
print("bulk %d bytes blocks %d cursor-ok %d" % (total, BLOCKS, good))
