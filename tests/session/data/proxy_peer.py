#!/usr/bin/env python3
"""Loopback proxy for the session integration tests.

  proxy_peer.py socks4 LOG [refuse]   SOCKS 4 CONNECT server
  proxy_peer.py text LOG              reads one "host port" line ending in LF, then relays
  proxy_peer.py record LOG            no proxy: asks for the terminal type, prompts "send> ", writes every byte
                                      received up to a CR to LOG in hex, answers "ok" and closes

Prints the listening port on stdout, handles one client, writes what the client asked for to LOG and relays
bytes both ways. It only ever connects to loopback addresses.
"""
import os
import select
import socket
import struct
import sys


def relay(a, b):
    socks = [a, b]
    while True:
        r, _, _ = select.select(socks, [], [], 30)
        if not r:
            return
        for s in r:
            data = s.recv(65536)
            if not data:
                return
            (b if s is a else a).sendall(data)


def read_until(conn, pred, limit=512):
    buf = b""
    while not pred(buf):
        chunk = conn.recv(1)
        if not chunk or len(buf) > limit:
            return None
        buf += chunk
    return buf


def main():
    mode, log = sys.argv[1], sys.argv[2]
    refuse = len(sys.argv) > 3 and sys.argv[3] == "refuse"
    lsock = socket.socket()
    lsock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    lsock.bind(("127.0.0.1", 0))
    lsock.listen(1)
    print(lsock.getsockname()[1], flush=True)
    lsock.settimeout(30)
    conn, _ = lsock.accept()
    conn.settimeout(30)
    if mode == "record":
        conn.sendall(bytes([255, 253, 24]) + b"send> ")
        data = read_until(conn, lambda b: b.endswith(b"\r"))
        if data is None:
            return
        with open(log, "w") as f:
            f.write(data.hex(" ") + "\n")
        conn.sendall(b"\r\nok\r\n")
        return
    if mode == "socks4":
        head = read_until(conn, lambda b: len(b) >= 9 and b[8:].endswith(b"\0"))
        if head is None:
            return
        vn, cd, port = struct.unpack(">BBH", head[:4])
        addr = socket.inet_ntoa(head[4:8])
        user = head[8:-1].decode("latin-1")
        with open(log, "w") as f:
            f.write(f"{vn} {cd} {addr} {port} {user}\n")
        if refuse or not addr.startswith("127."):
            conn.sendall(bytes([0, 91, 0, 0, 0, 0, 0, 0]))
            conn.close()
            return
        target = socket.create_connection((addr, port), timeout=10)
        conn.sendall(bytes([0, 90]) + head[2:8])
    else:
        line = read_until(conn, lambda b: b.strip() != b"" and b.endswith(b"\n"))
        if line is None:
            return
        with open(log, "wb") as f:
            f.write(line)
        host, port = line.decode("latin-1").split()[:2]
        if host not in ("127.0.0.1", "localhost", "::1"):
            return
        target = socket.create_connection((host, int(port)), timeout=10)
    relay(conn, target)


if __name__ == "__main__":
    try:
        main()
    except (OSError, ValueError):
        pass
    os._exit(0)
