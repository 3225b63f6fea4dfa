#!/usr/bin/python3
"""A small scriptable SSH-2 server for tests, written from RFC 4253, 4252 and 4254.

One suite: diffie-hellman-group1-sha1, ssh-dss (key made at start), 3des-cbc or blowfish-cbc, hmac-sha1, no
compression. Password log-in from a table, one session channel with pty-req and shell, and a tiny shell that echoes
what is typed and runs a line on CR:
    echo TEXT    prints TEXT
    send N       prints N bytes of numbered lines, then "sent N bytes"
    stderr       prints a line as extended data (standard error)
    exit         exit-status 0, CHANNEL_CLOSE (and data after it), connection closed a second later
The server starts a re-exchange after --rekey-bytes bytes of channel data. --mode picks a hostile behaviour (see
MODES). What happened is appended to --log, one line per event. Prints "PORT <n>" when listening; exits by itself
after --timeout seconds, or when standard input is a pipe and closes.

    ssh2_peer.py [--mode M] [--user NAME:PASSWORD]... [--rekey-bytes N] [--log FILE] [--timeout S]
    ssh2_peer.py --self-test
"""
import argparse
import hashlib
import hmac
import os
import secrets
import socket
import stat
import struct
import sys
import threading
import time
import warnings

warnings.filterwarnings("ignore")
from cryptography.hazmat.primitives import hashes  # noqa: E402
from cryptography.hazmat.primitives.asymmetric import dsa, utils  # noqa: E402
from Cryptodome.Cipher import DES3, Blowfish  # noqa: E402

MODES = {
    "normal": "a well-behaved server",
    "bad-mac": "the MAC of the first packet after NEWKEYS (SERVICE_ACCEPT) is corrupted",
    "bad-sig": "the KEXDH_REPLY signature does not verify",
    "oversize": "before keys, a packet whose length + 4 is 65535",
    "oversize-huge": "before keys, a packet length field of 1 MiB; the connection is closed 0.1 s later",
    "truncated-kexdh-reply": "the signature string of KEXDH_REPLY runs past the end of the packet",
    "channel-open-failure": "CHANNEL_OPEN is answered with CHANNEL_OPEN_FAILURE",
    "passwd-changereq": "a right password is answered with USERAUTH_PASSWD_CHANGEREQ",
    "data-past-window": "after the shell starts, 3000 bytes more than the client's window are sent at once",
    "keepalive": "after the shell starts, keepalive@openssh.com global and channel requests with want-reply",
    "bare-lf": "identification ended by LF alone, KEXINIT in the same write",
    "pre-banner": "text lines before the identification line",
    "client-first": "the server waits for the client's identification before sending its own",
    "disconnect": "the first USERAUTH_REQUEST is answered with DISCONNECT reason 2 and a text, then the close",
    "pty-refused": "pty-req is answered with CHANNEL_FAILURE",
    "unknown-message": "after the shell starts, message 150 and an x11 CHANNEL_OPEN; the shell says whether the "
                       "client answered UNIMPLEMENTED and CHANNEL_OPEN_FAILURE",
    "aes-only": "KEXINIT offers the suite but aes128-ctr as the only cipher; the client's KEXINIT is logged and "
                "anything after it is a client that went on",
    "modern-only": "KEXINIT offers curve25519-sha256, ssh-ed25519, aes128-ctr and hmac-sha2-256 only; the client's "
                   "KEXINIT is logged and anything after it is a client that went on",
}

# The lists (kex, host key, cipher, MAC) a limited mode offers instead of the suite.
LIMITED = {
    "aes-only": (["diffie-hellman-group1-sha1"], ["ssh-dss"], ["aes128-ctr"], ["hmac-sha1"]),
    "modern-only": (["curve25519-sha256"], ["ssh-ed25519"], ["aes128-ctr"], ["hmac-sha2-256"]),
}

# RFC 2409 second Oakley group.
P = int(
    "FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD129024E088A67CC74020BBEA63B139B22514A08798E3404DD"
    "EF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245E485B576625E7EC6F44C42E9A637ED6B0BFF5CB6F406B7ED"
    "EE386BFB5A899FA5AE9F24117C4B1FE649286651ECE65381FFFFFFFFFFFFFFFF", 16)
G = 2

MSG_DISCONNECT, MSG_IGNORE, MSG_UNIMPLEMENTED, MSG_DEBUG = 1, 2, 3, 4
MSG_SERVICE_REQUEST, MSG_SERVICE_ACCEPT = 5, 6
MSG_KEXINIT, MSG_NEWKEYS, MSG_KEXDH_INIT, MSG_KEXDH_REPLY = 20, 21, 30, 31
MSG_USERAUTH_REQUEST, MSG_USERAUTH_FAILURE, MSG_USERAUTH_SUCCESS, MSG_USERAUTH_PASSWD_CHANGEREQ = 50, 51, 52, 60
MSG_GLOBAL_REQUEST, MSG_REQUEST_SUCCESS, MSG_REQUEST_FAILURE = 80, 81, 82
MSG_CHANNEL_OPEN, MSG_CHANNEL_OPEN_CONFIRMATION, MSG_CHANNEL_OPEN_FAILURE = 90, 91, 92
MSG_CHANNEL_WINDOW_ADJUST, MSG_CHANNEL_DATA, MSG_CHANNEL_EXTENDED_DATA = 93, 94, 95
MSG_CHANNEL_EOF, MSG_CHANNEL_CLOSE, MSG_CHANNEL_REQUEST = 96, 97, 98
MSG_CHANNEL_SUCCESS, MSG_CHANNEL_FAILURE = 99, 100

SERVER_ID = b"SSH-2.0-qtpeer_1.0"
SERVER_CHANNEL = 7
MAX_PACKET = 35000


class Closed(Exception):
    pass


# --- wire encoding -----------------------------------------------------------------------------------------------

def u32(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


def sstr(b):
    if isinstance(b, str):
        b = b.encode()
    return u32(len(b)) + b


def mpint(v):
    if v == 0:
        return u32(0)
    b = v.to_bytes((v.bit_length() + 8) // 8, "big")  # a leading zero byte keeps it positive
    return sstr(b)


def namelist(names):
    return sstr(",".join(names))


class Reader:
    def __init__(self, data):
        self.d, self.i = data, 0

    def take(self, n):
        if n < 0 or self.i + n > len(self.d):
            raise ValueError("field runs past the packet")
        b = self.d[self.i:self.i + n]
        self.i += n
        return b

    def byte(self):
        return self.take(1)[0]

    def u32(self):
        return struct.unpack(">I", self.take(4))[0]

    def string(self):
        return self.take(self.u32())

    def mpint(self):
        return int.from_bytes(self.string(), "big", signed=True)

    def names(self):
        s = self.string().decode()
        return s.split(",") if s else []


# --- algorithms --------------------------------------------------------------------------------------------------

class CbcCipher:
    """One direction of a CBC cipher; the chaining value carries over between packets."""

    def __init__(self, name, key, iv, encrypt):
        if name == "3des-cbc":
            self.c = DES3.new(key[:24], DES3.MODE_CBC, iv[:8])
        else:
            self.c = Blowfish.new(key[:16], Blowfish.MODE_CBC, iv[:8])
        self.run = self.c.encrypt if encrypt else self.c.decrypt


CIPHERS = ["3des-cbc", "blowfish-cbc"]


def self_test():
    """Blowfish-CBC and 3DES-CBC of pycryptodome against published answers and against python3-cryptography."""
    from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
    ok = True
    # Schneier's first ECB vector and the CBC vector of Eric Young's test set.
    if Blowfish.new(bytes(8), Blowfish.MODE_ECB).encrypt(bytes(8)).hex() != "4ef997456198dd78":
        ok = False
    key = bytes.fromhex("0123456789ABCDEFF0E1D2C3B4A59687")
    iv = bytes.fromhex("FEDCBA9876543210")
    data = b"7654321 Now is the time for \0\0\0\0"
    want = "6b77b4d63006dee605b156e27403979358deb9e7154616d959f1652bd5ff92cc"
    enc = CbcCipher("blowfish-cbc", key, iv, True)
    got = enc.run(data[:16]) + enc.run(data[16:])  # split across two calls, as packets are
    if got.hex() != want:
        ok = False
    e = Cipher(algorithms.Blowfish(key), modes.CBC(iv)).encryptor()
    if (e.update(data) + e.finalize()).hex() != want:
        ok = False
    k3 = secrets.token_bytes(24)
    iv3 = secrets.token_bytes(8)
    msg = secrets.token_bytes(64)
    e = Cipher(algorithms.TripleDES(k3), modes.CBC(iv3)).encryptor()
    enc = CbcCipher("3des-cbc", k3, iv3, True)
    if enc.run(msg[:8]) + enc.run(msg[8:]) != e.update(msg) + e.finalize():
        ok = False
    dec = CbcCipher("blowfish-cbc", key, iv, False)
    if dec.run(bytes.fromhex(want)) != data:
        ok = False
    print("self-test " + ("ok" if ok else "FAILED"))
    return 0 if ok else 1


# --- one connection ----------------------------------------------------------------------------------------------

class Connection:
    def __init__(self, sock, args, host_key, log):
        self.s = sock
        self.a = args
        self.mode = args.mode
        self.host_key = host_key
        self.log = log
        self.rbuf = b""
        self.seq_in = self.seq_out = 0
        self.enc_in = self.enc_out = None
        self.mac_in = self.mac_out = None
        self.pending_in = self.pending_out = None
        self.session_id = None
        self.v_c = b""
        self.i_s = b""
        self.kex_running = False
        self.cipher = None
        self.data_since_kex = 0
        self.client_channel = None
        self.client_window = 0
        self.window_adjusts = 0
        self.shell = False
        self.typed = b""
        self.echo = b""
        self.lines = []
        self.closing = False
        self.first_newkeys_done = False
        self.keepalive_replies = []

    # -- raw socket
    def recv_some(self):
        b = self.s.recv(65536)
        if not b:
            raise Closed()
        self.rbuf += b

    def need(self, n):
        while len(self.rbuf) < n:
            self.recv_some()
        out, self.rbuf = self.rbuf[:n], self.rbuf[n:]
        return out

    # -- packets
    def frame(self, payload):
        block = 8
        pad = block - (len(payload) + 5) % block
        if pad < 4:
            pad += block
        body = u32(len(payload) + pad + 1) + bytes([pad]) + payload + secrets.token_bytes(pad)
        mac = b""
        if self.enc_out:
            mac = hmac.new(self.mac_out, u32(self.seq_out) + body, hashlib.sha1).digest()
            body = self.enc_out.run(body)
        self.seq_out = (self.seq_out + 1) & 0xFFFFFFFF
        return body + mac

    def send(self, payload, corrupt_mac=False):
        wire = self.frame(payload)
        if corrupt_mac:
            wire = wire[:-1] + bytes([wire[-1] ^ 0x01])
        self.s.sendall(wire)

    def read_packet(self):
        if self.enc_in:
            first = self.enc_in.run(self.need(8))
        else:
            first = self.need(5)
        length = struct.unpack(">I", first[:4])[0]
        if length > MAX_PACKET or length < 5:
            self.log(f"bad packet length {length}")
            raise Closed()
        rest_len = length + 4 - len(first)
        rest = self.need(rest_len)
        if self.enc_in:
            rest = self.enc_in.run(rest)
        body = first + rest
        if self.enc_in:
            mac = self.need(20)
            want = hmac.new(self.mac_in, u32(self.seq_in) + body, hashlib.sha1).digest()
            if not hmac.compare_digest(mac, want):
                self.log(f"client mac wrong seq={self.seq_in}")
                raise Closed()
        self.seq_in = (self.seq_in + 1) & 0xFFFFFFFF
        pad = body[4]
        if pad < 4 or (len(body)) % 8 != 0:
            self.log(f"client padding wrong pad={pad} total={len(body)}")
        return body[5:len(body) - pad]

    # -- identification
    def identification(self):
        kexinit = self.make_kexinit()
        if self.mode == "pre-banner":
            self.s.sendall(b"Welcome to the test peer\r\nsecond line before the version\r\n")
            time.sleep(0.1)
        if self.mode == "bare-lf":
            self.s.sendall(SERVER_ID + b"\n" + self.frame(kexinit))
            self.kex_running = True
        elif self.mode != "client-first":
            self.s.sendall(SERVER_ID + b"\r\n")
        line = b""
        while not line.endswith(b"\n"):
            if len(line) > 255:
                self.log("client identification too long")
                raise Closed()
            if not self.rbuf:
                self.recv_some()
            line += self.rbuf[:1]
            self.rbuf = self.rbuf[1:]
        self.v_c = line.rstrip(b"\r\n")
        if self.mode == "client-first":
            self.s.sendall(SERVER_ID + b"\r\n")
        self.log("ident " + self.v_c.decode(errors="replace") + (" crlf" if line.endswith(b"\r\n") else " lf"))
        if self.mode == "oversize":
            # 65531 + 4 = 65535 bytes, all of it a plausible packet of padding.
            self.s.sendall(u32(65531) + bytes([4]) + bytes([MSG_IGNORE]) + b"\0" * 65529)
            self.log("sent oversize packet")
            return False
        if self.mode == "oversize-huge":
            self.s.sendall(u32(1 << 20) + bytes([4]) + b"\0" * 300)
            self.log("sent huge packet length")
            time.sleep(0.1)
            return False
        if self.mode != "bare-lf":
            self.send(kexinit)
            self.kex_running = True
        return True

    def make_kexinit(self):
        kex, hostkey, ciphers, macs = LIMITED.get(self.mode, (["diffie-hellman-group1-sha1"], ["ssh-dss"], CIPHERS,
                                                              ["hmac-sha1"]))
        p = (bytes([MSG_KEXINIT]) + secrets.token_bytes(16) + namelist(kex) + namelist(hostkey) +
             namelist(ciphers) * 2 + namelist(macs) * 2 + namelist(["none"]) * 2 + namelist([]) * 2 + b"\0" +
             u32(0))
        self.i_s = p
        return p

    # -- key exchange
    def on_kexinit(self, payload):
        if not self.kex_running:
            self.send(self.make_kexinit())
            self.kex_running = True
        self.i_c = payload
        r = Reader(payload[17:])
        kex, hostkey = r.names(), r.names()
        enc_cs, enc_sc, mac_cs, mac_sc = r.names(), r.names(), r.names(), r.names()
        comp_cs, comp_sc = r.names(), r.names()
        r.names(), r.names()
        follows = r.byte()
        r.u32()
        self.cipher = next((c for c in enc_cs if c in CIPHERS), None)
        cipher_sc = next((c for c in enc_sc if c in CIPHERS), None)
        self.log(f"kexinit kex={','.join(kex)} hostkey={','.join(hostkey)} enc={','.join(enc_cs)} "
                 f"mac={','.join(mac_cs)} comp={','.join(comp_cs)} follows={follows}")
        if self.mode in LIMITED:
            # Nothing in common: a client must stop here; wait for it to give up.
            while True:
                self.read_packet()
                self.log("client went on after a KEXINIT with nothing in common")
        if ("diffie-hellman-group1-sha1" not in kex or "ssh-dss" not in hostkey or self.cipher is None
                or cipher_sc != self.cipher or "hmac-sha1" not in mac_cs or "hmac-sha1" not in mac_sc
                or "none" not in comp_cs or "none" not in comp_sc):
            self.log("no common algorithms")
            raise Closed()

    def host_key_blob(self):
        n = self.host_key.public_key().public_numbers()
        pn = n.parameter_numbers
        return sstr("ssh-dss") + mpint(pn.p) + mpint(pn.q) + mpint(pn.g) + mpint(n.y)

    def on_kexdh_init(self, payload):
        r = Reader(payload[1:])
        e = r.mpint()
        if not 1 < e < P - 1:
            self.log("client e out of range")
            raise Closed()
        y = secrets.randbelow(P - 3) + 2
        f = pow(G, y, P)
        k = pow(e, y, P)
        k_s = self.host_key_blob()
        h = hashlib.sha1(sstr(self.v_c) + sstr(SERVER_ID) + sstr(self.i_c) + sstr(self.i_s) + sstr(k_s) +
                         mpint(e) + mpint(f) + mpint(k)).digest()
        der = self.host_key.sign(h, hashes.SHA1())
        rr, ss = utils.decode_dss_signature(der)
        if self.mode == "bad-sig":
            ss = ss ^ 1
        sig_blob = sstr("ssh-dss") + sstr(rr.to_bytes(20, "big") + ss.to_bytes(20, "big"))
        reply = bytes([MSG_KEXDH_REPLY]) + sstr(k_s) + mpint(f)
        if self.mode == "truncated-kexdh-reply":
            reply += u32(len(sig_blob) + 4) + sig_blob[:10]
            self.log("sent truncated kexdh reply")
        else:
            reply += sstr(sig_blob)
        self.send(reply)
        if self.mode == "bad-sig":
            self.log("sent bad signature")
        if self.mode in ("bad-sig", "truncated-kexdh-reply"):
            # A client must not go on; wait for it to give up.
            while True:
                self.read_packet()
                self.log("client went on after a reply it must refuse")
        if self.session_id is None:
            self.session_id = h
        self.send(bytes([MSG_NEWKEYS]))
        keys = {c: self.derive(k, h, c) for c in "ABCDEF"}
        self.enc_out = CbcCipher(self.cipher, keys["D"], keys["B"], True)
        self.mac_out = keys["F"][:20]
        self.pending_in = (CbcCipher(self.cipher, keys["C"], keys["A"], False), keys["E"][:20])
        self.kex_running = False
        self.data_since_kex = 0

    def derive(self, k, h, letter):
        out = hashlib.sha1(mpint(k) + h + letter.encode() + self.session_id).digest()
        out += hashlib.sha1(mpint(k) + h + out).digest()
        return out

    def on_newkeys(self):
        if self.pending_in is None:
            self.log("client NEWKEYS before the exchange")
            raise Closed()
        self.enc_in, self.mac_in = self.pending_in
        self.pending_in = None
        self.log(f"newkeys {self.cipher}" + (" rekey" if self.first_newkeys_done else ""))
        self.first_newkeys_done = True

    def rekey(self):
        self.log(f"rekey after {self.data_since_kex} bytes")
        self.send(self.make_kexinit())
        self.kex_running = True
        while self.kex_running or self.pending_in is not None:
            self.dispatch(self.read_packet())

    # -- packet dispatch
    def dispatch(self, p):
        t = p[0]
        if t == MSG_KEXINIT:
            self.on_kexinit(p)
        elif t == MSG_KEXDH_INIT:
            self.on_kexdh_init(p)
        elif t == MSG_NEWKEYS:
            self.on_newkeys()
        elif t == MSG_SERVICE_REQUEST:
            name = Reader(p[1:]).string()
            self.log("service request " + name.decode(errors="replace"))
            self.send(bytes([MSG_SERVICE_ACCEPT]) + sstr(name), corrupt_mac=self.mode == "bad-mac")
            if self.mode == "bad-mac":
                self.log("sent corrupted mac")
        elif t == MSG_USERAUTH_REQUEST:
            self.on_userauth(Reader(p[1:]))
        elif t == MSG_CHANNEL_OPEN:
            self.on_channel_open(Reader(p[1:]))
        elif t == MSG_CHANNEL_REQUEST:
            self.on_channel_request(Reader(p[1:]))
        elif t == MSG_CHANNEL_WINDOW_ADJUST:
            r = Reader(p[1:])
            r.u32()
            n = r.u32()
            self.client_window += n
            self.window_adjusts += 1
            self.log(f"window adjust {n}")
        elif t == MSG_CHANNEL_DATA:
            r = Reader(p[1:])
            r.u32()
            self.on_typed(r.string())
        elif t in (MSG_REQUEST_SUCCESS, MSG_REQUEST_FAILURE, MSG_CHANNEL_SUCCESS, MSG_CHANNEL_FAILURE):
            self.keepalive_replies.append(t)
            self.log(f"reply {t}")
        elif t == MSG_UNIMPLEMENTED:
            self.log(f"client unimplemented seq={Reader(p[1:]).u32()}")
            self.keepalive_replies.append(t)
        elif t == MSG_CHANNEL_OPEN_FAILURE:
            r = Reader(p[1:])
            self.log(f"client refused channel {r.u32()} reason={r.u32()}")
            self.keepalive_replies.append(t)
        elif t in (MSG_IGNORE, MSG_DEBUG, MSG_CHANNEL_EOF):
            pass
        elif t == MSG_DISCONNECT:
            self.log("client disconnect message")
            raise Closed()
        else:
            self.log(f"unexpected message {t}")
            self.send(bytes([MSG_UNIMPLEMENTED]) + u32(self.seq_in - 1))

    def on_userauth(self, r):
        user, service, method = r.string().decode(errors="replace"), r.string(), r.string()
        if self.mode == "disconnect":
            self.send(bytes([MSG_DISCONNECT]) + u32(2) + sstr("Too many authentication failures") + sstr(""))
            self.log("sent disconnect")
            raise Closed()
        if method != b"password":
            self.log(f"auth {method.decode(errors='replace')} user={user}")
            self.send(bytes([MSG_USERAUTH_FAILURE]) + namelist(["password"]) + b"\0")
            return
        change = r.byte()
        password = r.string().decode(errors="replace")
        good = self.a.users.get(user) == password and service == b"ssh-connection"
        self.log(f"auth password user={user} length={len(password)} change={change} " + ("ok" if good else "wrong"))
        if not good:
            self.send(bytes([MSG_USERAUTH_FAILURE]) + namelist(["password"]) + b"\0")
        elif self.mode == "passwd-changereq":
            self.send(bytes([MSG_USERAUTH_PASSWD_CHANGEREQ]) + sstr("Password expired") + sstr(""))
        else:
            self.send(bytes([MSG_USERAUTH_SUCCESS]))

    def on_channel_open(self, r):
        kind, ch, window, maxpkt = r.string(), r.u32(), r.u32(), r.u32()
        self.log(f"channel open {kind.decode(errors='replace')} channel={ch} window={window} max={maxpkt}")
        if self.mode == "channel-open-failure" or kind != b"session":
            self.send(bytes([MSG_CHANNEL_OPEN_FAILURE]) + u32(ch) + u32(1) + sstr("prohibited") + sstr(""))
            return
        self.client_channel = ch
        self.client_window = window
        self.max_packet = min(maxpkt, 16384) or 1
        self.send(bytes([MSG_CHANNEL_OPEN_CONFIRMATION]) + u32(ch) + u32(SERVER_CHANNEL) + u32(1 << 20) +
                  u32(32768))

    def on_channel_request(self, r):
        ch, kind, want = r.u32(), r.string().decode(errors="replace"), r.byte()
        detail = ""
        if kind == "pty-req":
            term, cols, rows, w, h, modes = r.string(), r.u32(), r.u32(), r.u32(), r.u32(), r.string()
            self.term = term.decode(errors="replace")
            detail = f" term={self.term} cols={cols} rows={rows} px={w}x{h} modes={len(modes)}"
        self.log(f"channel request {kind} channel={ch} want={want}{detail}")
        ok = kind in ("pty-req", "shell") and ch == SERVER_CHANNEL and not (self.mode == "pty-refused" and
                                                                            kind == "pty-req")
        if want:
            self.send(bytes([MSG_CHANNEL_SUCCESS if ok else MSG_CHANNEL_FAILURE]) + u32(self.client_channel or 0))
        if ok and kind == "shell":
            self.shell = True
            self.after_shell()

    def after_shell(self):
        if self.mode == "unknown-message":
            self.send(bytes([150]) + b"whatever")
            self.send(bytes([MSG_CHANNEL_OPEN]) + sstr("x11") + u32(5) + u32(1 << 16) + u32(16384) +
                      sstr("127.0.0.1") + u32(6010))
            self.log("sent unknown message and x11 open")
            end = time.monotonic() + 5
            while len(self.keepalive_replies) < 2 and time.monotonic() < end:
                self.dispatch(self.read_packet())
            if sorted(self.keepalive_replies[:2]) == [MSG_UNIMPLEMENTED, MSG_CHANNEL_OPEN_FAILURE]:
                self.out(b"both answered\r\n")
        if self.mode == "keepalive":
            self.send(bytes([MSG_GLOBAL_REQUEST]) + sstr("keepalive@openssh.com") + b"\1")
            self.send(bytes([MSG_CHANNEL_REQUEST]) + u32(self.client_channel) + sstr("keepalive@openssh.com") +
                      b"\1")
            self.log("sent keepalive requests")
            end = time.monotonic() + 5
            while len(self.keepalive_replies) < 2 and time.monotonic() < end:
                self.dispatch(self.read_packet())
            got = self.keepalive_replies[:2]
            self.log(f"keepalive replies {got}")
            if got == [MSG_REQUEST_FAILURE, MSG_CHANNEL_FAILURE]:
                self.out(b"keepalive answered\r\n")
        elif self.mode == "data-past-window":
            over = self.client_window + 3000
            self.log(f"flooding {over} bytes into a window of {self.client_window}")
            self.raw_data(b"".join(b"%05d flood\r\n" % i for i in range(over // 12 + 1))[:over])
            self.client_window = 0
            adjusts = self.window_adjusts
            end = time.monotonic() + 5
            while self.window_adjusts == adjusts and time.monotonic() < end:
                self.dispatch(self.read_packet())
            if self.window_adjusts == adjusts:
                self.log("no window adjust after the flood")
                return
            self.log("window adjusted after the flood")
            self.out(b"\r\nwindow restored\r\n")
        self.out(b"peer$ ")

    # -- channel data out
    def raw_data(self, data, ext=False):
        """Channel data in packets of at most the client's maximum, ignoring its window."""
        for i in range(0, len(data), self.max_packet):
            chunk = data[i:i + self.max_packet]
            if ext:
                self.send(bytes([MSG_CHANNEL_EXTENDED_DATA]) + u32(self.client_channel) + u32(1) + sstr(chunk))
            else:
                self.send(bytes([MSG_CHANNEL_DATA]) + u32(self.client_channel) + sstr(chunk))
            self.data_since_kex += len(chunk)

    def out(self, data, ext=False):
        """Channel data within the client's window, re-keying when the byte count says so."""
        while data:
            if self.a.rekey_bytes and self.data_since_kex >= self.a.rekey_bytes:
                self.rekey()
            if self.client_window <= 0:
                self.dispatch(self.read_packet())
                continue
            n = min(len(data), self.client_window, self.max_packet)
            if self.a.rekey_bytes:
                n = min(n, max(1, self.a.rekey_bytes - self.data_since_kex))
            self.raw_data(data[:n], ext)
            self.client_window -= n
            data = data[n:]

    # -- the tiny shell
    def on_typed(self, data):
        if not self.shell:
            self.log(f"data before the shell: {len(data)} bytes")
            return
        echo = b""
        for c in data:
            if c in (13, 10):
                self.lines.append(self.typed)
                self.typed = b""
                echo += b"\r\n"
            elif c in (8, 127):
                if self.typed:
                    self.typed = self.typed[:-1]
                    echo += b"\b \b"
            else:
                self.typed += bytes([c])
                echo += bytes([c])
        self.echo += echo  # sent from the main loop: never in the middle of an exchange

    def run_line(self, line):
        self.log("command " + line.decode(errors="replace"))
        words = line.split()
        if not words:
            pass
        elif words[0] == b"echo":
            self.out(line[5:] + b"\r\n")
        elif words[0] == b"send" and len(words) == 2 and words[1].isdigit():
            n = int(words[1])
            body = b"".join(b"%09d abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWX\r\n" % i
                            for i in range(n // 74 + 1))[:n]
            self.out(body)
            self.out(b"\r\nsent %d bytes sha1 %s\r\n" % (n, hashlib.sha1(body).hexdigest()[:12].encode()))
        elif words[0] == b"stderr":
            self.out(b"this line went to stderr\r\n", ext=True)
        elif words[0] == b"exit":
            # Data after CHANNEL_CLOSE, in the same write: a client that ended the session never shows it.
            ch = u32(self.client_channel)
            self.s.sendall(self.frame(bytes([MSG_CHANNEL_REQUEST]) + ch + sstr("exit-status") + b"\0" + u32(0)) +
                           self.frame(bytes([MSG_CHANNEL_EOF]) + ch) + self.frame(bytes([MSG_CHANNEL_CLOSE]) + ch) +
                           self.frame(bytes([MSG_CHANNEL_DATA]) + ch + sstr("data after close\r\n")))
            self.log("sent exit-status and close")
            self.closing = True
            return
        else:
            self.out(b"unknown command\r\n")
        self.out(b"peer$ ")

    def serve(self):
        if not self.identification():
            if self.mode != "oversize-huge":
                self.wait_for_close()
            return
        while not self.closing:
            while (self.echo or self.lines) and not self.closing:
                echo, self.echo = self.echo, b""
                self.out(echo)
                if self.lines:
                    self.run_line(self.lines.pop(0))
                    continue
            if self.closing:
                break
            self.dispatch(self.read_packet())
        self.wait_for_close(1.0)

    def wait_for_close(self, limit=None):
        self.s.settimeout(limit or self.a.timeout)
        try:
            while self.s.recv(65536):
                pass
            self.log("client closed the connection")
        except OSError:
            self.log("client kept the connection")


def watch_stdin():
    """Started by a test with a pipe as standard input: its end is the signal to go."""
    if not stat.S_ISFIFO(os.fstat(0).st_mode):
        return

    def wait():
        while os.read(0, 4096):
            pass
        os._exit(0)

    threading.Thread(target=wait, daemon=True).start()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mode", default="normal", choices=sorted(MODES))
    ap.add_argument("--user", action="append", default=[], help="NAME:PASSWORD")
    ap.add_argument("--rekey-bytes", type=int, default=0)
    ap.add_argument("--log", default=None)
    ap.add_argument("--timeout", type=float, default=60)
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--self-test", action="store_true")
    a = ap.parse_args()
    if a.self_test:
        return self_test()
    a.users = dict(u.split(":", 1) for u in a.user) or {"peer": "secret"}

    lock = threading.Lock()
    log_file = open(a.log, "a", buffering=1) if a.log else sys.stderr

    def log(text):
        with lock:
            log_file.write(text + "\n")
            log_file.flush()

    watch_stdin()
    host_key = dsa.generate_private_key(1024)
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", a.port))
    srv.listen(4)
    srv.settimeout(0.5)
    print(f"PORT {srv.getsockname()[1]}", flush=True)

    def handle(sock):
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        sock.settimeout(a.timeout)
        log(f"connection mode={a.mode}")
        try:
            Connection(sock, a, host_key, log).serve()
            log("server done")
        except Closed:
            log("closed by client")
        except (OSError, ValueError) as e:
            log(f"ended: {e}")
        finally:
            sock.close()

    end = time.monotonic() + a.timeout
    while time.monotonic() < end:
        try:
            sock, _ = srv.accept()
        except socket.timeout:
            continue
        threading.Thread(target=handle, args=(sock,), daemon=True).start()
    return 0


if __name__ == "__main__":
    sys.exit(main())
