#!/usr/bin/env python3
"""Writes the seed corpus of the stream enumeration fuzz target: a few valid
backup stream sequences (20-byte little-endian header, UTF-16LE name, data)."""
import os
import struct
import sys

MAIN, ALT, SECURITY = 1, 4, 2


def unit(stream_id, name=b"", data=b"", declared=None):
    size = len(data) if declared is None else declared
    return struct.pack("<IIQI", stream_id, 0, size, len(name)) + name + data


def named(name, data=b""):
    return unit(ALT, (":" + name + ":$DATA").encode("utf-16-le"), data)


SEEDS = {
    "main_only": unit(MAIN, data=b"hello world"),
    "one_stream": unit(MAIN, data=b"x" * 40) + named("one", b"first stream"),
    "tiny_main_then_stream": unit(MAIN, data=b"abc") + named("s", b"12"),
    "excluded_and_kept": unit(MAIN, data=b"m" * 8)
    + named("Zone.Identifier", b"[ZoneTransfer]\r\nZoneId=3\r\n")
    + named("faviconX", bytes(range(101)))
    + named("empty"),
    "security_then_streams": unit(SECURITY, data=b"\x01" * 60)
    + unit(MAIN, data=b"")
    + named("a", bytes(100))
    + named("b", b"\xff" * 150),
    "cut_data": unit(MAIN, data=b"q" * 10) + named("cut", b"0123456789")[:-4],
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
