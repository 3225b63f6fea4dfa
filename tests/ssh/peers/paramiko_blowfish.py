#!/usr/bin/python3
"""A paramiko SSH-2 server that speaks blowfish-cbc (registered from python3-cryptography, which paramiko no longer
offers), with diffie-hellman-group1-sha1, ssh-dss and hmac-sha1 only, password log-in and a pty shell that echoes
typed characters and runs "echo TEXT" and "exit". Prints "PORT <n>", logs to --log, exits after --timeout
or when standard input is a pipe and closes.

    paramiko_blowfish.py [--user NAME:PASSWORD] [--log FILE] [--timeout S]
    paramiko_blowfish.py --client PORT --user NAME:PASSWORD --type TEXT [--timeout S]

The second form is a blowfish-cbc client instead: a vt220 pty and a shell, TEXT typed (\\r for Enter), everything
received until the server closes the channel written to standard output.
"""
import argparse
import os
import socket
import stat
import sys
import threading
import time
import warnings

warnings.filterwarnings("ignore")
import paramiko  # noqa: E402
from cryptography.hazmat.primitives.ciphers import algorithms, modes  # noqa: E402

paramiko.Transport._cipher_info["blowfish-cbc"] = {
    "class": algorithms.Blowfish,
    "mode": modes.CBC,
    "block-size": 8,
    "key-size": 16,
}


class Server(paramiko.ServerInterface):
    def __init__(self, users, log):
        self.users = users
        self.log = log
        self.shell = threading.Event()

    def get_allowed_auths(self, username):
        return "password"

    def check_auth_password(self, username, password):
        ok = self.users.get(username) == password
        self.log(f"auth password user={username} " + ("ok" if ok else "wrong"))
        return paramiko.AUTH_SUCCESSFUL if ok else paramiko.AUTH_FAILED

    def check_channel_request(self, kind, chanid):
        self.log(f"channel open {kind}")
        return paramiko.OPEN_SUCCEEDED if kind == "session" else paramiko.OPEN_FAILED_ADMINISTRATIVELY_PROHIBITED

    def check_channel_pty_request(self, channel, term, width, height, pixelwidth, pixelheight, modes):
        self.log(f"pty-req term={term.decode() if isinstance(term, bytes) else term} cols={width} rows={height}")
        return True

    def check_channel_shell_request(self, channel):
        self.shell.set()
        return True


def run_shell(chan, log):
    chan.sendall(b"bf$ ")
    line = b""
    while True:
        data = chan.recv(4096)
        if not data:
            return
        for c in data:
            if c in (13, 10):
                chan.sendall(b"\r\n")
                log("command " + line.decode(errors="replace"))
                if line == b"exit":
                    chan.send_exit_status(0)
                    return
                if line.startswith(b"echo "):
                    chan.sendall(line[5:] + b"\r\n")
                chan.sendall(b"bf$ ")
                line = b""
            else:
                line += bytes([c])
                chan.sendall(bytes([c]))


def fixed_suite(t):
    """Holds a transport to blowfish-cbc, group 1, ssh-dss and hmac-sha1, nothing else."""
    t._preferred_ciphers = ("blowfish-cbc",)
    opts = t.get_security_options()
    opts.ciphers = ("blowfish-cbc",)
    opts.kex = ("diffie-hellman-group1-sha1",)
    opts.key_types = ("ssh-dss",)
    opts.digests = ("hmac-sha1",)
    return opts


def handle(sock, users, host_key, log, timeout):
    t = paramiko.Transport(sock)
    fixed_suite(t).compression = ("none",)
    t.add_server_key(host_key)
    server = Server(users, log)
    try:
        t.start_server(server=server)
        chan = t.accept(timeout)
        if chan is None:
            log("no channel")
            return
        if not server.shell.wait(timeout):
            log("no shell")
            return
        log(f"cipher {t.remote_cipher}/{t.local_cipher} mac {t.remote_mac}")
        run_shell(chan, log)
        time.sleep(0.2)
        chan.close()
        log("shell done")
    except (paramiko.SSHException, EOFError, OSError) as e:
        log(f"ended: {e}")
    finally:
        t.close()


def watch_stdin():
    """Started by a test with a pipe as standard input: its end is the signal to go."""
    if not stat.S_ISFIFO(os.fstat(0).st_mode):
        return

    def wait():
        while os.read(0, 4096):
            pass
        os._exit(0)

    threading.Thread(target=wait, daemon=True).start()


def run_client(port, user, password, text, timeout):
    t = paramiko.Transport(socket.create_connection(("127.0.0.1", port), timeout=timeout))
    fixed_suite(t)
    t.start_client(timeout=timeout)
    t.auth_password(user, password)
    chan = t.open_session()
    chan.get_pty("vt220", 80, 24)
    chan.invoke_shell()
    chan.sendall(text.replace("\\r", "\r").encode())
    chan.settimeout(timeout)
    out = sys.stdout.buffer
    while True:
        data = chan.recv(65536)
        if not data:
            break
        out.write(data)
    out.flush()
    t.close()
    return 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--client", type=int, default=0, help="PORT: be a client of that server")
    ap.add_argument("--type", default="")
    ap.add_argument("--user", action="append", default=[], help="NAME:PASSWORD")
    ap.add_argument("--log", default=None)
    ap.add_argument("--timeout", type=float, default=60)
    a = ap.parse_args()
    users = dict(u.split(":", 1) for u in a.user) or {"peer": "secret"}
    if a.client:
        user, password = next(iter(users.items()))
        return run_client(a.client, user, password, a.type, a.timeout)
    lock = threading.Lock()
    out = open(a.log, "a", buffering=1) if a.log else sys.stderr

    def log(text):
        with lock:
            out.write(text + "\n")
            out.flush()

    watch_stdin()
    host_key = paramiko.DSSKey.generate(1024)
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", 0))
    srv.listen(4)
    srv.settimeout(0.5)
    print(f"PORT {srv.getsockname()[1]}", flush=True)
    end = time.monotonic() + a.timeout
    while time.monotonic() < end:
        try:
            sock, _ = srv.accept()
        except socket.timeout:
            continue
        threading.Thread(target=handle, args=(sock, users, host_key, log, a.timeout), daemon=True).start()
    return 0


if __name__ == "__main__":
    sys.exit(main())
