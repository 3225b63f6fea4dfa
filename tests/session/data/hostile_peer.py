#!/usr/bin/env python3
"""A hostile Telnet host on loopback for one client connection.

  hostile_peer.py SCENARIO [MEGABYTES]

Prints the listening port on stdout, takes one client, runs the scenario, then sends the line AFTER-ATTACK and
closes (except `reset`, which aborts the connection). What the client sends is read and thrown away all along, so
answers to a storm never stall the client's writes.

Scenarios:
  flood     printable lines as fast as the client takes them
  subneg    IAC SB TERMINAL-TYPE followed by MEGABYTES of bytes and never an IAC SE until the end
  iac       an IAC storm: NOPs, DO/DONT and WILL/WONT of echo, doubled 255 data bytes
  params    control sequences with huge parameter lists, long DCS and OSC strings
  printer   CSI 5 i, MEGABYTES of lines for the printer, CSI 4 i
  reset     some text, then a TCP reset
  drip      the closing line one byte at a time, 20 ms apart
"""
import socket
import struct
import sys
import threading
import time

IAC, SB, SE, DO, DONT, WILL, WONT, NOP = 255, 250, 240, 253, 254, 251, 252, 241
MARKER = b"\r\nAFTER-ATTACK\r\n"


def drain(conn):
    try:
        while conn.recv(65536):
            pass
    except OSError:
        pass


def finish(conn, reader):
    # Closing with the client's answers still unread would reset the connection and cost the client what it has
    # not read yet: half-close, keep reading until the client closes.
    conn.shutdown(socket.SHUT_WR)
    reader.join(30)
    conn.close()


def send_repeated(conn, block, megabytes):
    total = int(megabytes * (1 << 20))
    sent = 0
    while sent < total:
        chunk = block if total - sent >= len(block) else block[: total - sent]
        conn.sendall(chunk)
        sent += len(chunk)


def block_of(unit, size=1 << 16):
    return (unit * (size // len(unit) + 1))[:size]


def main():
    scenario = sys.argv[1]
    megabytes = float(sys.argv[2]) if len(sys.argv) > 2 else 8
    lsock = socket.socket()
    lsock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    lsock.bind(("127.0.0.1", 0))
    lsock.listen(1)
    print(lsock.getsockname()[1], flush=True)
    lsock.settimeout(30)
    conn, _ = lsock.accept()
    conn.settimeout(120)
    reader = threading.Thread(target=drain, args=(conn,), daemon=True)
    reader.start()

    if scenario == "flood":
        send_repeated(conn, block_of(b"The host floods the client with lines of plain text, 0123456789.\r\n"), megabytes)
    elif scenario == "subneg":
        conn.sendall(bytes([IAC, SB, 24]))
        send_repeated(conn, block_of(b"x"), megabytes)
        conn.sendall(bytes([IAC, SE]))
    elif scenario == "iac":
        unit = bytes([IAC, NOP, IAC, DO, 1, IAC, DONT, 1, IAC, WILL, 1, IAC, WONT, 1, IAC, IAC, 65])
        send_repeated(conn, block_of(unit), megabytes)
        conn.sendall(b"\033[H\033[2J")
    elif scenario == "params":
        huge = b"\033[" + b"9" * 60000 + b"m" + b"\033[" + b";" * 60000 + b"H" + b"\033P" + b"q" * 60000 + b"\033\\"
        huge += b"\033]" + b"0" * 60000 + b"\007" + b"\033[" + b"1;" * 30000 + b"r"
        send_repeated(conn, huge, megabytes)
        conn.sendall(b"\033[r\033[0m\033[H\033[2J")
    elif scenario == "printer":
        conn.sendall(b"\033[5i")
        send_repeated(conn, block_of(b"a line meant for the printer, never for the screen\r\n"), megabytes)
        conn.sendall(b"\033[4i")
    elif scenario == "reset":
        conn.sendall(b"before the reset" + MARKER)
        time.sleep(0.3)
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        conn.close()
        return
    elif scenario == "drip":
        for b in MARKER:
            conn.sendall(bytes([b]))
            time.sleep(0.02)
        finish(conn, reader)
        return
    else:
        print("unknown scenario", file=sys.stderr)
        return
    conn.sendall(MARKER)
    finish(conn, reader)


if __name__ == "__main__":
    main()
