#!/usr/bin/python3
"""A line host on 127.0.0.1 for the reconnect tests: prompts "peer$ ", answers each line with "you said: LINE".
"reset" ends the connection with a reset (SO_LINGER 0), "mute" stops answering. Usage: reconnect_peer.py PORT
(0: any free port); prints "PORT <n>" once listening. One connection at a time, until killed."""
import socket
import struct
import sys


def serve(conn):
    conn.sendall(b"peer$ ")
    pending, mute = b"", False
    while True:
        data = conn.recv(1024)
        if not data:
            return
        if mute:
            continue
        pending += data
        while b"\r" in pending:
            line, pending = pending.split(b"\r", 1)
            pending = pending.lstrip(b"\n\0")
            word = line.strip().decode("latin-1")
            if word == "reset":
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                return
            if word == "mute":
                mute = True
                break
            conn.sendall(b"\r\nyou said: " + line.strip() + b"\r\npeer$ ")


def main():
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", int(sys.argv[1])))
    srv.listen(4)
    print(f"PORT {srv.getsockname()[1]}", flush=True)
    while True:
        conn, _ = srv.accept()
        try:
            serve(conn)
        except OSError:
            pass
        conn.close()


if __name__ == "__main__":
    main()
