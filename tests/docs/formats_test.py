#!/usr/bin/env python3
"""Checks docs/formats.md against the programs: every worked example is what aestarnex writes
(the sealed example opens with its passphrase), and every recipe opens a file aestarnex wrote.

Usage: formats_test.py <formats.md> <aestarnex>
"""
import os
import re
import subprocess
import sys
import tempfile

KEY = "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F"
IV = "F0E1D2C3B4A5968778695A4B3C2D1E0F"
PASSPHRASE = "correct horse battery staple"
MESSAGE = b"Attack at dawn!\n"
MODES = ["CTR", "GCM", "OFB", "CFB", "CBC", "ECB", "PCBC"]

failures = []


def fail(what):
    failures.append(what)
    print("FAIL:", what)


def marked_blocks(text, kind):
    """{name: (language, code)} for each fenced block after a <!-- kind: name --> line."""
    pattern = r"<!-- %s: (\S+) -->\n```(\w+)\n(.*?)```" % kind
    return {m[0]: (m[1], m[2]) for m in re.findall(pattern, text, re.S)}


def aestarnex(program, *args, expect):
    result = subprocess.run([program, *args], capture_output=True)
    if result.returncode != expect:
        fail("aestarnex %s: exit %d, %r" % (" ".join(args[:4]), result.returncode, result.stdout))


def encrypt(program, mode, source, target):
    iv = [] if mode == "ECB" else [IV[:24] if mode == "GCM" else IV]
    aestarnex(program, "Moltra", "E", "256", mode, *iv, KEY, source, target, expect=0)


def check_examples(doc, program, work):
    examples = marked_blocks(doc, "example")
    for name in MODES + ["sealed"]:
        if name not in examples:
            fail("no worked example for " + name)
    hello = os.path.join(work, "hello.txt")
    with open(hello, "wb") as f:
        f.write(MESSAGE)
    for name, (_, block) in examples.items():
        shown = bytes.fromhex("".join(block.split()))
        made = os.path.join(work, "example." + name)
        if name == "sealed":  # random nonce and salt: the shown file must open
            with open(made, "wb") as f:
                f.write(shown)
            aestarnex(program, "Praxel", "D", made, made + ".out", "*%s*" % PASSPHRASE, expect=1)
            produced, expected = open(made + ".out", "rb").read(), MESSAGE
        else:
            encrypt(program, name, hello, made)
            produced, expected = open(made, "rb").read(), shown
        if produced != expected:
            fail("example %s: the document shows %s, the program gives %s"
                 % (name, expected.hex(), produced.hex()))


def check_recipes(doc, program, work):
    recipes = marked_blocks(doc, "recipe")
    for name in MODES + ["sealed"]:
        if name not in recipes:
            fail("no recipe for " + name)
    message = os.urandom(3 * 65536 + 7)  # several blocks and a partial one
    with open(os.path.join(work, "message.txt"), "wb") as f:
        f.write(message)
    os.chdir(work)
    for mode in MODES:
        encrypt(program, mode, "message.txt", "message." + mode.lower())
    aestarnex(program, "Praxel", "E", "message.txt", "message.sealed", "*%s*" % PASSPHRASE,
              expect=0)
    for name, (language, code) in recipes.items():
        if os.path.exists("message.out"):
            os.remove("message.out")
        command = ["bash", "-euo", "pipefail", "-c", code] if language == "sh" \
            else [sys.executable, "-c", code]
        result = subprocess.run(command, capture_output=True, text=True)
        if result.returncode != 0:
            fail("recipe %s failed: %s" % (name, result.stderr.strip()))
        elif open("message.out", "rb").read() != message:
            fail("recipe %s did not give the original file" % name)
        else:
            print("recipe %s: opened the file" % name)


def main():
    doc = open(sys.argv[1], encoding="utf-8").read()
    program = os.path.abspath(sys.argv[2])
    with tempfile.TemporaryDirectory() as work:
        check_examples(doc, program, work)
        check_recipes(doc, program, work)
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
