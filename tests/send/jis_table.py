#!/usr/bin/python3
"""Prints every character of JIS X 0208 rows 1 to 84 as found by Python's
iso2022_jp codec, one per line: its Shift_JIS bytes (Python's shift_jis codec)
and its two JIS bytes, both in hex."""
import sys

out = []
for row in range(1, 85):
    for cell in range(1, 95):
        jis = bytes([0x20 + row, 0x20 + cell])
        try:
            text = (b"\x1b$B" + jis + b"\x1b(B").decode("iso2022_jp")
        except UnicodeDecodeError:
            continue
        sjis = text.encode("shift_jis")
        sjis.decode("cp932")  # the same bytes are a CP932 character
        out.append(sjis.hex() + " " + jis.hex())
sys.stdout.write("\n".join(out) + "\n")
