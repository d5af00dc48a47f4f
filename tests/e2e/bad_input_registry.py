#!/usr/bin/env python3
"""Writes bad_input.files/Zandrel.teams, the registry that bad_input.txt loads.

The records are built here byte by byte, independently of the plug-in's own
code, and hold what no registration would make: text fields that fill their
whole width with no zero byte, a freq number twice, a freq below 100 and a
last-used time before 1970. Run it from this directory to write the file again.
"""
import hashlib
import struct
import sys
from pathlib import Path

RECORD_SIZE = 284
KEY = 0x2B7D4E19


def password_hash(password: bytes) -> int:
    d = hashlib.md5(password).digest()
    words = struct.unpack("<4I", d)
    return words[0] ^ words[1] ^ words[2] ^ words[3]


def field(text: bytes, width: int) -> bytes:
    assert len(text) <= width
    return text + b"\0" * (width - len(text))


def record(freq, owner, welcome, password, squad, name, last_used, padding=b"\0\0"):
    image = (struct.pack("<H", freq) + field(owner, 20) + field(welcome, 200) + padding +
             struct.pack("<I", password_hash(password)) + field(squad, 20) + field(name, 32) +
             struct.pack("<i", last_used))
    assert len(image) == RECORD_SIZE
    words = struct.unpack("<71I", image)
    return struct.pack("<71I", *(w ^ KEY for w in words))


macros = b"<%fname%|%fsquad%|%name%>"
records = [
    # Every text field full to its last byte; the padding and the last-used
    # time ("Zand" read as a number) are non-zero too, so a read past any
    # field shows.
    record(300, b"O" * 20, macros + b"W" * (200 - len(macros)), b"pw", b"S" * 20, b"F" * 32,
           int.from_bytes(b"Zand", "little"), padding=b"\xff\xff"),
    # The same number again: loaded, listed, but never found first.
    record(300, b"Second", b"second record", b"pw", b"", b"Shadowed", 0),
    # Below 100, odd bytes in the name, and a time that has no date.
    record(7, b"Low", b"", b"", b"", b"\xe4\x07\x7f\xff", -1),
]

out = Path(sys.argv[1] if len(sys.argv) > 1 else "bad_input.files/Zandrel.teams")
out.write_bytes(b"".join(records))
