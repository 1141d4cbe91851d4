#!/usr/bin/env python3
"""Writes the seed corpus of the GIF analysis fuzz target into corpus/.

Run from anywhere: python3 tests/picture/make_corpus.py
The output is the same on every run; the files are checked in.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")


def header(version=b"89a", w=16, h=8, table_bits=1):
    packed = (0x80 | (table_bits - 1)) if table_bits else 0
    table = bytes((0x30 + i) & 0xFF for i in range(3 << table_bits)) if table_bits else b""
    return b"GIF" + version + struct.pack("<HHBBB", w, h, packed, 0, 0) + table


def chain(n, fill=0x55):
    out = b""
    while n:
        k = min(n, 255)
        out += bytes([k]) + bytes([fill]) * k
        n -= k
    return out + b"\0"


def application():
    return b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"


def comment(text=b"seed"):
    return b"\x21\xFE" + bytes([len(text)]) + text + b"\0"


def control(delay=8, disposal=2, transparent=True, block_size=4):
    packed = (disposal << 2) | (1 if transparent else 0)
    return b"\x21\xF9" + bytes([block_size, packed]) + struct.pack("<H", delay) + b"\x00\x00"


def image(x=0, y=0, w=16, h=8, data=20, local_bits=0):
    packed = (0x80 | (local_bits - 1)) if local_bits else 0
    table = bytes(range(3 << local_bits)) if local_bits else b""
    return b"\x2C" + struct.pack("<HHHHB", x, y, w, h, packed) + table + b"\x02" + chain(data)


def plain_text():
    return b"\x21\x01\x0C" + bytes(range(1, 13)) + chain(6)


SEEDS = {
    "still.gif": header() + image() + b";",
    "still_control.gif": header() + control() + image() + b";",
    "anim87a.gif": header(b"87a", 32, 16, 8) + application()
    + b"".join(control(8, 2) + image(0, 0, 32, 16, 40) for _ in range(3)) + b";",
    "extensions_in_span.gif": header() + comment() + control(5, 1) + application()
    + comment(b"inside") + image() + control(5, 3) + image(2, 2, 4, 4) + b";",
    "local_table.gif": header(table_bits=0) + control() + image(local_bits=3) + image(1, 1, 2, 2, 300, 1) + b";",
    "no_control.gif": header() + image() + image(4, 4, 8, 4) + b";",
    "odd_block_size.gif": header() + control(block_size=9) + image() + control(block_size=0) + image() + b";",
    "plain_text.gif": header() + control() + plain_text() + image() + b";",
    "no_trailer.gif": header() + control() + image() + control() + image(),
    "unknown_label.gif": header() + image() + b"\x21\x42\x01\x00\x00" + image() + b";",
    "zero_frames.gif": header() + application() + b";",
    "double_control.gif": header() + control(3) + control(4) + image() + image() + b";",
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in sorted(SEEDS.items()):
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
