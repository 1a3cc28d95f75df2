#!/usr/bin/env python3
"""Writes the touchpad firmware image (version 17) that the program carries, as Intel HEX text.

    make_firmware.py                 the text on standard output
    make_firmware.py -o FILE         the text into FILE
    make_firmware.py --check FILE    exit 1 unless FILE holds exactly this text

The output is the same on every run and every machine: the bytes come from a fixed seed.

Layout: one run of 64,880 bytes from 0x00021820 to 0x0003158F, in 16-byte records with CR LF
ends, under an extended linear address record for each 64 KiB it touches. Two records are
shorter, so that the image also exercises records off 16-byte alignment and a record that ends
exactly on the 64 KiB boundary: 4 bytes at 0x0002FDF0 and 12 bytes at 0x0002FFF4. The first
eight bytes are 00 00 00 00 28 18 02 00: the second 32-bit word, 0x00021828, is what the update
announces to the bootloader.
"""

import argparse
import hashlib
import pathlib
import re
import struct
import sys

START = 0x00021820
LENGTH = 0xFD70
VERSION_HEADER = pathlib.Path(__file__).resolve().parent.parent / "resources" / "version.h"
VERSION = int(re.search(r"#define FWU_FIRMWARE_VERSION (\d+)", VERSION_HEADER.read_text()).group(1))
SHORT_RECORDS = {0x0002FDF0: 4, 0x0002FFF4: 12}
SEED = b"touchpad firmware %d" % VERSION


def image_bytes():
    """The firmware: a vector table whose second word is the entry point, then code-like bytes."""
    entry = START + 8
    header = struct.pack("<IIHH", 0, entry, VERSION, 0)
    body = bytearray()
    counter = 0
    while len(header) + len(body) < LENGTH:
        body += hashlib.sha256(SEED + counter.to_bytes(4, "little")).digest()
        counter += 1
    return (header + bytes(body))[:LENGTH]


def record(address_field, record_type, data):
    fields = bytes([len(data), address_field >> 8, address_field & 0xFF, record_type]) + data
    checksum = (-sum(fields)) & 0xFF
    return ":" + (fields + bytes([checksum])).hex().upper() + "\r\n"


def hex_text():
    data = image_bytes()
    lines = []
    upper = None
    offset = 0
    while offset < len(data):
        address = START + offset
        if address >> 16 != upper:
            upper = address >> 16
            lines.append(record(0, 0x04, upper.to_bytes(2, "big")))
        size = SHORT_RECORDS.get(address, 16)
        size = min(size, len(data) - offset, 0x10000 - (address & 0xFFFF))
        lines.append(record(address & 0xFFFF, 0x00, data[offset:offset + size]))
        offset += size
    lines.append(record(0, 0x01, b""))
    return "".join(lines).encode("ascii")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    group = parser.add_mutually_exclusive_group()
    group.add_argument("-o", "--output", help="write the text into this file")
    group.add_argument("--check", metavar="FILE", help="compare FILE with the text")
    args = parser.parse_args()
    text = hex_text()
    if args.check:
        with open(args.check, "rb") as existing:
            if existing.read() != text:
                print(f"{args.check} differs from what tools/make_firmware.py writes; "
                      "regenerate it with tools/make_firmware.py -o " + args.check,
                      file=sys.stderr)
                return 1
        return 0
    if args.output:
        with open(args.output, "wb") as out:
            out.write(text)
    else:
        sys.stdout.buffer.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
