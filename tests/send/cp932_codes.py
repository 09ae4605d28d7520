#!/usr/bin/python3
"""Prints every double-byte character of code page 932 as Python's cp932
codec knows it, one per line: its Shift_JIS bytes, its Unicode code point and,
when Python's iso2022_jp codec (strict JIS X 0208) can encode the character,
that encoding, else "-"; all in hex."""
import sys

out = []
for lead in list(range(0x81, 0xA0)) + list(range(0xE0, 0xFD)):
    for trail in range(0x40, 0xFD):
        if trail == 0x7F:
            continue
        code = bytes([lead, trail])
        try:
            text = code.decode("cp932")
        except UnicodeDecodeError:
            continue
        try:
            jis = text.encode("iso2022_jp").hex()
        except UnicodeEncodeError:
            jis = "-"
        out.append("%s %04x %s" % (code.hex(), ord(text), jis))
sys.stdout.write("\n".join(out) + "\n")
