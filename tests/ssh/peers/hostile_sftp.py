#!/usr/bin/python3
"""A hostile SFTP subsystem for sshd (Subsystem sftp /usr/bin/python3 hostile_sftp.py MARKER).

Answers INIT with VERSION 3, then answers the client's first request with a STATUS too short to hold its request
number, followed in the same write by more replies and a STATUS for the request itself, then a line on standard
error: all of it is on its way when the client closes the channel. MARKER is created once the channel has ended
(the test's shell waits for it).
"""
import os
import struct
import sys


def read_exact(n):
    b = b""
    while len(b) < n:
        chunk = os.read(0, n - len(b))
        if not chunk:
            sys.exit(0)
        b += chunk
    return b


def read_packet():
    (n,) = struct.unpack(">I", read_exact(4))
    return read_exact(n)


def packet(body):
    return struct.pack(">I", len(body)) + body


def status(req, code, text):
    t = text.encode()
    return packet(bytes([101]) + struct.pack(">II", req, code) + struct.pack(">I", len(t)) + t + struct.pack(">I", 0))


def main():
    marker = sys.argv[1]
    init = read_packet()
    if init[:1] != b"\x01":
        sys.exit(1)
    os.write(1, packet(b"\x02" + struct.pack(">I", 3)))
    first = read_packet()
    (req,) = struct.unpack(">I", first[1:5])
    # One write: everything is in sshd's hands before the client can answer the first packet with its CLOSE.
    burst = packet(b"\x65")  # STATUS without its request number
    for k in range(1, 9):
        burst += status(req + k, 4, "in flight %d" % k)
    burst += status(req, 2, "No such file")
    try:
        os.write(1, burst)
        os.write(2, b"hostile_sftp: sent a malformed reply\n")
        while os.read(0, 65536):
            pass
    except OSError:
        pass  # the channel closed under us, as it should
    finally:
        with open(marker, "w") as f:
            f.write("sent\n")


if __name__ == "__main__":
    main()
