#!/usr/bin/env python3
"""Writes the binary seed files of the registry file and text fuzzers.

The event and profile seeds are plain text and kept as they are; these are
built here because a record image is scrambled and hard to write by hand.
Run from anywhere: python3 fuzz/make_seeds.py
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
from registry_records import image, record as fields  # noqa: E402


def latin1(text, width):
    return text.encode("latin-1")[:width]


def record(freq, owner, welcome="", password_hash=0, squad="", name="", last_used=0,
           padding=b"\0\0", raw_owner=None):
    """One record's file image; texts are cut at their field's width."""
    return image(fields(freq, raw_owner or latin1(owner, 20), latin1(welcome, 200),
                        latin1(squad, 20), latin1(name, 32), password_hash, last_used, padding))


def write(target, name, data):
    path = os.path.join(HERE, "corpus", target, name)
    with open(path, "wb") as f:
        f.write(data)


def registry_seeds():
    bob = record(100, "Bob", "Hi %name% on %fnum%", 0x275FA452, "Reds", "Red Team", 1767225600)
    alice = record(1234, "Abby", name="x", last_used=-1)
    write("registry_file_fuzzer", "empty_file", b"")
    write("registry_file_fuzzer", "one_record", bob)
    write("registry_file_fuzzer", "two_records_in_file_order", bob + alice)
    write("registry_file_fuzzer", "duplicate_freq_numbers", bob + record(100, "Carol"))
    write("registry_file_fuzzer", "one_byte_too_long", bob + b"\0")
    write("registry_file_fuzzer", "one_byte_short", bob[:-1])
    write("registry_file_fuzzer", "freq_below_100_and_padding_set",
          record(7, "Dave", padding=b"\xAB\xCD", last_used=0x7FFFFFFF))
    # Every text field full to its width with no zero: readers must stop at the width.
    full = record(65535, "", "%sq%" * 50, 0xFFFFFFFF, "S" * 20, "%name%%points%" * 3, -5,
                  raw_owner=b"O" * 20)
    write("registry_file_fuzzer", "text_fields_without_terminating_zero", full)
    write("registry_file_fuzzer", "all_bits_set", b"\xFF" * 284)


def text_seeds():
    def seed(name, value, width, fit_width, delimiter, source, token=b"", replacement=b""):
        write("text_fuzzer", name, struct.pack("<IBBB", value & 0xFFFFFFFF, width, fit_width,
                                               delimiter) + source + b"\0" + token + b"\0"
              + replacement)
    seed("zero_width_3", 0, 3, 2, ord(":"), b"123 : Blue Team")
    seed("minus_5_width_3", -5, 3, 0, ord(":"), b":")
    seed("most_negative", -2147483648, 0, 16, ord(":"), b"a:b:c", b"%name%", b"Bob")
    seed("all_ones", 0xFFFFFFFF, 32, 55, ord(" "), b"   ", b"X", b"")
    seed("overlong_width", 12345, 3, 3, ord(":"), b"abcdefg", b"%a%", b"x%a%")
    seed("replacement_holds_token", 255, 0, 60, ord(":"), b"%a%%a%", b"%a%", b"x%a%")
    seed("overlapping_tokens", 35, 0, 2, ord(":"), b"%nam%name%", b"%name%", b"X")
    seed("case_differs", 1, 0, 5, ord(":"), b"%NAME%", b"%name%", b"Bob")
    seed("token_longer_than_source", 7, 1, 1, ord(":"), b"ab", b"abc", b"z")
    seed("tab_is_not_trimmed", 0x80000000, 0, 10, ord(":"), b"\t100 :\tpw ")
    seed("high_bytes", 0x7FFFFFFF, 31, 5, 0xE4, b"\xE4\xC4 :\xFF", b"\xC4", b"\xE4")


if __name__ == "__main__":
    registry_seeds()
    text_seeds()
