#!/usr/bin/python3
# Derives the Mac code-page workbooks from Gnumeric's BIFF5 files in Windows
# code pages: the CODEPAGE record's value is changed, and the bytes of each
# LABEL text are re-encoded in the Mac code page (the same letters, the same
# byte count). Every other byte stays as Gnumeric wrote it.
# Usage: derive_mac.py SOURCE.xls SOURCE_CODEC TARGET_CODEPAGE TARGET_CODEC OUT.xls
import sys

source, source_codec, target, target_codec, out = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5]
data = bytearray(open(source, "rb").read())
at = data.find(b"\x42\x00\x02\x00")
assert at >= 0 and data.find(b"\x42\x00\x02\x00", at + 1) < 0
data[at + 4:at + 6] = target.to_bytes(2, "little")
at = 0
while True:
    at = data.find(b"\x04\x02", at + 1)
    if at < 0:
        break
    length = int.from_bytes(data[at + 2:at + 4], "little")
    text_length = int.from_bytes(data[at + 10:at + 12], "little")
    if length != 8 + text_length or length > 100:
        continue  # not a LABEL record of the sheet
    text = bytes(data[at + 12:at + 12 + text_length]).decode(source_codec)
    data[at + 12:at + 12 + text_length] = text.encode(target_codec)
open(out, "wb").write(data)
