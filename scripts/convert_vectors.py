#!/usr/bin/env python3
"""Converts published test vectors into the suite's vector format under tests/vectors/.

Input, as shipped by Debian's python3-cryptography-vectors package: the NIST CAVP AESAVS (KAT
and MMT), GCMVS and SHAVS response files, and the RFC 3686 (CTR) and RFC 4231 (HMAC-SHA-256)
cases. The script only reshapes text; it computes nothing and uses none of our code. The small
hand-written files (fips197.txt, ctr_sp800_38a.txt, gcm_published.txt,
pbkdf2_sha256_rfc7914.txt) are not produced here.

Output format, read by tests/support/vector_file.cpp:
    # source: <where the records came from>     (comments start with '#')
    [SECTION]                                    (ENCRYPT, DECRYPT, SHA256 or HMAC)
    NAME = hexvalue                              (one record: consecutive lines)
    FAIL                                         (a bare word is a flag of the record)
    <blank line>                                 (ends the record)
Names: KEY, IV, PLAINTEXT, CIPHERTEXT, TAG, MSG, DIGEST, MAC; hex is lower case. The empty
message of SHAVS (written there as Len = 0, Msg = 00) is the flag EMPTY.

Usage: convert_vectors.py [--source DIR] [--out DIR]
"""

import argparse
import os
import re
import subprocess
import sys

PACKAGE = "python3-cryptography-vectors"
KEY_BITS = (128, 192, 256)
NAMES = {"KEY": "KEY", "Key": "KEY", "IV": "IV", "PLAINTEXT": "PLAINTEXT", "PT": "PLAINTEXT",
         "CIPHERTEXT": "CIPHERTEXT", "CT": "CIPHERTEXT", "Tag": "TAG", "AAD": "AAD",
         "Msg": "MSG", "MD": "DIGEST", "Len": "Len"}
GCM_ORDER = ("KEY", "IV", "PLAINTEXT", "CIPHERTEXT", "TAG", "FAIL")


class ConversionError(Exception):
    pass


def read_records(path):
    """Yields (section, params, fields) from a CAVP-style file: section is the last bare header
    such as ENCRYPT, params the 'name = value' headers since it, fields the record's (name,
    value) pairs with our names and lower-case hex (value None for a flag), counters dropped."""
    section, params, record = None, {}, []
    with open(path, encoding="ascii") as f:
        lines = f.read().splitlines()
    for number, raw in enumerate(lines + [""], start=1):
        line = raw.strip()
        if line.startswith("#"):
            continue
        header = re.fullmatch(r"\[(.+)\]", line)
        pair = re.fullmatch(r"(\w+)\s*=\s*(\S*)", line)
        if not line and record:
            yield section, dict(params), record
            record = []
        elif header:
            setting = re.fullmatch(r"(\w+)\s*=\s*(\w+)", header.group(1))
            if record:
                raise ConversionError(f"{path}:{number}: header inside a record")
            if setting:
                params[setting.group(1)] = setting.group(2)
            else:
                section, params = header.group(1), {}
        elif pair and pair.group(1) not in ("COUNT", "Count"):
            name, value = pair.groups()
            digits = r"\d+" if name == "Len" else r"([0-9a-fA-F]{2})*"
            if name not in NAMES or not re.fullmatch(digits, value):
                raise ConversionError(f"{path}:{number}: cannot take {line!r}")
            record.append((NAMES[name], value.lower()))
        elif line == "FAIL":
            record.append((line, None))
        elif line and not pair:
            raise ConversionError(f"{path}:{number}: cannot read line {raw!r}")


def write_vector_file(path, sources, sections):
    """sections: (name, records) pairs; each record a list of (name, value or None)."""
    lines = [f"# source: {s}" for s in sources]
    for name, records in sections:
        if not records:
            raise ConversionError(f"{path}: section {name} would be empty")
        lines += ["", f"[{name}]"]
        for record in records:
            lines.append("")
            lines += [field if value is None else f"{field} = {value}" for field, value in record]
    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    count = sum(len(r) for _, r in sections)
    print(f"{os.path.basename(path)}: {count} records, {os.path.getsize(path)} bytes")


def by_section(paths, names, keep=lambda params, fields: fields, title=None):
    """The records of `paths` in file order, grouped under `names` (the only sections allowed;
    None for a file without sections, then named `title`); `keep` filters or reshapes a record
    (None drops it)."""
    sections = {name: [] for name in names}
    for path in paths:
        for section, params, fields in read_records(path):
            if section not in sections:
                raise ConversionError(f"{path}: unexpected section {section}")
            kept = keep(params, fields)
            if kept is not None:
                sections[section].append(kept)
    return [(name or title, sections[name]) for name in names]


def gcm_record(params, fields):
    """Records with a 96-bit IV, no AAD, a 128-bit tag and a non-empty plaintext, in our order."""
    if (params.get("IVlen") != "96" or params.get("AADlen") != "0"
            or params.get("Taglen") != "128" or params.get("PTlen") == "0"):
        return None
    if any(name == "AAD" and value for name, value in fields):
        raise ConversionError("AAD in a section declared without it")
    return sorted((f for f in fields if f[0] != "AAD"), key=lambda f: GCM_ORDER.index(f[0]))


def message(fields):
    """The message field, checked against Len (in bits); SHAVS's empty message is a flag."""
    bits, text = int(fields["Len"]), fields["MSG"]
    if bits == 0 and text == "00":
        return ("EMPTY", None)
    if bits != 4 * len(text):
        raise ConversionError(f"Len = {bits} for {len(text) // 2} bytes")
    return ("MSG", text)


def sha_record(params, fields):
    fields = dict(fields)
    if params.get("L") != "32" or sorted(fields) != ["DIGEST", "Len", "MSG"]:
        raise ConversionError(f"not a SHA-256 record: {sorted(fields)}")
    return [message(fields), ("DIGEST", fields["DIGEST"])]


def hmac_record(_, fields):
    fields = dict(fields)
    return [("KEY", fields["KEY"]), message(fields), ("MAC", fields["DIGEST"])]


def convert(source, out, version):
    def origin(text, *paths):
        return [f"{text}, {os.path.basename(p)} (Debian {PACKAGE} {version})" for p in paths]

    aes = os.path.join(source, "ciphers", "AES")
    both = ("ENCRYPT", "DECRYPT")
    for bits in KEY_BITS:
        # The block cipher alone: ECB answers are single AES calls. The CBC/CFB/OFB copies of
        # these files use an all-zero IV and repeat the same blocks, so they add nothing.
        files = [os.path.join(aes, "ECB", f"ECB{kind}{bits}.rsp")
                 for kind in ("GFSbox", "KeySbox", "VarKey", "VarTxt")]
        write_vector_file(os.path.join(out, f"aes_kat_{bits}.txt"),
                          origin("NIST CAVP AESAVS known-answer tests", *files),
                          by_section(files, both))
    for mode, folder, prefix in (("ecb", "ECB", "ECB"), ("cbc", "CBC", "CBC"),
                                 ("cfb128", "CFB", "CFB128"), ("ofb", "OFB", "OFB")):
        for bits in KEY_BITS:
            path = os.path.join(aes, folder, f"{prefix}MMT{bits}.rsp")
            write_vector_file(os.path.join(out, f"mmt_{mode}_{bits}.txt"),
                              origin("NIST CAVP AESAVS multiblock message tests", path),
                              by_section([path], both))
    # RFC 3686 counter blocks are nonce | IV | 32-bit block counter from 1. These messages are at
    # most three blocks, so the count never carries out of the low byte and the whole-block
    # counter gives the same keystream.
    files = [os.path.join(aes, "CTR", f"aes-{bits}-ctr.txt") for bits in KEY_BITS]
    write_vector_file(os.path.join(out, "ctr_rfc3686.txt"), origin("RFC 3686 test vectors", *files),
                      by_section(files, ["ENCRYPT"]))
    for bits in KEY_BITS:
        encrypt = os.path.join(aes, "GCM", f"gcmEncryptExtIV{bits}.rsp")
        decrypt = os.path.join(aes, "GCM", f"gcmDecrypt{bits}.rsp")
        text = "NIST CAVP GCMVS, sections IVlen 96, AADlen 0, Taglen 128, PTlen > 0 only"
        write_vector_file(os.path.join(out, f"gcm_{bits}.txt"), origin(text, encrypt, decrypt),
                          by_section([encrypt], [None], gcm_record, "ENCRYPT")
                          + by_section([decrypt], [None], gcm_record, "DECRYPT"))
    for kind in ("Short", "Long"):
        path = os.path.join(source, "hashes", "SHA2", f"SHA256{kind}Msg.rsp")
        write_vector_file(os.path.join(out, f"sha256_{kind.lower()}_msg.txt"),
                          origin("NIST CAVP SHAVS", path), by_section([path], [None], sha_record, "SHA256"))
    path = os.path.join(source, "HMAC", "rfc-4231-sha256.txt")
    write_vector_file(os.path.join(out, "hmac_sha256_rfc4231.txt"),
                      origin("RFC 4231 section 4, test cases 1-4, 6 and 7 (case 5 truncates the "
                             "output and is not in the source)", path),
                      by_section([path], [None], hmac_record, "HMAC"))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", default="/usr/lib/python3/dist-packages/cryptography_vectors",
                        help="folder holding ciphers/AES/, hashes/SHA2/ and HMAC/")
    parser.add_argument("--out", default=os.path.join(here, "..", "tests", "vectors"))
    args = parser.parse_args()
    if not os.path.isdir(args.source):
        sys.exit(f"no vector folder {args.source}: apt-get install {PACKAGE}")
    try:
        version = subprocess.run(["dpkg-query", "-W", "-f=${Version}", PACKAGE],
                                 capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        version = "unknown version"
    os.makedirs(args.out, exist_ok=True)
    try:
        convert(args.source, args.out, version)
    except (ConversionError, OSError, ValueError) as error:
        sys.exit(f"conversion failed: {error}")


if __name__ == "__main__":
    main()
