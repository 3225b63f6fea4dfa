#!/usr/bin/python3
"""An SSH protocol 1.5 server on 127.0.0.1 for tests, written from the public SSH-1 protocol description.

Server and host RSA keys of chosen sizes, a cipher mask, a password table, a pseudo-terminal request and a tiny
shell. Prints "PORT <n>" once it accepts connections; serves connections one after another until standard input
closes or the hard timeout passes. Events go to --log (one line each) so a test can see what the client did.

    ssh1_peer.py [--server-bits 768] [--host-bits 1024] [--mask 0x4c] [--account user:password]...
                 [--mode normal|bad-crc|huge|wrong-first|refuse-password|disconnect|pty-refused|bad-stdout]
                 [--banner TEXT] [--log FILE] [--timeout S]
    ssh1_peer.py --selftest      checks the ciphers and the CRC against published vectors, exits 0 when all agree

Shell commands (one per line): "bytes N" sends N bytes of pattern then "\\r\\nEND\\r\\n"; "err TEXT" writes TEXT
to standard error; "noise" sends IGNORE and DEBUG packets then "quiet"; "exit N" sends the exit status and waits
for the confirmation; "stty size" answers "ROWS COLUMNS" as the pty request and window-size messages (11, logged
as "window R C X Y") set them; any other line is answered with "you said: LINE".
"""
import argparse
import os
import select
import socket
import struct
import sys
import threading
import time
import zlib

from Cryptodome.Cipher import DES, Blowfish
from Cryptodome.Hash import MD5
from Cryptodome.Util.number import getPrime, inverse

MSG_DISCONNECT, SMSG_PUBLIC_KEY, CMSG_SESSION_KEY, CMSG_USER = 1, 2, 3, 4
CMSG_AUTH_PASSWORD, CMSG_REQUEST_PTY, CMSG_WINDOW_SIZE, CMSG_EXEC_SHELL = 9, 10, 11, 12
SMSG_SUCCESS, SMSG_FAILURE, CMSG_STDIN_DATA, SMSG_STDOUT_DATA, SMSG_STDERR_DATA = 14, 15, 16, 17, 18
SMSG_EXITSTATUS, MSG_IGNORE, CMSG_EXIT_CONFIRMATION, MSG_DEBUG = 20, 32, 33, 36
CIPHER_DES, CIPHER_3DES, CIPHER_BLOWFISH = 2, 3, 6


# ---- primitives ------------------------------------------------------------------------------------------------

def crc32_ssh1(data):
    # Initial value 0 and no final inversion: zlib's form with both inversions undone.
    return zlib.crc32(data, 0xFFFFFFFF) ^ 0xFFFFFFFF


def swap_halves(data):
    """Reverses the bytes of each 32-bit word: SSH-1 Blowfish reads block halves least significant byte first."""
    return b"".join(data[i:i + 4][::-1] for i in range(0, len(data), 4))


class Ssh1Cipher:
    """One direction of an SSH-1 cipher; the CBC chains run on across packets."""

    def __init__(self, number, key, encrypt):
        self.enc = encrypt
        zero = bytes(8)
        if number == CIPHER_DES:
            self.passes = [DES.new(key[0:8], DES.MODE_CBC, zero)]
            self.kinds = [True]
        elif number == CIPHER_3DES:
            # Three full CBC passes, each with its own chain (inner CBC), not EDE per block.
            self.passes = [DES.new(key[i:i + 8], DES.MODE_CBC, zero) for i in (0, 8, 16)]
            self.kinds = [True, False, True]
        elif number == CIPHER_BLOWFISH:
            self.passes = [Blowfish.new(key[0:32], Blowfish.MODE_CBC, zero)]
            self.kinds = [True]
        else:
            raise ValueError("cipher %d" % number)
        self.swap = number == CIPHER_BLOWFISH

    def run(self, data):
        if self.swap:
            data = swap_halves(data)
        steps = list(zip(self.passes, self.kinds))
        if not self.enc:
            steps = [(c, not k) for c, k in reversed(steps)]
        for c, forward in steps:
            data = c.encrypt(data) if forward else c.decrypt(data)
        if self.swap:
            data = swap_halves(data)
        return data


def read_vectors(name):
    """Records of key/iv/plain/cipher from the crypto tests' published-vector files."""
    here = os.path.dirname(os.path.abspath(__file__))
    path = os.path.join(here, "..", "..", "crypto", "data", name)
    records, cur = [], {}
    for line in open(path, encoding="ascii"):
        line = line.strip()
        if not line or line.startswith("#"):
            if cur:
                records.append(cur)
                cur = {}
            continue
        k, v = [x.strip() for x in line.split("=", 1)]
        cur[k] = v[1:-1].encode("ascii") if v.startswith('"') else bytes.fromhex(v)
    if cur:
        records.append(cur)
    return records


def selftest():
    failures = []

    def check(what, got, want):
        if got != want:
            failures.append("%s: got %s want %s" % (what, got.hex(), want.hex()))

    check("crc abc", struct.pack(">I", crc32_ssh1(b"abc")), bytes.fromhex("ca6598d0"))
    for r in read_vectors("des_vectors.txt"):
        mode = (DES.MODE_CBC, r["iv"]) if "iv" in r else (DES.MODE_ECB,)
        check("des " + r["key"].hex(), DES.new(r["key"], *mode).encrypt(r["plain"]), r["cipher"])
    for r in read_vectors("blowfish_vectors.txt"):
        mode = (Blowfish.MODE_CBC, r["iv"]) if "iv" in r else (Blowfish.MODE_ECB,)
        data = r["plain"] + bytes(-len(r["plain"]) % 8)
        check("blowfish " + r["key"].hex(), Blowfish.new(r["key"], *mode).encrypt(data)[:len(r["cipher"])],
              r["cipher"])
    # First blocks with zero chains: SSH-1 3DES is plain EDE there (NIST SP 800-67 example).
    for r in read_vectors("tdes_vectors.txt"):
        check("3des first block", Ssh1Cipher(CIPHER_3DES, r["key"] + bytes(8), True).run(r["plain"][:8]),
              r["cipher"][:8])
    # With one key three times the passes cancel to single DES-CBC; outer-CBC EDE would too, so also require that
    # distinct keys differ from EDE3-CBC from the second block on.
    k = bytes.fromhex("0123456789abcdef") * 3 + bytes(8)
    plain = b"Now is the time for all "
    check("3des equal keys", Ssh1Cipher(CIPHER_3DES, k, True).run(plain),
          DES.new(k[:8], DES.MODE_CBC, bytes(8)).encrypt(plain))
    r = read_vectors("tdes_vectors.txt")[0]
    from Cryptodome.Cipher import DES3
    ede = DES3.new(r["key"], DES3.MODE_CBC, bytes(8)).encrypt(r["plain"])
    ours = Ssh1Cipher(CIPHER_3DES, r["key"] + bytes(8), True).run(r["plain"])
    if ours[:8] != ede[:8] or ours[8:16] == ede[8:16]:
        failures.append("3des passes are not three independent chains")
    # Eric Young's all-zero Blowfish vector with its block halves byte-swapped (a zero key of any length gives
    # the same key schedule, so the 32-byte SSH-1 key meets the 8-byte vector).
    check("ssh1 blowfish", Ssh1Cipher(CIPHER_BLOWFISH, bytes(32), True).run(bytes(8)),
          swap_halves(bytes.fromhex("4ef997456198dd78")))
    for number in (CIPHER_DES, CIPHER_3DES, CIPHER_BLOWFISH):
        key = bytes(range(32))
        data = bytes(range(48))
        e, d = Ssh1Cipher(number, key, True), Ssh1Cipher(number, key, False)
        one = e.run(data[:16]) + e.run(data[16:])
        if d.run(one[:24]) + d.run(one[24:]) != data:
            failures.append("cipher %d does not round-trip across packets" % number)
    for f in failures:
        print("selftest:", f, file=sys.stderr)
    return not failures


# ---- RSA ---------------------------------------------------------------------------------------------------------

class RsaKey:
    def __init__(self, bits):
        e = 65537
        while True:
            p = getPrime(bits - bits // 2)
            q = getPrime(bits // 2)
            n = p * q
            if p != q and n.bit_length() == bits and (p - 1) % e and (q - 1) % e:
                break
        self.n, self.e, self.d = n, e, inverse(e, (p - 1) * (q - 1))
        self.bits = bits
        self.len = (bits + 7) // 8

    def unwrap(self, value):
        """RSA decryption and the PKCS#1 v1.5 type 2 block; None when the block is malformed."""
        block = pow(value, self.d, self.n).to_bytes(self.len, "big")
        if block[0] != 0 or block[1] != 2:
            return None
        end = block.find(b"\x00", 2)
        if end < 10:
            return None
        return int.from_bytes(block[end + 1:], "big")


def mpint(value):
    return struct.pack(">H", value.bit_length()) + value.to_bytes((value.bit_length() + 7) // 8, "big")


# ---- connection --------------------------------------------------------------------------------------------------

class Closed(Exception):
    pass


class Connection:
    def __init__(self, sock, args, server_key, host_key, log):
        self.sock, self.args, self.log = sock, args, log
        self.server_key, self.host_key = server_key, host_key
        self.rx = b""
        self.enc = self.dec = None
        self.sent_stdout = 0

    # -- framing --
    def recv_more(self):
        r, _, _ = select.select([self.sock], [], [], 20)
        if not r:
            raise Closed("read timeout")
        data = self.sock.recv(65536)
        if not data:
            raise Closed("client closed")
        self.rx += data

    def read_line(self):
        while b"\n" not in self.rx:
            if len(self.rx) > 1024:
                raise Closed("identification too long")
            self.recv_more()
        line, self.rx = self.rx.split(b"\n", 1)
        return line

    def read_packet(self):
        while len(self.rx) < 4:
            self.recv_more()
        length = struct.unpack(">I", self.rx[:4])[0]
        if length < 5 or length > 262144:
            raise Closed("bad length %d" % length)
        padded = length + 8 - length % 8
        while len(self.rx) < 4 + padded:
            self.recv_more()
        body, self.rx = self.rx[4:4 + padded], self.rx[4 + padded:]
        if self.dec:
            body = self.dec.run(body)
        if struct.unpack(">I", body[-4:])[0] != crc32_ssh1(body[:-4]):
            raise Closed("bad crc from client")
        pad = padded - length
        return body[pad], body[pad + 1:-4]

    def packet_bytes(self, mtype, data, bad_crc=False):
        length = len(data) + 5
        pad = os.urandom(8 - length % 8)
        body = pad + bytes([mtype]) + data
        crc = crc32_ssh1(body) ^ (0xFFFFFFFF if bad_crc else 0)
        body += struct.pack(">I", crc)
        if self.enc:
            body = self.enc.run(body)
        return struct.pack(">I", length) + body

    def send(self, mtype, data=b"", bad_crc=False):
        self.sock.sendall(self.packet_bytes(mtype, data, bad_crc))

    def stdout(self, data, stream=SMSG_STDOUT_DATA):
        for i in range(0, len(data), 16384):
            chunk = data[i:i + 16384]
            self.send(stream, struct.pack(">I", len(chunk)) + chunk)

    def expect(self, *types):
        mtype, data = self.read_packet()
        if mtype not in types:
            raise Closed("expected %s, got %d" % (types, mtype))
        return mtype, data

    # -- the protocol --
    def run(self):
        a = self.args
        self.sock.sendall(a.banner.encode("ascii") + b"\n")
        client_ident = self.read_line()
        self.log("ident " + client_ident.decode("ascii", "replace"))
        if a.mode == "wrong-first":
            self.send(SMSG_SUCCESS)
            self.read_packet()
            return
        cookie = os.urandom(8)
        sk, hk = self.server_key, self.host_key
        msg = (cookie + struct.pack(">I", sk.bits) + mpint(sk.e) + mpint(sk.n) + struct.pack(">I", hk.bits)
               + mpint(hk.e) + mpint(hk.n) + struct.pack(">III", 0, a.mask, 1 << 3))
        self.send(SMSG_PUBLIC_KEY, msg)
        _, data = self.expect(CMSG_SESSION_KEY)
        number, their_cookie = data[0], data[1:9]
        if their_cookie != cookie:
            raise Closed("cookie changed")
        bits = struct.unpack(">H", data[9:11])[0]
        nbytes = (bits + 7) // 8
        value = int.from_bytes(data[11:11 + nbytes], "big")
        if len(data) != 11 + nbytes + 4:
            raise Closed("session key message has %d bytes" % len(data))
        # The client encrypts with the shorter key first (the host key first when the lengths are equal).
        outer, inner = (hk, sk) if hk.len > sk.len else (sk, hk)
        step = outer.unwrap(value)
        key_int = inner.unwrap(step) if step is not None else None
        if key_int is None:
            raise Closed("session key does not decrypt")
        session_id = MD5.new(hk.n.to_bytes(hk.len, "big") + sk.n.to_bytes(sk.len, "big") + cookie).digest()
        key = bytearray(key_int.to_bytes(32, "big"))
        for i in range(16):
            key[i] ^= session_id[i]
        self.log("cipher %d" % number)
        if not a.mask & (1 << number):
            self.send(MSG_DISCONNECT, b"cipher not offered")
            return
        self.enc, self.dec = Ssh1Cipher(number, bytes(key), True), Ssh1Cipher(number, bytes(key), False)
        self.send(SMSG_SUCCESS)
        self.authenticate()
        mtype, data = self.expect(CMSG_REQUEST_PTY)
        n = struct.unpack(">I", data[:4])[0]
        term = data[4:4 + n].decode("ascii", "replace")
        rows, cols, xp, yp = struct.unpack(">IIII", data[4 + n:20 + n])
        self.log("pty %s %d %d %d %d modes %s" % (term, rows, cols, xp, yp, data[20 + n:].hex()))
        self.send(SMSG_FAILURE if a.mode == "pty-refused" else SMSG_SUCCESS)
        self.expect(CMSG_EXEC_SHELL)
        self.log("shell")
        self.shell(term, rows, cols)

    def authenticate(self):
        accounts = dict(x.split(":", 1) for x in self.args.account)
        while True:
            _, data = self.expect(CMSG_USER)
            user = data[4:4 + struct.unpack(">I", data[:4])[0]].decode("utf-8", "replace")
            self.log("user " + user)
            if accounts.get(user) == "" and self.args.mode != "refuse-password":
                self.send(SMSG_SUCCESS)
                return
            self.send(SMSG_FAILURE)
            _, data = self.expect(CMSG_AUTH_PASSWORD)
            password = data[4:4 + struct.unpack(">I", data[:4])[0]].decode("utf-8", "replace")
            ok = self.args.mode != "refuse-password" and user in accounts and accounts[user] == password
            self.log("password %s" % ("accepted" if ok else "refused"))
            if ok:
                self.send(SMSG_SUCCESS)
                return
            self.send(SMSG_FAILURE)

    def shell(self, term, rows, cols):
        a = self.args
        self.rows, self.cols = rows, cols
        self.stdout(("Welcome to ssh1peer TERM=%s ROWS=%d COLS=%d\r\n" % (term, rows, cols)).encode())
        if a.mode == "disconnect":
            self.send(MSG_DISCONNECT, struct.pack(">I", 7) + b"go away")
            return
        if a.mode == "bad-stdout":
            # The string length disagrees with the packet: a client must drop it and carry on.
            self.send(SMSG_STDOUT_DATA, struct.pack(">I", 3) + b"HIDDEN")
            self.stdout(b"after the bad one\r\n")
        if a.mode == "bad-crc":
            self.sock.sendall(self.packet_bytes(SMSG_STDOUT_DATA, struct.pack(">I", 5) + b"never", bad_crc=True))
        if a.mode == "huge":
            self.sock.sendall(struct.pack(">I", 65528) + os.urandom(4096))
        self.stdout(b"$ ")
        line = b""
        while True:
            mtype, data = self.read_packet()
            if mtype == CMSG_EXIT_CONFIRMATION:
                self.log("exit confirmed")
                return
            if mtype == CMSG_WINDOW_SIZE:
                self.rows, self.cols, xp, yp = struct.unpack(">IIII", data[:16])
                self.log("window %d %d %d %d" % (self.rows, self.cols, xp, yp))
                continue
            if mtype != CMSG_STDIN_DATA:
                self.log("unexpected %d" % mtype)
                continue
            text = data[4:4 + struct.unpack(">I", data[:4])[0]]
            for b in text:
                ch = bytes([b])
                if ch in (b"\r", b"\n"):
                    if ch == b"\n" and not line:
                        continue
                    self.stdout(b"\r\n")
                    if self.command(line.decode("utf-8", "replace")):
                        return
                    line = b""
                    self.stdout(b"$ ")
                else:
                    line += ch
                    self.stdout(ch)

    def command(self, line):
        self.log("line " + line)
        word, _, rest = line.partition(" ")
        if word == "bytes":
            n = int(rest)
            pattern = b"0123456789abcdefghijklmnopqrstuvwxyz\r\n"
            self.stdout((pattern * (n // len(pattern) + 1))[:n] + b"\r\nEND\r\n")
        elif word == "err":
            self.stdout(rest.encode() + b"\r\n", SMSG_STDERR_DATA)
        elif line == "stty size":
            self.stdout(("%d %d\r\n" % (self.rows, self.cols)).encode())
        elif word == "noise":
            self.send(MSG_IGNORE, struct.pack(">I", 4) + b"junk")
            self.send(MSG_DEBUG, struct.pack(">I", 5) + b"debug")
            self.stdout(b"quiet\r\n")
        elif word == "exit":
            self.send(SMSG_EXITSTATUS, struct.pack(">I", int(rest or "0")))
            mtype, _ = self.read_packet()
            self.log("exit confirmed" if mtype == CMSG_EXIT_CONFIRMATION else "no confirmation %d" % mtype)
            return True
        else:
            self.stdout(b"you said: " + line.encode() + b"\r\n")
        return False


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--server-bits", type=int, default=768)
    p.add_argument("--host-bits", type=int, default=1024)
    p.add_argument("--mask", type=lambda s: int(s, 0), default=(1 << 2) | (1 << 3) | (1 << 6))
    p.add_argument("--account", action="append", default=[])
    p.add_argument("--mode", default="normal")
    p.add_argument("--banner", default="SSH-1.5-ssh1peer_1.0")
    p.add_argument("--log")
    p.add_argument("--timeout", type=float, default=60)
    p.add_argument("--selftest", action="store_true")
    a = p.parse_args()
    if a.selftest:
        ok = selftest()
        print("selftest", "ok" if ok else "FAILED")
        sys.exit(0 if ok else 1)

    logf = open(a.log, "a", buffering=1) if a.log else sys.stderr
    lock = threading.Lock()

    def log(text):
        with lock:
            logf.write(text + "\n")
            logf.flush()

    server_key, host_key = RsaKey(a.server_bits), RsaKey(a.host_bits)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    print("PORT %d" % listener.getsockname()[1], flush=True)

    deadline = time.monotonic() + a.timeout

    def stop_on_stdin_close():
        try:
            while sys.stdin.buffer.read(1):
                pass
        except OSError:
            pass
        os._exit(0)

    threading.Thread(target=stop_on_stdin_close, daemon=True).start()
    while time.monotonic() < deadline:
        r, _, _ = select.select([listener], [], [], 0.5)
        if not r:
            continue
        sock, _ = listener.accept()
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            Connection(sock, a, server_key, host_key, log).run()
        except (Closed, OSError, ValueError) as e:
            log("closed: %s" % e)
        finally:
            time.sleep(0.2)
            sock.close()
    os._exit(0)


if __name__ == "__main__":
    main()
