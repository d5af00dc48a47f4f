"""The registry file's record format, for every test and script that writes or
reads Zandrel.teams in Python.

Written from the layout alone, apart from the plug-in's code, so that what
these files hold also checks that the plug-in and its tools read and write
the format they should. A record is 284 bytes:

    offset  width  field
         0      2  freq (unsigned)
         2     20  owner
        22    200  welcome
       222      2  padding
       224      4  passwordHash (unsigned)
       228     20  allowedSquad
       248     32  freqName
       280      4  lastUsed (signed, seconds since 1970)

all little-endian, text fields zero-filled; in the file each 32-bit word of
a record is XORed with KEY.
"""
import hashlib
import struct

RECORD_SIZE = 284
KEY = 0x2B7D4E19
LAYOUT = struct.Struct("<H20s200s2sI20s32si")
assert LAYOUT.size == RECORD_SIZE
WIDTHS = {"owner": 20, "welcome": 200, "allowedSquad": 20, "freqName": 32}


def password_hash(password: bytes) -> int:
    """The stored hash of a password: its MD5 digest as four little-endian
    words, XORed together."""
    words = struct.unpack("<4I", hashlib.md5(password).digest())
    return words[0] ^ words[1] ^ words[2] ^ words[3]


def record(freq, owner=b"", welcome=b"", squad=b"", name=b"", hash=0, last_used=0,
           padding=b"\0\0"):
    """One record as a dict of its fields. Texts are bytes no longer than their
    field; a text as wide as its field has no terminating zero."""
    fields = {"owner": owner, "welcome": welcome, "allowedSquad": squad, "freqName": name}
    for field, value in fields.items():
        assert isinstance(value, bytes) and len(value) <= WIDTHS[field], field
    assert len(padding) == 2
    return dict(freq=freq, passwordHash=hash, lastUsed=last_used, padding=padding, **fields)


def raw(r):
    """The record's 284 bytes as they are in memory."""
    return LAYOUT.pack(r["freq"], r["owner"], r["welcome"], r["padding"], r["passwordHash"],
                       r["allowedSquad"], r["freqName"], r["lastUsed"])


def scrambled(data):
    """Bytes with each 32-bit word XORed with KEY; the same step undoes it."""
    assert len(data) % 4 == 0
    count = len(data) // 4
    words = struct.unpack(f"<{count}I", data)
    return struct.pack(f"<{count}I", *(w ^ KEY for w in words))


def image(*records):
    """A registry file holding these records, in this order."""
    return b"".join(scrambled(raw(r)) for r in records)


def write_registry(path, *records):
    with open(path, "wb") as f:
        f.write(image(*records))


def records_in(data):
    """The records of a registry file's bytes, as dicts; the file must hold
    whole records."""
    assert len(data) % RECORD_SIZE == 0, len(data)
    out = []
    for at in range(0, len(data), RECORD_SIZE):
        (freq, owner, welcome, padding, password, squad, name, last_used) = \
            LAYOUT.unpack(scrambled(data[at:at + RECORD_SIZE]))
        out.append(dict(freq=freq, owner=owner, welcome=welcome, padding=padding,
                        passwordHash=password, allowedSquad=squad, freqName=name,
                        lastUsed=last_used))
    return out


def freqs_in(path):
    """The freq numbers of a registry file, in file order."""
    with open(path, "rb") as f:
        return [r["freq"] for r in records_in(f.read())]


# A side file of changes, written apart from the plug-in's code from its
# layout: a 40-byte header (b"HDRKCHG\0", version, count, run identity, run
# sequence, writer's process number, a zero word), 580 bytes per change
# (freq, flags: 1 base, 2 new, 4 base unknown; a zero byte, change time,
# base record, new record, each scrambled), then the checksum() of all that
# comes before.
CHANGE_MAGIC = b"HDRKCHG\0"
HEADER = struct.Struct("<8sIIQQII")
ENTRY = struct.Struct("<HBBq")


def checksum(data):
    """FNV-1a's step over 64-bit little-endian words in four lanes (word i in
    lane i % 4, the last bytes zero-filled), the lanes folded in order, then
    the length."""
    mask, prime = 0xFFFFFFFFFFFFFFFF, 1099511628211
    basis = 14695981039346656037
    lanes = [basis, basis ^ 1, basis ^ 2, basis ^ 3]
    padded = data + b"\0" * (-len(data) % 8)
    for i, (word,) in enumerate(struct.iter_unpack("<Q", padded)):
        lanes[i % 4] = ((lanes[i % 4] ^ word) * prime) & mask
    digest = lanes[0]
    for lane in lanes[1:]:
        digest = ((digest ^ lane) * prime) & mask
    return ((digest ^ len(data)) * prime) & mask


def change(freq, base=None, new=None, at=0, base_unknown=False):
    """One change: base and new are record dicts or None (not registered)."""
    return dict(freq=freq, base=base, new=new, at=at, base_unknown=base_unknown)


def change_file(changes, sequence=1, identity=7, writer=0):
    out = HEADER.pack(CHANGE_MAGIC, 1, len(changes), identity, sequence, writer, 0)
    empty = scrambled(b"\0" * RECORD_SIZE)
    for c in changes:
        flags = (1 if c["base"] is not None else 0) | (2 if c["new"] is not None else 0) | \
            (4 if c["base_unknown"] else 0)
        out += ENTRY.pack(c["freq"], flags, 0, c["at"])
        out += scrambled(raw(c["base"])) if c["base"] is not None else empty
        out += scrambled(raw(c["new"])) if c["new"] is not None else empty
    return out + struct.pack("<Q", checksum(out))


def changes_in(data):
    """The changes of a side file, as change() makes them, and its sequence."""
    magic, version, count, identity, sequence, writer, _ = HEADER.unpack_from(data)
    assert magic == CHANGE_MAGIC and version == 1, data[:16]
    assert len(data) == HEADER.size + count * 580 + 8
    assert struct.unpack_from("<Q", data, len(data) - 8)[0] == checksum(data[:-8])
    changes = []
    for i in range(count):
        at = HEADER.size + i * 580
        freq, flags, _, when = ENTRY.unpack_from(data, at)
        base = records_in(data[at + 12:at + 12 + RECORD_SIZE])[0] if flags & 1 else None
        new = records_in(data[at + 12 + RECORD_SIZE:at + 580])[0] if flags & 2 else None
        changes.append(change(freq, base, new, when, bool(flags & 4)))
    return changes, sequence


def side_freqs_in(path):
    """The freqs a side file registers or changes (its changes' new records)."""
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(CHANGE_MAGIC):
        return [c["freq"] for c in changes_in(data)[0] if c["new"] is not None]
    return [r["freq"] for r in records_in(data)]
