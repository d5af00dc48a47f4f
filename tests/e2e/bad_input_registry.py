#!/usr/bin/env python3
"""Writes bad_input.files/Zandrel.teams, the registry that bad_input.txt loads.

The records hold what no registration would make: text fields that fill their
whole width with no zero byte, a freq number twice, a freq below 100 and a
last-used time before 1970. Run it from this directory to write the file again.
"""
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
from registry_records import image, password_hash, record  # noqa: E402

macros = b"<%fname%|%fsquad%|%name%>"
records = [
    # Every text field full to its last byte; the padding and the last-used
    # time ("Zand" read as a number) are non-zero too, so a read past any
    # field shows.
    record(300, b"O" * 20, macros + b"W" * (200 - len(macros)), b"S" * 20, b"F" * 32,
           password_hash(b"pw"), int.from_bytes(b"Zand", "little"), padding=b"\xff\xff"),
    # The same number again: loaded, listed, but never found first.
    record(300, b"Second", b"second record", hash=password_hash(b"pw"), name=b"Shadowed"),
    # Below 100, odd bytes in the name, and a time that has no date.
    record(7, b"Low", hash=password_hash(b""), name=b"\xe4\x07\x7f\xff", last_used=-1),
]

out = Path(sys.argv[1] if len(sys.argv) > 1 else "bad_input.files/Zandrel.teams")
out.write_bytes(image(*records))
