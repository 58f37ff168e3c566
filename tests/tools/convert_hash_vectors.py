#!/usr/bin/env python3
"""Converts published SHA-256 and HMAC-SHA-256 test vectors into the suite's vector format.

Input: the NIST CAVP SHAVS byte-oriented response files SHA256ShortMsg.rsp and SHA256LongMsg.rsp
and the RFC 4231 HMAC-SHA-256 cases, as shipped by Debian's python3-cryptography-vectors package.
Like convert_vectors.py (whose reader and writer this reuses) it only reshapes text.

Output (tests/vectors/):
    sha256_short_msg.txt, sha256_long_msg.txt   [SHA256]  MSG, DIGEST; the empty message is a
                                                          record with DIGEST and the flag EMPTY
    hmac_sha256_rfc4231.txt                     [HMAC]    KEY, MSG, MAC
The PBKDF2 file pbkdf2_sha256_rfc7914.txt is typed in by hand and not produced here.

Usage: convert_hash_vectors.py [--source DIR] [--out DIR]
"""

import argparse
import os
import sys

from convert_vectors import (PACKAGE, ConversionError, package_version, read_response_file,
                             write_vector_file)

DEFAULT_SOURCE = "/usr/lib/python3/dist-packages/cryptography_vectors"
HEX_DIGITS = set("0123456789abcdefABCDEF")


def hex_value(path, name, value):
    if not value or len(value) % 2 or not set(value) <= HEX_DIGITS:
        raise ConversionError(f"{path}: bad hex in {name}: {value!r}")
    return value.lower()


def fields_of(path, record, expected):
    fields = dict(record)
    if sorted(fields) != sorted(expected) or len(fields) != len(record):
        raise ConversionError(f"{path}: record with fields {[n for n, _ in record]}")
    return fields


def length_checked(path, fields, message_name):
    """The message in hex, checked against the record's Len (in bits); None when empty."""
    bits = int(fields["Len"])
    message = hex_value(path, message_name, fields[message_name])
    if bits == 0:
        if message != "00":  # SHAVS writes the empty message as one zero byte with Len = 0
            raise ConversionError(f"{path}: Len = 0 with Msg = {message}")
        return None
    if bits != 4 * len(message):
        raise ConversionError(f"{path}: Len = {bits} for {len(message) // 2} bytes")
    return message


def convert_sha(source, out, version):
    for kind, count in (("Short", 65), ("Long", 64)):
        path = os.path.join(source, "hashes", "SHA2", f"SHA256{kind}Msg.rsp")
        records = []
        for _, params, record in read_response_file(path):
            if params.get("L") != "32":
                raise ConversionError(f"{path}: not a 32-byte digest section")
            fields = fields_of(path, record, ("Len", "Msg", "MD"))
            message = length_checked(path, fields, "Msg")
            digest = hex_value(path, "MD", fields["MD"])
            if len(digest) != 64:
                raise ConversionError(f"{path}: digest of {len(digest) // 2} bytes")
            records.append([("EMPTY", None)] if message is None else [("MSG", message)])
            records[-1].append(("DIGEST", digest))
        if len(records) != count:
            raise ConversionError(f"{path}: {len(records)} records, expected {count}")
        write_vector_file(
            os.path.join(out, f"sha256_{kind.lower()}_msg.txt"),
            [f"NIST CAVP SHAVS, {os.path.basename(path)} (Debian {PACKAGE} {version})"],
            [("SHA256", records)])


def convert_hmac(source, out, version):
    path = os.path.join(source, "HMAC", "rfc-4231-sha256.txt")
    records = []
    for _, _, record in read_response_file(path):
        fields = fields_of(path, record, ("Len", "Key", "Msg", "MD"))
        records.append([("KEY", hex_value(path, "Key", fields["Key"])),
                        ("MSG", length_checked(path, fields, "Msg")),
                        ("MAC", hex_value(path, "MD", fields["MD"]))])
    if len(records) != 6:
        raise ConversionError(f"{path}: {len(records)} records, expected 6")
    write_vector_file(
        os.path.join(out, "hmac_sha256_rfc4231.txt"),
        [f"RFC 4231 section 4, test cases 1-4, 6 and 7 (case 5 truncates the output and is not "
         f"in the source), {os.path.basename(path)} (Debian {PACKAGE} {version})"],
        [("HMAC", records)])


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", default=DEFAULT_SOURCE,
                        help="folder holding hashes/SHA2/ and HMAC/")
    parser.add_argument("--out", default=os.path.join(here, "..", "vectors"))
    args = parser.parse_args()
    if not os.path.isdir(args.source):
        sys.exit(f"no vector folder {args.source}: apt-get install {PACKAGE}")
    version = package_version()
    try:
        convert_sha(args.source, args.out, version)
        convert_hmac(args.source, args.out, version)
    except (ConversionError, OSError, ValueError) as error:
        sys.exit(f"conversion failed: {error}")


if __name__ == "__main__":
    main()
