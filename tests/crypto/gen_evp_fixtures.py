#!/usr/bin/python3
"""Writes the fixtures of evp_test.cpp (the libcrypto-backed SSH-2 algorithms) from independent references:
python3-cryptography for AES, ChaCha20, Poly1305, X25519, ECDH and the signatures, python3-pycryptodome's
64-bit-nonce ChaCha20 as a second opinion on the OpenSSH packet layout, hashlib/hmac and Python integers.
Published vectors (RFC 8439, the GCM paper's test cases, SP 800-38A) are checked against the same references.

Run with Debian's interpreter from this folder:  /usr/bin/python3 gen_evp_fixtures.py
The output is committed. Fixed seeds keep everything stable except the RSA keys, which python3-cryptography
always draws afresh (--only NAME,... regenerates just those). Also writes the seed corpus of crypto_evp_fuzzer (evp_corpus/).
"""
import hashlib
import hmac
import os
import random
import struct
import sys

from Cryptodome.Cipher import ChaCha20 as DjbChaCha20
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, ed25519, padding, rsa, x25519
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.poly1305 import Poly1305

from gen_fixtures import DATA, HERE, hx, ssh_mpint, ssh_string, write

rng = random.Random()


def reseed(name):
    rng.seed("vt-evp-fixtures-" + name)


def rbytes(n):
    return bytes(rng.getrandbits(8) for _ in range(n))


# ---------------------------------------------------------------- published vectors

def check_published():
    # RFC 8439 A.1 #1 and #2: all-zero key and nonce, block counters 0 and 1.
    ks = DjbChaCha20.new(key=bytes(32), nonce=bytes(8)).encrypt(bytes(128))
    assert ks[:64].hex() == ("76b8e0ada0f13d90405d6ae55386bd28bdd219b8a08ded1aa836efcc8b770dc7"
                             "da41597c5157488d7724e03fb8d84a376a43b8f41518a11cc387b669b2ee6586"), ks[:64].hex()
    assert ks[64:].hex() == ("9f07e7be5551387a98ba977c732d080dcb0f29a048e3656912c6533e32ee7aed"
                             "29b721769ce64e43d57133b074d839d531ed1f28510afb45ace10a1f4b794d6f"), ks[64:].hex()
    assert chacha_keystream(bytes(32), 0, 0, 128) == ks
    # RFC 8439 2.5.2 Poly1305.
    key = bytes.fromhex("85d6be7857556d337f4452fe42d506a80103808afb0db2fd4abff6af4149f51b")
    tag = Poly1305.generate_tag(key, b"Cryptographic Forum Research Group")
    assert tag.hex() == "a8061dc1305136c6c22b8baf0c0127a9", tag.hex()
    # The GCM paper's test cases 4 (AES-128) and 16 (AES-256).
    p = bytes.fromhex("d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
                      "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39")
    a = bytes.fromhex("feedfacedeadbeeffeedfacedeadbeefabaddad2")
    iv = bytes.fromhex("cafebabefacedbaddecaf888")
    k = bytes.fromhex("feffe9928665731c6d6a8f9467308308")
    out = AESGCM(k).encrypt(iv, p, a)
    assert out.hex() == ("42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e"
                         "21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac973d58e091"
                         "5bc94fbc3221a5db94fae95ae7121a47"), out.hex()
    out = AESGCM(k + k).encrypt(iv, p, a)
    assert out.hex() == ("522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa"
                         "8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662"
                         "76fc6ece0f4e1768cddf8853bb2d551b"), out.hex()
    # SP 800-38A F.5.1 CTR-AES128, first block.
    enc = Cipher(algorithms.AES(bytes.fromhex("2b7e151628aed2a6abf7158809cf4f3c")),
                 modes.CTR(bytes.fromhex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff"))).encryptor()
    out = enc.update(bytes.fromhex("6bc1bee22e409f96e93d7e117393172a"))
    assert out.hex() == "874d6191b620e3261bef6864990db6ce", out.hex()
    # RFC 4231 test case 2, the three SHA-2 sizes.
    for h, want in ((hashlib.sha256, "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"),
                    (hashlib.sha384, "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e"
                                     "8e2240ca5e69e2c78b3239ecfab21649"),
                    (hashlib.sha512, "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea250554"
                                     "9758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b636e070a38bce737")):
        got = hmac.new(b"Jefe", b"what do ya want for nothing?", h).hexdigest()
        assert got == want, got
    print("published ChaCha20, Poly1305, GCM, CTR and HMAC vectors agree with the references")


# ---------------------------------------------------------------- chacha20-poly1305@openssh.com

def chacha_keystream(key, counter, seq, n):
    """python3-cryptography's ChaCha20 takes the 64-bit counter (little-endian) then the 64-bit nonce."""
    nonce = struct.pack("<Q", counter) + struct.pack(">Q", seq)
    return Cipher(algorithms.ChaCha20(key, nonce), mode=None).encryptor().update(bytes(n))


def xor(a, b):
    return bytes(x ^ y for x, y in zip(a, b))


def openssh_chachapoly(key, seq, plain):
    k2, k1 = key[:32], key[32:]
    enc_len = xor(plain[:4], chacha_keystream(k1, 0, seq, 4))
    stream = chacha_keystream(k2, 0, seq, 64 + len(plain) - 4)
    body = xor(plain[4:], stream[64:])
    # pycryptodome's original ChaCha20 (64-bit nonce) must give the same stream.
    assert DjbChaCha20.new(key=k2, nonce=struct.pack(">Q", seq)).encrypt(bytes(len(stream))) == stream
    tag = Poly1305.generate_tag(stream[:32], enc_len + body)
    return enc_len + body, tag


def gen_chachapoly():
    recs = []
    for seq, n in ((0, 12), (1, 28), (7, 60), (0x7fffffff, 1020), (0xffffffff, 4092)):
        key = rbytes(64)
        plain = struct.pack(">I", n) + rbytes(n)
        pkt, tag = openssh_chachapoly(key, seq, plain)
        recs.append([("key", hx(key)), ("seq", "%d" % seq), ("plain", hx(plain)), ("packet", hx(pkt)),
                     ("tag", hx(tag))])
    write("evp_chachapoly.txt",
          "chacha20-poly1305@openssh.com packets (4 length bytes then the rest) with their tags, from\n"
          "python3-cryptography's ChaCha20 and Poly1305 (stream cross-checked with pycryptodome's).", recs)


# ---------------------------------------------------------------- AES-GCM and AES-CTR

def gen_gcm():
    recs = []
    # The last IV has its invocation counter at the top: it must wrap to zero without touching the fixed field.
    for key_len, iv in ((16, rbytes(12)), (32, rbytes(12)), (16, rbytes(4) + bytes.fromhex("fffffffffffffffe"))):
        key = rbytes(key_len)
        rec = [("key", hx(key)), ("iv", hx(iv))]
        counter = int.from_bytes(iv[4:], "big")
        for i, n in enumerate((16, 48, 0, 32)):
            plain = rbytes(n)
            aad = struct.pack(">I", n)
            this_iv = iv[:4] + ((counter + i) % (1 << 64)).to_bytes(8, "big")
            out = AESGCM(key).encrypt(this_iv, plain, aad)
            rec += [("aad%d" % i, hx(aad)), ("plain%d" % i, hx(plain)), ("cipher%d" % i, hx(out[:-16])),
                    ("tag%d" % i, hx(out[-16:]))]
        recs.append(rec)
    write("evp_gcm.txt", "AES-GCM packets in sequence under one key; packet i uses the IV with i added to its last\n"
          "8 bytes (modulo 2^64). From python3-cryptography's AESGCM.", recs)


def gen_ctr():
    recs = []
    # The second IV makes the counter carry out of its low 64 bits within the stream.
    for key_len, iv in ((16, rbytes(16)), (24, rbytes(8) + bytes.fromhex("fffffffffffffffe")),
                        (32, bytes.fromhex("ff" * 16))):
        key = rbytes(key_len)
        plain = rbytes(100)
        enc = Cipher(algorithms.AES(key), modes.CTR(iv)).encryptor()
        recs.append([("key", hx(key)), ("iv", hx(iv)), ("plain", hx(plain)), ("cipher", hx(enc.update(plain)))])
    write("evp_ctr.txt", "AES-CTR streams (the whole 16-byte block is the counter), python3-cryptography.", recs)


# ---------------------------------------------------------------- HMAC with the sequence number

def gen_hmac():
    recs = []
    for name in ("sha1", "sha256", "sha384", "sha512"):
        for key_len, n in ((20, 0), (64, 55), (200, 300)):
            key, seq, data = rbytes(key_len), rng.getrandbits(32), rbytes(n)
            mac = hmac.new(key, struct.pack(">I", seq) + data, name).digest()
            recs.append([("hash", name), ("key", hx(key)), ("seq", "%d" % seq), ("data", hx(data)), ("mac", hx(mac))])
    write("evp_hmac.txt", "HMAC over (u32 big-endian seq || data), from Python's hmac.", recs)


# ---------------------------------------------------------------- key exchange

MODP = {
    14: int("FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD129024E088A67CC74020BBEA63B139B22514A08798E3404DD"
            "EF9519B3CD3A431B302B0A6DF25F14374FE1356D6D51C245E485B576625E7EC6F44C42E9A637ED6B0BFF5CB6F406B7ED"
            "EE386BFB5A899FA5AE9F24117C4B1FE649286651ECE45B3DC2007CB8A163BF0598DA48361C55D39A69163FA8FD24CF5F"
            "83655D23DCA3AD961C62F356208552BB9ED529077096966D670C354E4ABC9804F1746C08CA18217C32905E462E36CE3B"
            "E39E772C180E86039B2783A2EC07A28FB5C55DF06F4C52C9DE2BCBF6955817183995497CEA956AE515D2261898FA0510"
            "15728E5A8AACAA68FFFFFFFFFFFFFFFF", 16),
}


def gen_kex():
    recs = []
    for bits, c in ((256, ec.SECP256R1()), (384, ec.SECP384R1()), (521, ec.SECP521R1())):
        coord = (bits + 7) // 8
        d = int.from_bytes(rbytes(coord), "big") % (1 << (bits - 1)) + 1
        e = int.from_bytes(rbytes(coord), "big") % (1 << (bits - 1)) + 1
        ours, theirs = ec.derive_private_key(d, c), ec.derive_private_key(e, c)
        pt = serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint
        shared = ours.exchange(ec.ECDH(), theirs.public_key())
        recs.append([("kind", "ecdh%d" % bits), ("priv", hx(d.to_bytes(coord, "big"))),
                     ("pub", hx(ours.public_key().public_bytes(*pt))), ("peer", hx(theirs.public_key().public_bytes(*pt))),
                     ("shared", hx(shared.lstrip(b"\0")))])
    p = MODP[14]
    for _ in range(2):
        x, y = int.from_bytes(rbytes(64), "big"), int.from_bytes(rbytes(64), "big")
        e, f = pow(2, x, p), pow(2, y, p)
        k = pow(f, x, p)
        recs.append([("kind", "modp14"), ("priv", hx(x.to_bytes(64, "big"))), ("pub", hx(e.to_bytes(256, "big").lstrip(b"\0"))),
                     ("peer", hx(f.to_bytes(256, "big").lstrip(b"\0"))), ("shared", hx(k.to_bytes(256, "big").lstrip(b"\0")))])
    for _ in range(2):
        a, b = x25519.X25519PrivateKey.from_private_bytes(rbytes(32)), x25519.X25519PrivateKey.from_private_bytes(rbytes(32))
        raw = serialization.Encoding.Raw, serialization.PublicFormat.Raw
        shared = a.exchange(b.public_key())
        recs.append([("kind", "x25519"),
                     ("priv", hx(a.private_bytes(serialization.Encoding.Raw, serialization.PrivateFormat.Raw,
                                                 serialization.NoEncryption()))),
                     ("pub", hx(a.public_key().public_bytes(*raw))), ("peer", hx(b.public_key().public_bytes(*raw))),
                     ("shared", hx(shared.lstrip(b"\0")))])
    # Fuzzer seeds for the peer-value path: selector byte (top bit set) then a valid share of that kind.
    os.makedirs(os.path.join(HERE, "evp_corpus"), exist_ok=True)
    for sel, rec in ((0x80, recs[-1]), (0x81, recs[0]), (0x82, recs[2]), (0x83, recs[3])):
        with open(os.path.join(HERE, "evp_corpus", "kex_" + dict(rec)["kind"]), "wb") as f:
            f.write(bytes([sel]) + bytes.fromhex(dict(rec)["peer"]))
    write("evp_kex.txt", "Key exchange from a fixed private value: our public value, the peer's, and the shared secret\n"
          "without leading zero bytes. python3-cryptography (ECDH, X25519) and Python integers (group 14).", recs)


# ---------------------------------------------------------------- host-key signatures

def ecdsa_blobs(priv, name, curve, h):
    q = priv.public_key().public_bytes(serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint)
    key = ssh_string(name) + ssh_string(curve) + ssh_string(q)
    hname = {b"nistp256": hashes.SHA256(), b"nistp384": hashes.SHA384(), b"nistp521": hashes.SHA512()}[curve]
    r, s = decode_dss_signature(priv.sign(h, ec.ECDSA(hname)))
    return key, ssh_string(name) + ssh_string(ssh_mpint(r) + ssh_mpint(s))


def rsa_blobs(priv, alg, h):
    pn = priv.public_key().public_numbers()
    key = ssh_string(b"ssh-rsa") + ssh_mpint(pn.e) + ssh_mpint(pn.n)
    hname = {b"rsa-sha2-256": hashes.SHA256(), b"rsa-sha2-512": hashes.SHA512(), b"ssh-rsa": hashes.SHA1()}[alg]
    return key, ssh_string(alg) + ssh_string(priv.sign(h, padding.PKCS1v15(), hname))


def gen_signatures():
    recs = []
    h = rbytes(32)
    ed = ed25519.Ed25519PrivateKey.from_private_bytes(rbytes(32))
    pub = ed.public_key().public_bytes(serialization.Encoding.Raw, serialization.PublicFormat.Raw)
    recs.append([("alg", '"ssh-ed25519"'), ("key", hx(ssh_string(b"ssh-ed25519") + ssh_string(pub))),
                 ("sig", hx(ssh_string(b"ssh-ed25519") + ssh_string(ed.sign(h)))), ("h", hx(h)), ("valid", "1")])
    for curve, c, bits in ((b"nistp256", ec.SECP256R1(), 256), (b"nistp384", ec.SECP384R1(), 384),
                           (b"nistp521", ec.SECP521R1(), 521)):
        priv = ec.derive_private_key(int.from_bytes(rbytes(66), "big") % (1 << (bits - 1)) + 1, c)
        name = b"ecdsa-sha2-" + curve
        key, sig = ecdsa_blobs(priv, name, curve, h)
        recs.append([("alg", '"%s"' % name.decode()), ("key", hx(key)), ("sig", hx(sig)), ("h", hx(h)), ("valid", "1")])
    big = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    for alg in (b"rsa-sha2-256", b"rsa-sha2-512", b"ssh-rsa"):
        key, sig = rsa_blobs(big, alg, h)
        recs.append([("alg", '"%s"' % alg.decode()), ("key", hx(key)), ("sig", hx(sig)), ("h", hx(h)), ("valid", "1")])
    # A correct signature by a key too small to trust.
    small = rsa.generate_private_key(public_exponent=65537, key_size=768)
    key, sig = rsa_blobs(small, b"rsa-sha2-256", h)
    recs.append([("alg", '"rsa-sha2-256"'), ("key", hx(key)), ("sig", hx(sig)), ("h", hx(h)), ("valid", "0")])
    write("evp_signatures.txt", "SSH host-key and signature blobs over h, made by python3-cryptography. valid = 0: a\n"
          "correct signature that must still be refused. The RSA keys are drawn afresh on each run.", recs)
    # Fuzzer seeds: the selector byte, a 2-byte key length, the key blob, then the signature blob.
    os.makedirs(os.path.join(HERE, "evp_corpus"), exist_ok=True)
    algs = ["ssh-ed25519", "ecdsa-sha2-nistp256", "ecdsa-sha2-nistp384", "ecdsa-sha2-nistp521", "rsa-sha2-256",
            "rsa-sha2-512", "ssh-rsa"]
    for i, rec in enumerate(recs[:-1]):
        alg = dict(rec)["alg"].strip('"')
        key, sig = bytes.fromhex(dict(rec)["key"]), bytes.fromhex(dict(rec)["sig"])
        with open(os.path.join(HERE, "evp_corpus", alg), "wb") as f:
            f.write(bytes([algs.index(alg)]) + struct.pack(">H", len(key)) + key + sig)


GENERATORS = {"chachapoly": gen_chachapoly, "gcm": gen_gcm, "ctr": gen_ctr, "hmac": gen_hmac, "kex": gen_kex,
              "signatures": gen_signatures}

if __name__ == "__main__":
    check_published()
    # --only NAME[,NAME] regenerates some files and leaves the others (and the RSA keys) alone.
    only = sys.argv[sys.argv.index("--only") + 1].split(",") if "--only" in sys.argv else list(GENERATORS)
    for name in only:
        reseed(name)
        GENERATORS[name]()
