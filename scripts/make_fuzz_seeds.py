#!/usr/bin/env python3
"""Writes the committed seed corpora under tests/fuzz/corpus/<target>/.

The sealed and GCM seeds are made by an independent implementation (the `cryptography` package:
PBKDF2-HMAC-SHA-256 and AES-GCM), never by our own engine, under the fixed passphrase, iteration
count, key and IV that sealed_fuzz.cpp and gcm_fuzz.cpp use. Run from anywhere; files are
rewritten in place, and inputs libFuzzer found and that were committed as regressions stay.
"""
import os
import random

from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.kdf.pbkdf2 import PBKDF2HMAC

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fuzz", "corpus")
GCM_KEY = bytes.fromhex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4")
GCM_IV = bytes.fromhex("cafebabefacedbaddecaf888")
PASSPHRASE = b"fuzzing passphrase"
ITERATIONS = 2

rng = random.Random(2024)


def write(target, name, data):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def gcm_file(plain):
    sealed = AESGCM(GCM_KEY).encrypt(GCM_IV, plain, None)  # ciphertext || tag
    return sealed[-16:] + sealed[:-16]


def sealed_file(plain):
    nonce, salt = rng.randbytes(12), rng.randbytes(16)
    key = PBKDF2HMAC(hashes.SHA256(), 32, salt, ITERATIONS).derive(PASSPHRASE)
    sealed = AESGCM(key).encrypt(nonce, plain, None)
    return b"\x01" + nonce + salt + sealed[-16:] + sealed[:-16]


for size in (1, 15, 16, 17, 100, 1000):
    write("gcm_fuzz", f"valid_{size}", gcm_file(rng.randbytes(size)))
    write("sealed_fuzz", f"valid_{size}", sealed_file(rng.randbytes(size)))
write("gcm_fuzz", "tag_only", gcm_file(b"")[:16])
write("sealed_fuzz", "header_only", sealed_file(b"x")[:45])
write("sealed_fuzz", "version_2", b"\x02" + sealed_file(b"hello world")[1:])

# Item size byte, then the text.
hex_seeds = {
    "iv_plain": (16, b"000102030405060708090A0B0C0D0E0F"),
    "iv_colons": (16, b"00:01:02:03:04:05:06:07:08:09:0a:0b:0c:0d:0e:0f"),
    "gcm_iv_dashes": (12, b"ca-fe-ba-be-fa-ce-db-ad-de-ca-f8-88"),
    "key_192": (24, b"8E73B0F7DA0E6452C810F32B809079E562F8EAD2522C6B7B"),
    "key_256_spaces": (32, b" ".join(b"%02x" % b for b in range(32))),
    "bad_digit": (16, b"000102030405060708090A0B0C0D0E0G"),
    "newline": (16, b"000102030405060708090A0B0C0D0E0F\n"),
    "too_big": (40, b"00" * 40),
}
for name, (n, text) in hex_seeds.items():
    write("hex_text_fuzz", name, bytes([n]) + text)

settings_seeds = {
    "choices": b"Decrypt\r\nKey Size 128\r\nMode GCM\r\nHide\r\n",
    "prng_locked": b"PRNG 1GB\r\nLock PRNG\r\nLock Mode\r\nLock Key Size\r\n",
    "all_tools": b"Encrypt\r\nLock All Tools\r\nmode pcbc\r\n",
    "iv_and_key_tools": b"Lock IV Tools\r\nLock Key Load\r\nLock Key Zero\r\nLock Key Tools",
    "single_locks": b"Lock IV Load\r\nLock IV Save\r\nLock IV Rand\r\nLock IV Copy\r\n"
                    b"Lock IV Paste\r\nLock IV Zero\r\nLock Key Save\r\nLock Key Rand\r\n"
                    b"Lock Key Copy\r\nLock Key Paste\r\n",
    "lf_only": b"Decrypt\nMode CBC\n",
    "nul": b"Mode ECB\r\n\x00Decrypt\r\n",
    "long": b"Mode OFB\r\n" + b"x" * 500 + b"\r\nDecrypt\r\n",
}
for name, text in settings_seeds.items():
    write("settings_fuzz", name, text)

# Arguments after the program name, separated by NUL bytes. "iv", "key", "short", "gcmiv" and
# "folder" exist in the fuzzer's scratch folder.
command_seeds = {
    "help": ["help"],
    "praxel": ["Praxel", "E", "in", "out", "Overwrite", "*secret words*"],
    "praxel_tabs": ["praxel", "d", "in\tname", "out", "*a*b\t*"],
    "moltra_files": ["Moltra", "E", "256", "GCM", "gcmiv", "key", "in", "out", "Overwrite"],
    "moltra_hex": ["moltra", "decrypt", "192", "ctr",
                   "00:01:02:03:04:05:06:07:08:09:0A:0B:0C:0D:0E:0F",
                   "8E73B0F7DA0E6452C810F32B809079E562F8EAD2522C6B7B", "a b", "c"],
    "moltra_ecb": ["MOLTRA", "D", "128", "ECB", "000102030405060708090a0b0c0d0e0f", "x", "y"],
    "moltra_short": ["Moltra", "E", "128", "CBC", "short", "key", "in", "out"],
    "moltra_folder": ["Moltra", "E", "128", "PCBC", "folder", "key", "in", "out"],
    "prng": ["PRNG", "16GB", "out", "overwrite"],
    "same": ["Moltra", "E", "128", "OFB", "iv", "key", "same", "same"],
    "quotes": ["Praxel", "E", "\"\"", "x\"y z", "*pw*"],
    "long_path": ["PRNG", "64MB", "p" * 300],
}
for name, arguments in command_seeds.items():
    write("command_line_fuzz", name, b"\x00".join(a.encode() for a in arguments))
