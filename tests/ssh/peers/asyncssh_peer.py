#!/usr/bin/python3
"""An asyncssh SSH server on 127.0.0.1: a second implementation beside OpenSSH's, for the key exchange and the file
transfer tests.

Password sign-on for one user; a shell request gets "$ " and answers each line with "ran: LINE" and a new "$ ".
--kex limits the key exchange to the methods given (asyncssh picks its own group exchange groups, not
/etc/ssh/moduli); --root serves SFTP from the real file system under DIR (paths are taken under it, as asyncssh's
chroot does). Prints "PORT <n>" once listening and stops when standard input closes or --timeout passes.

    asyncssh_peer.py [--kex NAME]... [--root DIR] [--user NAME --password PW] [--timeout S]
"""
import argparse
import asyncio
import os
import sys
import warnings

warnings.filterwarnings("ignore")
import asyncssh  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--kex", action="append")
    ap.add_argument("--root")
    ap.add_argument("--user", default="alice")
    ap.add_argument("--password", default="wonder")
    ap.add_argument("--timeout", type=float, default=60)
    a = ap.parse_args()

    class server(asyncssh.SSHServer):
        def begin_auth(self, username):
            return True

        def password_auth_supported(self):
            return True

        def validate_password(self, username, password):
            return username == a.user and password == a.password

    async def shell(process):
        process.stdout.write("$ ")
        line = ""
        try:
            while True:
                c = await process.stdin.read(1)
                if not c:
                    break
                if c in "\r\n":
                    process.stdout.write(f"\r\nran: {line}\r\n$ ")
                    line = ""
                else:
                    line += c
        except Exception:
            pass
        process.exit(0)

    options = {}
    if a.kex:
        options["kex_algs"] = a.kex
    if a.root:
        options["sftp_factory"] = lambda chan: asyncssh.SFTPServer(chan, chroot=a.root.encode())
        options["allow_scp"] = False

    async def run():
        key = asyncssh.generate_private_key("ssh-ed25519")
        srv = await asyncssh.create_server(server, "127.0.0.1", 0, server_host_keys=[key], process_factory=shell,
                                           **options)
        port = srv.sockets[0].getsockname()[1]
        print(f"PORT {port}", flush=True)
        loop = asyncio.get_running_loop()
        done = loop.create_future()
        loop.add_reader(0, lambda: done.done() or (os.read(0, 4096) or done.set_result(True)))
        try:
            await asyncio.wait_for(done, a.timeout)
        except asyncio.TimeoutError:
            pass
        srv.close()

    asyncio.run(run())


if __name__ == "__main__":
    sys.exit(main())
