#!/usr/bin/python3
"""Writes the cross-check fixtures of the crypto tests from independent references (python3-pycryptodome,
python3-cryptography and Python integers) and checks the published vectors against the same references.

Run with Debian's interpreter from this folder:  /usr/bin/python3 gen_fixtures.py
The output is committed; the tests never need Python. Fixed seeds keep the output stable, except the DSA keys,
which python3-cryptography always draws afresh. rsa_ours.txt holds ciphertexts made once by our own rsa_encrypt
under rsa_keys.txt; --check-only decrypts them with pycryptodome.
"""
import hashlib
import hmac
import os
import random
import struct
import sys

from Cryptodome.Cipher import DES, DES3, Blowfish, PKCS1_v1_5
from Cryptodome.PublicKey import RSA
from Cryptodome.Util.number import getPrime
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import dsa
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "data")
rng = random.Random()


def reseed(name):
    """Each output file has its own fixed seed, so regenerating one leaves the others' values unchanged."""
    rng.seed("vt-crypto-fixtures-" + name)


def rbytes(n):
    return bytes(rng.getrandbits(8) for _ in range(n))


def hx(b):
    return b.hex() if b else "-"


def ihex(v):
    return "%x" % v


def write(name, header, records):
    with open(os.path.join(DATA, name), "w") as f:
        f.write("# " + header.replace("\n", "\n# ") + "\n")
        for rec in records:
            f.write("\n")
            for k, v in rec:
                f.write("%s = %s\n" % (k, v))


def read_records(name):
    recs, cur = [], {}
    for line in open(os.path.join(DATA, name)):
        line = line.strip()
        if line.startswith("#"):
            continue
        if not line:
            if cur:
                recs.append(cur)
            cur = {}
            continue
        k, v = [x.strip() for x in line.split("=", 1)]
        cur[k] = v
    if cur:
        recs.append(cur)
    return recs


def field(v):
    if v.startswith('"'):
        return v[1:-1].encode()
    if v == "-":
        return b""
    return bytes.fromhex(v)


# ---------------------------------------------------------------- published vectors, checked here

def check_published():
    for r in read_records("sha1_vectors.txt"):
        msg = field(r["message"]) * int(r.get("repeat", "1"))
        assert hashlib.sha1(msg).hexdigest() == r["digest"], r
    for r in read_records("md5_vectors.txt"):
        assert hashlib.md5(field(r["message"])).hexdigest() == r["digest"], r
    for r in read_records("hmac_sha1_vectors.txt"):
        mac = hmac.new(field(r["key"]), field(r["data"]), hashlib.sha1).hexdigest()
        assert mac[: len(r["mac"])] == r["mac"], r
    for r in read_records("des_vectors.txt"):
        if "iv" in r:
            c = DES.new(field(r["key"]), DES.MODE_CBC, iv=field(r["iv"])).encrypt(field(r["plain"]))
        else:
            c = DES.new(field(r["key"]), DES.MODE_ECB).encrypt(field(r["plain"]))
        assert c.hex() == r["cipher"], r
    for r in read_records("blowfish_vectors.txt"):
        key = field(r["key"])
        if "iv" in r:
            c = Blowfish.new(key, Blowfish.MODE_CBC, iv=field(r["iv"])).encrypt(field(r["plain"]))
        else:
            c = Blowfish.new(key, Blowfish.MODE_ECB).encrypt(field(r["plain"]))
        assert c.hex() == r["cipher"], r
    for r in read_records("tdes_vectors.txt"):
        c = DES3.new(field(r["key"]), DES3.MODE_ECB).encrypt(field(r["plain"]))
        assert c.hex() == r["cipher"], r
    print("published vectors agree with the references")


# ---------------------------------------------------------------- symmetric cross-checks

def swap32(b):
    return b"".join(b[i:i + 4][::-1] for i in range(0, len(b), 4))


def gen_ciphers():
    recs = []
    zero = bytes(8)
    for _ in range(6):
        key = rbytes(32)
        p1, p2 = rbytes(8 * rng.randint(1, 6)), rbytes(8 * rng.randint(1, 6))
        k1, k2, k3 = key[:8], key[8:16], key[16:24]
        x = DES.new(k1, DES.MODE_CBC, iv=zero).encrypt(p1 + p2)
        x = DES.new(k2, DES.MODE_CBC, iv=zero).decrypt(x)
        x = DES.new(k3, DES.MODE_CBC, iv=zero).encrypt(x)
        recs.append([("mode", "ssh1-3des"), ("key", hx(key)), ("plain1", hx(p1)), ("plain2", hx(p2)),
                     ("cipher", hx(x))])
    for _ in range(6):
        key = rbytes(32)
        p1, p2 = rbytes(8 * rng.randint(1, 6)), rbytes(8 * rng.randint(1, 6))
        c = DES.new(key[:8], DES.MODE_CBC, iv=zero).encrypt(p1 + p2)
        recs.append([("mode", "ssh1-des"), ("key", hx(key)), ("plain1", hx(p1)), ("plain2", hx(p2)),
                     ("cipher", hx(c))])
    for _ in range(6):
        key = rbytes(32)
        p1, p2 = rbytes(8 * rng.randint(1, 6)), rbytes(8 * rng.randint(1, 6))
        c = swap32(Blowfish.new(key, Blowfish.MODE_CBC, iv=zero).encrypt(swap32(p1 + p2)))
        recs.append([("mode", "ssh1-blowfish"), ("key", hx(key)), ("plain1", hx(p1)), ("plain2", hx(p2)),
                     ("cipher", hx(c))])
    for _ in range(6):
        key, iv = rbytes(24), rbytes(8)
        while True:  # pycryptodome refuses keys that degenerate to single DES
            try:
                DES3.adjust_key_parity(key)
                break
            except ValueError:
                key = rbytes(24)
        p1, p2 = rbytes(8 * rng.randint(1, 6)), rbytes(8 * rng.randint(1, 6))
        c = DES3.new(key, DES3.MODE_CBC, iv=iv).encrypt(p1 + p2)
        recs.append([("mode", "ssh2-3des-cbc"), ("key", hx(key)), ("iv", hx(iv)), ("plain1", hx(p1)),
                     ("plain2", hx(p2)), ("cipher", hx(c))])
    for _ in range(6):
        key, iv = rbytes(16), rbytes(8)
        p1, p2 = rbytes(8 * rng.randint(1, 6)), rbytes(8 * rng.randint(1, 6))
        c = Blowfish.new(key, Blowfish.MODE_CBC, iv=iv).encrypt(p1 + p2)
        recs.append([("mode", "ssh2-blowfish-cbc"), ("key", hx(key)), ("iv", hx(iv)), ("plain1", hx(p1)),
                     ("plain2", hx(p2)), ("cipher", hx(c))])
    write("cipher_modes.txt",
          "SSH cipher modes computed with pycryptodome: the plaintext goes through the cipher as two calls\n"
          "(plain1, then plain2); cipher is the whole result. SSH-1 modes start with zero chains.", recs)


def gen_hmac_seq():
    recs = []
    for _ in range(8):
        key, data, seq = rbytes(20), rbytes(rng.randint(0, 300)), rng.getrandbits(32)
        mac = hmac.new(key, struct.pack(">I", seq) + data, hashlib.sha1).digest()
        recs.append([("key", hx(key)), ("seq", "%08x" % seq), ("data", hx(data)), ("mac", hx(mac))])
    write("hmac_seq.txt", "HMAC-SHA1 over a 32-bit big-endian sequence number and the packet (Python hmac).", recs)


# ---------------------------------------------------------------- big numbers

def rand_num(bits):
    return rng.getrandbits(bits) if bits else 0


def needs_add_back(a, m):
    """Emulates the quotient-digit steps of Algorithm D in base 2^16: True when some step estimates one too high
    even after the two-digit test, so the divisor has to be added back (rare with random operands)."""
    def digits(x):
        d = []
        while x:
            d.append(x & 0xFFFF)
            x >>= 16
        return d or [0]
    v = digits(m)
    n = len(v)
    if n < 2:
        return False
    s = 16 - v[-1].bit_length()
    v, u = digits(m << s), digits(a << s) + [0]
    if len(u) - 1 < n:
        return False
    mv = m << s
    for j in range(len(u) - 1 - n, -1, -1):
        num = (u[j + n] << 16) | u[j + n - 1]
        qhat, rhat = num // v[n - 1], num % v[n - 1]
        while qhat >= 1 << 16 or qhat * v[n - 2] > ((rhat << 16) | u[j + n - 2]):
            qhat -= 1
            rhat += v[n - 1]
            if rhat >= 1 << 16:
                break
        res = sum(u[j + i] << (16 * i) for i in range(n + 1)) - qhat * mv
        if res < 0:
            return True
        for i in range(n + 1):
            u[j + i] = (res >> (16 * i)) & 0xFFFF
    return False


def add_back_cases(count):
    pool = [0, 1, 2, 0x7FFF, 0x8000, 0x8001, 0xFFFE, 0xFFFF]
    found = []
    while len(found) < count:
        nv = rng.randint(2, 5)
        v = [rng.choice(pool) for _ in range(nv - 1)] + [rng.choice([1, 0x7FFF, 0x8000, 0x8001, 0xFFFF])]
        u = [rng.choice(pool) for _ in range(nv + rng.randint(0, 4))]
        m = sum(x << (16 * i) for i, x in enumerate(v))
        a = sum(x << (16 * i) for i, x in enumerate(u))
        if needs_add_back(a, m):
            found.append((a, m))
    return found


def gen_bignum():
    recs = []
    for a, m in add_back_cases(40):
        recs.append([("op", "divmod"), ("a", ihex(a)), ("m", ihex(m)), ("q", ihex(a // m)), ("r", ihex(a % m))])
    for a, m in add_back_cases(10):  # the same steps inside modexp's reductions
        recs.append([("op", "modexp"), ("b", ihex(a)), ("e", "3"), ("m", ihex(m)), ("r", ihex(pow(a, 3, m)))])
    for i in range(300):
        abits = rng.choice([1, 15, 16, 17, 31, 32, 33, 64, 100, 160, 255, 256, 257, 511, 512, 1024, 2048])
        mbits = rng.choice([1, 2, 15, 16, 17, 31, 32, 33, 48, 64, 100, 160, 256, 512, 1024])
        a = rand_num(abits)
        m = rand_num(mbits) or 1
        if i % 7 == 0:  # top divisor digit small, many shifted cases
            m = (1 << (mbits + 16)) + rand_num(mbits)
        if i % 11 == 0:  # quotient digit estimate needs correcting: dividend close to a multiple
            a = m * rand_num(abits) + (m - 1)
        recs.append([("op", "divmod"), ("a", ihex(a)), ("m", ihex(m)), ("q", ihex(a // m)), ("r", ihex(a % m))])
    for i in range(150):
        mbits = rng.choice([2, 16, 17, 33, 64, 127, 160, 256, 512, 1024])
        m = rand_num(mbits) | 1 | (1 << (mbits - 1))
        if i % 3 == 0:
            m &= ~1  # even modulus
        if i % 5 == 0:
            m = (1 << mbits) + rand_num(8)  # top digit 1: largest shift
        m = max(m, 2)
        b = rand_num(rng.choice([1, 16, 160, mbits, mbits + 40]))  # some bases longer than the modulus
        e = rand_num(rng.choice([0, 1, 2, 17, 64, 160, 257]))
        recs.append([("op", "modexp"), ("b", ihex(b)), ("e", ihex(e)), ("m", ihex(m)), ("r", ihex(pow(b, e, m)))])
    for i in range(150):
        mbits = rng.choice([3, 16, 17, 64, 160, 256, 512])
        m = rand_num(mbits) | (1 << (mbits - 1))
        a = rand_num(rng.choice([2, 16, 160, mbits, mbits + 20]))
        if i % 4 == 0:
            g = rng.choice([2, 3, 5, 65537])
            m = m * g
            a = a * g  # shares a factor: no inverse
        try:
            inv = pow(a, -1, m)
            rv = ihex(inv)
        except ValueError:
            rv = "none"
        recs.append([("op", "inverse"), ("a", ihex(a)), ("m", ihex(m)), ("r", rv)])
    write("bignum_ops.txt", "Big-number results from Python integers (hexadecimal, no prefix).", recs)


# ---------------------------------------------------------------- RSA and DSA

def ssh_string(b):
    return struct.pack(">I", len(b)) + b


def ssh_mpint(v):
    if v == 0:
        return ssh_string(b"")
    b = v.to_bytes((v.bit_length() + 8) // 8, "big")  # always room for a sign bit
    if len(b) > 1 and b[0] == 0 and not (b[1] & 0x80):
        b = b[1:]
    return ssh_string(b)


def gen_rsa():
    recs = []
    for bits, e in ((768, 37), (1024, 65537)):  # SSH-1 server keys are 768 bits; pycryptodome makes only >= 1024
        while True:
            p = getPrime(bits // 2, randfunc=rbytes)
            q = getPrime(bits // 2, randfunc=rbytes)
            n = p * q
            if n.bit_length() == bits and p != q:
                try:
                    d = pow(e, -1, (p - 1) * (q - 1))
                    break
                except ValueError:
                    pass
        recs.append([("n", ihex(n)), ("e", ihex(e)), ("d", ihex(d))])
    write("rsa_keys.txt", "RSA key pairs generated by pycryptodome (n, e, d in hexadecimal).", recs)


def check_rsa_ours():
    """Decrypts, with pycryptodome, the ciphertext that our rsa_encrypt produced (rsa_ours.txt)."""
    keys = read_records("rsa_keys.txt")
    for r in read_records("rsa_ours.txt"):
        k = keys[int(r["key"])]
        n, e, d = (int(k[x], 16) for x in ("n", "e", "d"))
        priv = RSA.construct((n, e, d))
        plain = PKCS1_v1_5.new(priv).decrypt(field(r["cipher"]), None)
        assert plain == field(r["plain"]), r
    print("pycryptodome decrypts the ciphertexts of rsa_ours.txt")


def gen_dsa():
    recs = []
    for _ in range(2):
        priv = dsa.generate_private_key(key_size=1024)
        pn = priv.private_numbers()
        pub = pn.public_numbers
        p, q, g, y = pub.parameter_numbers.p, pub.parameter_numbers.q, pub.parameter_numbers.g, pub.y
        blob = ssh_string(b"ssh-dss") + ssh_mpint(p) + ssh_mpint(q) + ssh_mpint(g) + ssh_mpint(y)
        for _ in range(3):
            h = rbytes(20)
            r, s = decode_dss_signature(priv.sign(h, hashes.SHA1()))
            rs = r.to_bytes(20, "big") + s.to_bytes(20, "big")
            sig = ssh_string(b"ssh-dss") + ssh_string(rs)
            recs.append([("key", hx(blob)), ("h", hx(h)), ("sig", hx(sig)), ("q", ihex(q))])
    write("dsa_signatures.txt",
          "ssh-dss key blobs and signature blobs over SHA-1(h), made by python3-cryptography (DSA 1024/160).\n"
          "Keys are freshly generated on each run of the script.", recs)


def gen_kdf():
    recs = []
    for i in range(4):
        # alternately with and without the top bit set, so the mpint of K has its sign byte in half the cases
        k = rng.getrandbits(1024) | (1 << 1023) if i % 2 == 0 else rng.getrandbits(1021) | (1 << 1021)
        h, sid = rbytes(20), rbytes(20)
        rec = [("k", ihex(k)), ("h", hx(h)), ("session_id", hx(sid))]
        for letter in "ABCDEF":
            first = hashlib.sha1(ssh_mpint(k) + h + letter.encode() + sid).digest()
            second = hashlib.sha1(ssh_mpint(k) + h + first).digest()
            rec.append((letter, hx(first + second)))
        recs.append(rec)
    write("key_derivation.txt", "SSH-2 key derivation (RFC 4253 section 7.2), 40 bytes per letter, from hashlib.", recs)


GENERATORS = {"ciphers": gen_ciphers, "hmac": gen_hmac_seq, "bignum": gen_bignum, "rsa": gen_rsa, "dsa": gen_dsa,
              "kdf": gen_kdf}

if __name__ == "__main__":
    check_published()
    if "--check-only" in sys.argv:
        check_rsa_ours()
        sys.exit(0)
    # --only NAME[,NAME] regenerates some files and leaves the others (and their committed values) alone.
    only = sys.argv[sys.argv.index("--only") + 1].split(",") if "--only" in sys.argv else list(GENERATORS)
    for name in only:
        reseed(name)
        GENERATORS[name]()
    if "rsa" in only:
        print("rsa_keys.txt rewritten: if it changed, regenerate rsa_ours.txt with our encryptor, run --check-only")
