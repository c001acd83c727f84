#!/usr/bin/python3
"""Peer for the benchmark: prints a document's heading pairs and part names with olefile.

olefile opens the compound file and hands over the document-summary stream; its own
property reader does not decode vectors, so the two properties are decoded here.
Prints "HEADING<TAB>COUNT" for each heading pair, then each part name on its own line.
"""
import struct
import sys

import olefile

VT_I2, VT_I4, VT_LPSTR, VT_LPWSTR, VT_VARIANT, VT_VECTOR = 2, 3, 30, 31, 12, 0x1000
PID_CODEPAGE, PID_HEADING_PAIRS, PID_DOC_PARTS = 1, 12, 13


def codec(codepage):
    return {1200: "utf-16-le", 65001: "utf-8", 20127: "ascii"}.get(codepage, "cp%d" % codepage)


def read_value(data, pos, vt, encoding):
    """Returns (value, position after it) for one untyped value of type vt."""
    if vt == VT_I2:
        return struct.unpack_from("<h", data, pos)[0], pos + 4
    if vt == VT_I4:
        return struct.unpack_from("<i", data, pos)[0], pos + 4
    if vt == VT_LPSTR:
        (n,) = struct.unpack_from("<I", data, pos)
        raw = data[pos + 4:pos + 4 + n]
        return raw.split(b"\0", 1)[0].decode(encoding, "replace"), pos + 4 + n
    if vt == VT_LPWSTR:
        (n,) = struct.unpack_from("<I", data, pos)
        raw = data[pos + 4:pos + 4 + 2 * n]
        end = pos + 4 + ((2 * n + 3) & ~3)
        return raw.decode("utf-16-le", "replace").split("\0", 1)[0], end
    raise ValueError("unexpected value type %d" % vt)


def read_property(data, pos, encoding):
    (vt,) = struct.unpack_from("<H", data, pos)
    pos += 4
    if not vt & VT_VECTOR:
        return read_value(data, pos, vt, encoding)[0]
    (count,) = struct.unpack_from("<I", data, pos)
    pos += 4
    items = []
    for _ in range(count):
        elem_vt = vt & ~VT_VECTOR
        if elem_vt == VT_VARIANT:
            (elem_vt,) = struct.unpack_from("<H", data, pos)
            pos += 4
        value, pos = read_value(data, pos, elem_vt, encoding)
        items.append(value)
    return items


def main(path):
    with olefile.OleFileIO(path) as ole:
        data = ole.openstream("\x05DocumentSummaryInformation").read()
    (section,) = struct.unpack_from("<I", data, 44)  # first section's offset
    _, count = struct.unpack_from("<II", data, section)
    offsets = {}
    for k in range(count):
        pid, off = struct.unpack_from("<II", data, section + 8 + 8 * k)
        offsets[pid] = section + off
    encoding = "cp1252"
    if PID_CODEPAGE in offsets:
        encoding = codec(read_property(data, offsets[PID_CODEPAGE], "ascii") & 0xFFFF)
    pairs = read_property(data, offsets[PID_HEADING_PAIRS], encoding)
    parts = read_property(data, offsets[PID_DOC_PARTS], encoding)
    out = []
    for k in range(0, len(pairs) - 1, 2):
        out.append("%s\t%d" % (pairs[k], pairs[k + 1]))
    out.extend(parts)
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main(sys.argv[1])
