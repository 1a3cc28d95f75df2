#!/usr/bin/env python3
"""Facts of a PE image that the release checks need, each a command that exits 0 when it holds:

  pe.py no-timestamp EXE             the file header's time stamp is 0
  pe.py stripped EXE                 no .debug_* section and no symbol
  pe.py checksum EXE                 the optional header's checksum is the file's checksum
  pe.py debuglink EXE SYMBOLS        EXE's .gnu_debuglink names SYMBOLS by its file name and CRC
  pe.py signed-from UNSIGNED SIGNED  SIGNED is UNSIGNED with a signature appended, and nothing else
"""
import os
import struct
import sys
import zlib

SECURITY_DIRECTORY = 4  # the data directory entry of the Authenticode signature


class Image:
    def __init__(self, data):
        self.data = data
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[self.pe:self.pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        self.sections, symbols, self.symbol_count, self.optional_size = struct.unpack_from(
            "<H4xIIH", data, self.pe + 6)
        # The string table follows the symbols; a file without a symbol table has none.
        self.strings = symbols + 18 * self.symbol_count if symbols else None
        self.optional = self.pe + 24
        if struct.unpack_from("<H", data, self.optional)[0] != 0x20B:
            raise ValueError("not PE32+")
        self.checksum_at = self.optional + 64
        self.security_at = self.optional + 112 + 8 * SECURITY_DIRECTORY

    def timestamp(self):
        return struct.unpack_from("<I", self.data, self.pe + 8)[0]

    def stored_checksum(self):
        return struct.unpack_from("<I", self.data, self.checksum_at)[0]

    def computed_checksum(self):
        """The loader's checksum: 16-bit words summed with end-around carry, the checksum field
        counted as zero, plus the file's length."""
        data = bytearray(self.data)
        data[self.checksum_at:self.checksum_at + 4] = bytes(4)
        if len(data) % 2:
            data.append(0)
        total = sum(struct.unpack(f"<{len(data) // 2}H", data))
        while total >> 16:
            total = (total & 0xFFFF) + (total >> 16)
        return total + len(self.data)

    def security_directory(self):
        return struct.unpack_from("<II", self.data, self.security_at)  # file offset, size

    def section_table(self):
        """(name, raw bytes) of each section; long names live in the string table."""
        table = self.optional + self.optional_size
        for index in range(self.sections):
            name, _, _, size, offset = struct.unpack_from("<8sIIII", self.data, table + 40 * index)
            name = name.rstrip(b"\0")
            if name.startswith(b"/"):
                if self.strings is None:
                    raise ValueError("a long section name without a string table")
                start = self.strings + int(name[1:])
                name = self.data[start:self.data.index(b"\0", start)]
            yield name, self.data[offset:offset + size]

    def section(self, wanted):
        return next((data for name, data in self.section_table() if name == wanted), None)

    def without_signature_fields(self):
        """The bytes with the two header fields that signing rewrites set to zero."""
        data = bytearray(self.data)
        data[self.checksum_at:self.checksum_at + 4] = bytes(4)
        data[self.security_at:self.security_at + 8] = bytes(8)
        return bytes(data)


def load(path):
    with open(path, "rb") as file:
        return Image(file.read())


def no_timestamp(exe):
    return load(exe).timestamp() == 0


def stripped(exe):
    image = load(exe)
    names = [name for name, _ in image.section_table()]
    return b".text" in names and not any(name.startswith(b".debug_") for name in names) \
        and image.symbol_count == 0


def checksum(exe):
    image = load(exe)
    return image.stored_checksum() == image.computed_checksum()


def debuglink(exe, symbols):
    # The section: the file name, zeros to a multiple of four bytes, the CRC-32 of the file.
    link = load(exe).section(b".gnu_debuglink")
    if link is None or len(link) < 8:
        return False
    name = link[:link.index(b"\0")]
    crc = struct.unpack_from("<I", link, (len(name) + 4) & ~3)[0]
    with open(symbols, "rb") as file:
        return name == os.path.basename(symbols).encode() and crc == zlib.crc32(file.read())


def signed_from(unsigned, signed):
    # Signing pads the image with zeros to eight bytes, appends the certificate table there and
    # records it in the security directory; it also rewrites the checksum.
    before, after = load(unsigned), load(signed)
    offset, size = after.security_directory()
    padding = offset - len(before.data)
    return (before.security_directory() == (0, 0) and size > 0 and 0 <= padding < 8
            and offset + size == len(after.data)
            and after.data[len(before.data):offset] == bytes(padding)
            and after.without_signature_fields()[:len(before.data)]
            == before.without_signature_fields())


COMMANDS = {"no-timestamp": no_timestamp, "stripped": stripped, "checksum": checksum, "debuglink": debuglink,
            "signed-from": signed_from}

if __name__ == "__main__":
    command = COMMANDS.get(sys.argv[1] if len(sys.argv) > 1 else "")
    if command is None or len(sys.argv) - 2 != command.__code__.co_argcount:
        sys.exit(__doc__)
    try:
        sys.exit(0 if command(*sys.argv[2:]) else 1)
    except (OSError, ValueError, struct.error) as error:
        sys.exit(f"pe.py: {error}")
