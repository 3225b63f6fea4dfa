#!/usr/bin/python3
"""An SSH server on 127.0.0.1 whose SFTP subsystem is a small hand-written server that misbehaves on purpose.

    hostile_sftp_peer.py --mode dots|fanout [--fan N] [--name-length L] [--max-listings N] [--timeout S]

dots:   every folder's listing is "." and ".." sent again and again, never EOF.
fanout: every path is a folder, and every folder holds --fan folders named by --name-length bytes; after
        --max-listings listings the connection is cut.

Password sign-on (any user, password "wonder"); a shell request gets a line and stays open. Prints "PORT <n>" once
listening and stops when standard input closes or --timeout passes.
"""
import argparse
import asyncio
import os
import struct
import sys
import warnings

warnings.filterwarnings("ignore")
import asyncssh  # noqa: E402

INIT, VERSION, OPEN, CLOSE, READ, LSTAT, OPENDIR, READDIR, STAT, REALPATH = 1, 2, 3, 4, 5, 7, 11, 12, 17, 16
STATUS, HANDLE, NAME, ATTRS = 101, 102, 104, 105
OK, EOF, FAILURE, UNSUPPORTED = 0, 1, 4, 8
PERMISSIONS = 0x4


def u32(v):
    return struct.pack(">I", v)


def string(b):
    if isinstance(b, str):
        b = b.encode()
    return u32(len(b)) + b


def packet(kind, body):
    return u32(len(body) + 1) + bytes([kind]) + body


def folder_attrs():
    return u32(PERMISSIONS) + u32(0o40755)


class sftp_session(asyncssh.SSHServerSession):
    def __init__(self, args, state):
        self.args = args
        self.state = state
        self.chan = None
        self.buf = b""
        self.sftp = False
        self.listed = {}  # handle -> replies sent

    def connection_made(self, chan):
        self.chan = chan

    def shell_requested(self):
        return True

    def pty_requested(self, *a):
        return True

    def subsystem_requested(self, subsystem):
        self.sftp = subsystem == "sftp"
        return self.sftp

    def session_started(self):
        if not self.sftp:
            self.chan.write(b"hostile shell\r\n$ ")

    def data_received(self, data, datatype):
        if not self.sftp:
            return
        self.buf += data
        while len(self.buf) >= 4:
            n = struct.unpack(">I", self.buf[:4])[0]
            if len(self.buf) < 4 + n:
                break
            p, self.buf = self.buf[4:4 + n], self.buf[4 + n:]
            self.handle(p)

    def reply(self, kind, body):
        self.chan.write(packet(kind, body))

    def status(self, rid, code):
        self.reply(STATUS, u32(rid) + u32(code) + string("") + string(""))

    def handle(self, p):
        kind = p[0]
        if kind == INIT:
            return self.reply(VERSION, u32(3))
        rid = struct.unpack(">I", p[1:5])[0]
        rest = p[5:]
        if kind in (STAT, LSTAT):
            return self.reply(ATTRS, u32(rid) + folder_attrs())
        if kind == REALPATH:
            n = struct.unpack(">I", rest[:4])[0]
            path = rest[4:4 + n] or b"/"
            return self.reply(NAME, u32(rid) + u32(1) + string(path) + string(path) + folder_attrs())
        if kind == OPENDIR:
            h = "d%d" % len(self.listed)
            self.listed[h] = 0
            return self.reply(HANDLE, u32(rid) + string(h))
        if kind == READDIR:
            n = struct.unpack(">I", rest[:4])[0]
            h = rest[4:4 + n].decode()
            round_ = self.listed.get(h, 0)
            self.listed[h] = round_ + 1
            if self.args.mode == "dots":
                names = [".", ".."] * 50
                return self.reply(NAME, u32(rid) + u32(len(names)) +
                                  b"".join(string(x) + string(x) + folder_attrs() for x in names))
            if round_ == 0:
                self.state["listings"] += 1
                if self.state["listings"] > self.args.max_listings:
                    self.chan.get_extra_info("connection").abort()
                    return
            # 500 names a reply, as a packet of 2,000 would pass what clients take.
            entries = self.state.get("entries")
            if entries is None:
                width = self.args.name_length
                entries = [string(name) + string(name) + folder_attrs()
                           for name in ("%05d" % i + "f" * (width - 5) for i in range(self.args.fan))]
                self.state["entries"] = entries
            part = entries[round_ * 500:(round_ + 1) * 500]
            if not part:
                return self.status(rid, EOF)
            return self.reply(NAME, u32(rid) + u32(len(part)) + b"".join(part))
        if kind == CLOSE:
            return self.status(rid, OK)
        return self.status(rid, UNSUPPORTED)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mode", choices=["dots", "fanout"], required=True)
    ap.add_argument("--fan", type=int, default=2000)
    ap.add_argument("--name-length", type=int, default=100)
    ap.add_argument("--max-listings", type=int, default=1 << 30)
    ap.add_argument("--timeout", type=float, default=60)
    a = ap.parse_args()
    state = {"listings": 0}

    class server(asyncssh.SSHServer):
        def begin_auth(self, username):
            return True

        def password_auth_supported(self):
            return True

        def validate_password(self, username, password):
            return password == "wonder"

        def session_requested(self):
            return sftp_session(a, state)

    async def run():
        key = asyncssh.generate_private_key("ssh-ed25519")
        srv = await asyncssh.create_server(server, "127.0.0.1", 0, server_host_keys=[key], encoding=None,
                                           line_editor=False)
        print(f"PORT {srv.sockets[0].getsockname()[1]}", flush=True)
        loop = asyncio.get_running_loop()
        done = loop.create_future()
        loop.add_reader(0, lambda: done.done() or (os.read(0, 4096) or done.set_result(True)))
        try:
            await asyncio.wait_for(done, a.timeout)
        except asyncio.TimeoutError:
            pass
        srv.close()

    asyncio.run(run())
    return 0


if __name__ == "__main__":
    sys.exit(main())
