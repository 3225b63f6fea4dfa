#!/usr/bin/env python3
"""vtsession against loopback peers that fail in known ways: each message names its cause on a second line.

  connect_causes_test.py VTSESSION

A closed port, a name the stub resolver does not know (vtsession --resolve: no query leaves the machine), SOCKS 5
and SOCKS 4 proxies that refuse, a SOCKS 5 proxy that grants, and Telnet hosts that close in order or reset.
"""
import socket
import struct
import subprocess
import sys
import threading
import time

FIRST = "Sorry, cannot create a connection to the selected host."
LOST = "Connection to host has been lost"


def closed_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def serve(handler, connections=1):
    """A loopback listener running handler(conn) for each of the first `connections` connections."""
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.bind(("127.0.0.1", 0))
    srv.listen(4)
    srv.settimeout(20)
    log = []

    def run():
        for _ in range(connections):
            try:
                conn, _ = srv.accept()
            except OSError:
                return
            conn.settimeout(10)
            try:
                handler(conn, log)
            except OSError as e:
                log.append("peer error: %s" % e)
        srv.close()

    t = threading.Thread(target=run, daemon=True)
    t.start()
    return srv.getsockname()[1], log, t


def read_exactly(conn, n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            raise OSError("closed after %d of %d bytes" % (len(data), n))
        data += chunk
    return data


def telnet_host(mode):
    def handler(conn, log):
        conn.sendall(b"hello from the host\r\n")
        time.sleep(0.3)  # the client has read the line before the end comes
        if mode == "reset":
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        else:
            conn.shutdown(socket.SHUT_WR)
            conn.settimeout(2)
            try:
                while conn.recv(4096):
                    pass
            except OSError:
                pass
        conn.close()
    return handler


def socks5_proxy(reply_code):
    """Method choice 'no authentication', then the CONNECT reply; a grant relays nothing but says where it went."""
    def handler(conn, log):
        greeting = read_exactly(conn, 3)
        log.append(greeting)
        conn.sendall(b"\x05\x00")
        head = read_exactly(conn, 4)
        if head[3] == 3:
            n = read_exactly(conn, 1)[0]
            target = read_exactly(conn, n).decode()
        elif head[3] == 1:
            target = socket.inet_ntoa(read_exactly(conn, 4))
        else:
            raise OSError("address type %d" % head[3])
        port = struct.unpack(">H", read_exactly(conn, 2))[0]
        log.append((head[:3], head[3], target, port))
        conn.sendall(bytes([5, reply_code, 0, 1, 127, 0, 0, 1, 0x10, 0x00]))
        if reply_code == 0:
            conn.sendall(("connected to %s:%d\r\n" % (target, port)).encode())
            time.sleep(0.3)
            conn.shutdown(socket.SHUT_WR)
            time.sleep(0.5)
        conn.close()
    return handler


def socks4_refusing(conn, log):
    request = conn.recv(64)
    log.append(request)
    conn.sendall(bytes([0, 91, 0, 0, 0, 0, 0, 0]))
    time.sleep(0.2)
    conn.close()


def run(vtsession, host, port, args=(), timeout_s=12):
    cmd = [vtsession, "--host", host, "--port", str(port), "--timeout", str(timeout_s)] + list(args)
    started = time.monotonic()
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=timeout_s + 30)
    return p.returncode, p.stdout, p.stderr, time.monotonic() - started


def main():
    vtsession = sys.argv[1]
    failures = []

    def check(name, ok, detail):
        print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + detail))
        if not ok:
            failures.append(name)

    # A closed port: refused at once.
    refusing = closed_port()
    rc, out, err, took = run(vtsession, "127.0.0.1", refusing)
    want = FIRST + "\nCannot connect to 127.0.0.1:%d: the connection was refused." % refusing
    check("closed port", rc == 1 and want in err and took < 8, "rc %d after %.1f s, stderr %r" % (rc, took, err))

    # A name the stub resolver does not know; a name it knows reaches the host.
    port, _, _ = serve(telnet_host("orderly"))
    stub = ["--resolve", "peer.test=127.0.0.1"]
    rc, out, err, _ = run(vtsession, "nowhere.invalid", port, stub)
    want = FIRST + "\nThe name could not be resolved: nowhere.invalid (Host not found)"
    check("unknown name", rc == 1 and want in err, "rc %d, stderr %r" % (rc, err))
    # The system resolver's words, for a name it refuses without sending a query (an empty label).
    rc, out, err, _ = run(vtsession, "bad..name", port)
    want = FIRST + "\nThe name could not be resolved: bad..name (Invalid hostname)"
    check("malformed name", rc == 1 and want in err, "rc %d, stderr %r" % (rc, err))
    rc, out, err, _ = run(vtsession, "peer.test", port, stub + ["--expect", "hello from the host"])
    check("known name reaches the host", rc == 0 and "hello from the host" in out, "rc %d, stderr %r" % (rc, err))

    # Telnet hosts that end the session: in order, or with a reset.
    for mode, want in (("orderly", LOST + "\nThe host 127.0.0.1:%d closed the connection."),
                       ("reset", LOST + "\nThe connection to 127.0.0.1:%d was reset.")):
        port, _, t = serve(telnet_host(mode))
        want %= port
        rc, out, err, _ = run(vtsession, "127.0.0.1", port, ["--expect", "hello from the host"])
        t.join(5)
        check("telnet host closes: " + mode,
              "hello from the host" in out and want in err,
              "rc %d, stdout %r, stderr %r" % (rc, out, err))

    # Proxies: SOCKS 5 refusing with code 5 and granting, SOCKS 4 refusing with 91.
    def through(proxy_port, version, host="far.example"):
        sets = ["proxy_enable=1", "proxy_host=127.0.0.1", "proxy_port=%d" % proxy_port,
                "proxy_socks_enable=%d" % version]
        return run(vtsession, host, 2323, [a for s in sets for a in ("--set", s)] + stub)

    port, log, t = serve(socks5_proxy(5))
    rc, out, err, _ = through(port, 5)
    t.join(5)
    want = LOST + "\nThe SOCKS 5 proxy refused the connection: code 5 (connection refused)."
    check("SOCKS 5 refusal", want in err, "stderr %r, proxy saw %r" % (err, log))
    check("SOCKS 5 asks the proxy for the name itself",
          log[:2] == [b"\x05\x01\x00", (b"\x05\x01\x00", 3, "far.example", 2323)], "proxy saw %r" % log)

    port, log, t = serve(socks5_proxy(0))
    rc, out, err, _ = through(port, 5)
    t.join(5)
    check("SOCKS 5 grant", "connected to far.example:2323" in out and "The host far.example:2323 closed the connection." in err,
          "rc %d, stdout %r, stderr %r" % (rc, out, err))

    port, log, t = serve(socks4_refusing)
    rc, out, err, _ = through(port, 4, "10.0.0.7")
    t.join(5)
    want = LOST + "\nThe SOCKS 4 proxy refused the connection: code 91 (request rejected or failed)."
    check("SOCKS 4 refusal", want in err, "stderr %r, proxy saw %r" % (err, log))

    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
