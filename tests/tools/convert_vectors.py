#!/usr/bin/env python3
"""Converts published AES test vectors into the suite's vector format under tests/vectors/.

Input: the NIST CAVP response files (AESAVS KAT and MMT, GCM) and the RFC 3686 CTR vectors, as
shipped by Debian's python3-cryptography-vectors package. This script only reshapes text; it
computes nothing and uses none of our code.

Output format, read by tests/support/vector_file.cpp:
    # source: <where the records came from>     (comments start with '#')
    [SECTION]                                    (ENCRYPT or DECRYPT)
    NAME = hexvalue                              (one record: consecutive lines)
    FAIL                                         (a bare word is a flag of the record)
    <blank line>                                 (ends the record)

Names: KEY, IV, PLAINTEXT, CIPHERTEXT, TAG. Hex is lower case. The small hand-written files
(fips197.txt, ctr_sp800_38a.txt, gcm_published.txt) are not produced here.

Usage: convert_vectors.py [--source DIR] [--out DIR]
"""

import argparse
import os
import re
import subprocess
import sys

DEFAULT_SOURCE = "/usr/lib/python3/dist-packages/cryptography_vectors/ciphers/AES"
PACKAGE = "python3-cryptography-vectors"
KEY_BITS = (128, 192, 256)

# Source names (NIST's and RFC 3686's spellings) to ours; Count/COUNT is dropped.
NAME_MAP = {
    "KEY": "KEY",
    "Key": "KEY",
    "IV": "IV",
    "PLAINTEXT": "PLAINTEXT",
    "PT": "PLAINTEXT",
    "CIPHERTEXT": "CIPHERTEXT",
    "CT": "CIPHERTEXT",
    "Tag": "TAG",
    "AAD": "AAD",  # checked empty by the GCM filter, then dropped
}
DROPPED = {"COUNT", "Count"}
HEX = re.compile(r"^[0-9a-fA-F]*$")


class ConversionError(Exception):
    pass


def package_version():
    try:
        out = subprocess.run(["dpkg-query", "-W", "-f=${Version}", PACKAGE],
                             capture_output=True, text=True, check=True)
        return out.stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown version"


def read_response_file(path):
    """Yields (section, params, record) from a CAVP-style file.

    section is the last bare header such as ENCRYPT; params holds the 'name = value' headers seen
    since (GCM's [Keylen = 128] and so on); record is a list of (name, value) pairs and flags.
    """
    section = None
    params = {}
    record = []
    with open(path, encoding="ascii") as f:
        lines = f.read().splitlines()
    for number, raw in enumerate(lines + [""], start=1):
        line = raw.strip()
        if line.startswith("#"):
            continue
        if not line:
            if record:
                yield section, dict(params), record
                record = []
            continue
        header = re.fullmatch(r"\[(.+)\]", line)
        if header:
            if record:
                raise ConversionError(f"{path}:{number}: header inside a record")
            text = header.group(1)
            pair = re.fullmatch(r"(\w+)\s*=\s*(\w+)", text)
            if pair:
                params[pair.group(1)] = pair.group(2)
            else:
                section = text
                params = {}
            continue
        pair = re.fullmatch(r"(\w+)\s*=\s*(\S*)", line)
        if pair:
            record.append((pair.group(1), pair.group(2)))
        elif re.fullmatch(r"\w+", line):
            record.append((line, None))
        else:
            raise ConversionError(f"{path}:{number}: cannot read line {raw!r}")


def normalise(path, record):
    """Maps names, lower-cases hex, drops counters; refuses anything unexpected."""
    out = []
    for name, value in record:
        if name in DROPPED:
            continue
        if value is None:
            if name != "FAIL":
                raise ConversionError(f"{path}: unknown flag {name}")
            out.append((name, None))
            continue
        if name not in NAME_MAP:
            raise ConversionError(f"{path}: unknown field {name}")
        if not HEX.match(value) or len(value) % 2:
            raise ConversionError(f"{path}: bad hex in {name}: {value}")
        out.append((NAME_MAP[name], value.lower()))
    return out


def write_vector_file(path, sources, sections):
    """sections: list of (name, records); each record a list of (name, value or None)."""
    lines = [f"# source: {s}" for s in sources]
    for name, records in sections:
        if not records:
            raise ConversionError(f"{path}: section {name} would be empty")
        lines += ["", f"[{name}]"]
        for record in records:
            lines.append("")
            for field, value in record:
                lines.append(field if value is None else f"{field} = {value}")
    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    count = sum(len(r) for _, r in sections)
    print(f"{os.path.basename(path)}: {count} records, {os.path.getsize(path)} bytes")


def collect_sections(files):
    """ENCRYPT and DECRYPT records from AESAVS files, in file order."""
    sections = {"ENCRYPT": [], "DECRYPT": []}
    for path in files:
        for section, _, record in read_response_file(path):
            if section not in sections:
                raise ConversionError(f"{path}: unexpected section {section}")
            sections[section].append(normalise(path, record))
    return [(name, sections[name]) for name in ("ENCRYPT", "DECRYPT")]


def source_line(origin, path, version):
    return f"{origin}, {os.path.basename(path)} (Debian {PACKAGE} {version})"


def convert_kat(source, out, version):
    # The block cipher alone: ECB answers are single AES calls. The CBC/CFB/OFB copies of these
    # files use an all-zero IV and repeat the same blocks, so they add nothing.
    for bits in KEY_BITS:
        files = [os.path.join(source, "ECB", f"ECB{kind}{bits}.rsp")
                 for kind in ("GFSbox", "KeySbox", "VarKey", "VarTxt")]
        sources = [source_line("NIST CAVP AESAVS known-answer tests", p, version) for p in files]
        write_vector_file(os.path.join(out, f"aes_kat_{bits}.txt"), sources,
                          collect_sections(files))


def convert_mmt(source, out, version):
    for mode, folder, prefix in (("ecb", "ECB", "ECB"), ("cbc", "CBC", "CBC"),
                                 ("cfb128", "CFB", "CFB128"), ("ofb", "OFB", "OFB")):
        for bits in KEY_BITS:
            path = os.path.join(source, folder, f"{prefix}MMT{bits}.rsp")
            write_vector_file(os.path.join(out, f"mmt_{mode}_{bits}.txt"),
                              [source_line("NIST CAVP AESAVS multiblock message tests", path,
                                           version)],
                              collect_sections([path]))


def convert_ctr(source, out, version):
    # RFC 3686 counter blocks are nonce | IV | 32-bit block counter from 1. These messages are
    # at most three blocks, so the count never carries out of the low byte and the whole-block
    # counter gives the same keystream.
    files = [os.path.join(source, "CTR", f"aes-{bits}-ctr.txt") for bits in KEY_BITS]
    sources = [source_line("RFC 3686 test vectors", p, version) for p in files]
    records = []
    for path in files:
        for section, _, record in read_response_file(path):
            if section != "ENCRYPT":
                raise ConversionError(f"{path}: unexpected section {section}")
            records.append(normalise(path, record))
    write_vector_file(os.path.join(out, "ctr_rfc3686.txt"), sources, [("ENCRYPT", records)])


def gcm_records(path, section_name):
    """Records with a 96-bit IV, no AAD, a 128-bit tag and a non-empty plaintext."""
    records = []
    for _, params, record in read_response_file(path):
        if (params.get("IVlen") != "96" or params.get("AADlen") != "0"
                or params.get("Taglen") != "128" or params.get("PTlen") == "0"):
            continue
        fields = normalise(path, record)
        if any(name == "AAD" and value for name, value in fields):
            raise ConversionError(f"{path}: AAD in a section declared without it")
        fields = [(n, v) for n, v in fields if n != "AAD"]
        # Ours: KEY, IV, PLAINTEXT (absent for FAIL), CIPHERTEXT, TAG, then the flag.
        order = {"KEY": 0, "IV": 1, "PLAINTEXT": 2, "CIPHERTEXT": 3, "TAG": 4, "FAIL": 5}
        fields.sort(key=lambda f: order[f[0]])
        records.append(fields)
    if not records:
        raise ConversionError(f"{path}: no {section_name} records survive the filter")
    return records


def convert_gcm(source, out, version):
    for bits in KEY_BITS:
        encrypt = os.path.join(source, "GCM", f"gcmEncryptExtIV{bits}.rsp")
        decrypt = os.path.join(source, "GCM", f"gcmDecrypt{bits}.rsp")
        origin = ("NIST CAVP GCMVS, sections IVlen 96, AADlen 0, Taglen 128, PTlen > 0 only")
        write_vector_file(os.path.join(out, f"gcm_{bits}.txt"),
                          [source_line(origin, encrypt, version),
                           source_line(origin, decrypt, version)],
                          [("ENCRYPT", gcm_records(encrypt, "ENCRYPT")),
                           ("DECRYPT", gcm_records(decrypt, "DECRYPT"))])


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", default=DEFAULT_SOURCE,
                        help="folder holding ECB/, CBC/, CFB/, OFB/, CTR/ and GCM/")
    parser.add_argument("--out", default=os.path.join(here, "..", "vectors"))
    args = parser.parse_args()
    if not os.path.isdir(args.source):
        sys.exit(f"no vector folder {args.source}: apt-get install {PACKAGE}")
    os.makedirs(args.out, exist_ok=True)
    version = package_version()
    try:
        convert_kat(args.source, args.out, version)
        convert_mmt(args.source, args.out, version)
        convert_ctr(args.source, args.out, version)
        convert_gcm(args.source, args.out, version)
    except (ConversionError, OSError) as error:
        sys.exit(f"conversion failed: {error}")


if __name__ == "__main__":
    main()
