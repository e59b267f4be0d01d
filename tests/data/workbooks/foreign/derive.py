#!/usr/bin/python3
"""Derives the foreign-workbook test files from real ones by the smallest edit.

Run from this folder with the system's python3 (openpyxl 3.0.9):
    /usr/bin/python3 derive.py
Each edit is described in ../README.md.
"""
import struct
import zipfile

import openpyxl
from openpyxl.chart import BarChart, Reference


def backslash_names(source, target):
    """Every member name with "/" written "\\": the same bytes otherwise, in
    the local headers and in the central directory alike."""
    data = bytearray(open(source, "rb").read())
    names = [info.filename for info in zipfile.ZipFile(source).infolist()]
    for name in names:
        old = name.encode()
        new = old.replace(b"/", b"\\")
        if old == new:
            continue
        count = 0
        at = data.find(old)
        while at >= 0:
            data[at:at + len(old)] = new
            count += 1
            at = data.find(old, at + len(old))
        assert count == 2, (name, count)  # local header and central directory
    open(target, "wb").write(data)


def edit_member(source, target, member, edits):
    """The package again with one member's text edited; the other members are
    copied as they were, in their order."""
    with zipfile.ZipFile(source) as zin, zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as zout:
        for info in zin.infolist():
            data = zin.read(info.filename)
            if info.filename == member:
                text = data.decode()
                for old, new in edits:
                    assert text.count(old) == 1, old
                    text = text.replace(old, new)
                data = text.encode()
            zout.writestr(info, data)


def patch_xls(source, target, old, new):
    data = open(source, "rb").read()
    assert data.count(old) == 1, old
    open(target, "wb").write(data.replace(old, new))


def chartsheet_active(target):
    """openpyxl itself: a worksheet of prices and a chart sheet, which is active."""
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = "Tecajnica"
    sheet.append(["DATUM", "SIMBOL", "NAZIV", "TECAJ"])
    sheet.append(["05.03.2024", "KRKG", "Krka d.d.", 101.5])
    sheet.append(["05.03.2024", "PETG", "Petrol d.d.", 35.2])
    chart = BarChart()
    chart.add_data(Reference(sheet, min_col=4, min_row=1, max_row=3), titles_from_data=True)
    charts = book.create_chartsheet("Graf")
    charts.add_chart(chart)
    book.active = 1
    book.save(target)


backslash_names("../data3000.xlsx", "data3000_backslash.xlsx")
edit_member("../types_openpyxl.xlsx", "types_openpyxl_unusual.xlsx", "xl/worksheets/sheet2.xml",
            [('<c r="B3" t="n">', '<c r="B3" s="" t="n">'),
             ('<c r="B8" s="1" t="n"><v>45356</v>', '<c r="B8" t="d"><v>10:10:10</v>')])
chartsheet_active("chartsheet_active_openpyxl.xlsx")

# types.xls: the BOUNDSHEET record of the active second sheet "Tipi" (BIFF8:
# offset, visibility, type, name length, flags, name) with another sheet type.
tipi = b"\x00\x00\x04\x00Tipi"
for kind, name in ((2, "chart"), (1, "macro")):
    data = open("../types.xls", "rb").read()
    at = data.find(tipi)
    assert at > 0 and data.count(tipi) == 1
    record = data[at - 8:at]
    assert record[:4] == b"\x85\x00\x0c\x00", record
    edited = data[:at] + bytes([0x00, kind]) + data[at + 2:]
    open("types_%s_active.xls" % name, "wb").write(edited)

# types.xls: the WSBOOL record of the active sheet "Tipi" with its dialog-sheet
# flag (0x0010) set. The workbook stream lies in the file in one piece, so the
# sheet is found at the stream's start plus the offset its BOUNDSHEET gives.
data = bytearray(open("../types.xls", "rb").read())
start = data.find(b"\x09\x08\x10\x00\x00\x06\x05\x00")
at = data.find(tipi)
offset = struct.unpack_from("<I", data, at - 4)[0]
position = start + offset
assert data[position:position + 8] == b"\x09\x08\x10\x00\x00\x06\x10\x00"
while True:
    kind, length = struct.unpack_from("<HH", data, position)
    assert kind != 0x000A, "no WSBOOL before the sheet's EOF"
    if kind == 0x0081:
        options = struct.unpack_from("<H", data, position + 4)[0]
        assert options & 0x0010 == 0
        struct.pack_into("<H", data, position + 4, options | 0x0010)
        break
    position += 4 + length
open("types_dialog_active.xls", "wb").write(bytes(data))

# Written by xlwt itself (no edit): texts with the characters that the cell
# listing escapes. xlwt stores each text as it is given, control characters too.
import xlwt  # noqa: E402

book = xlwt.Workbook(encoding="utf-8")
sheet = book.add_sheet("Znaki")
texts = ["a\\b", "x\ty", "x\ny", "x\ry", "\x01\x1f\x7f", "\u010d\u0161\u017e \u20ac", "", "  "]
for row, text in enumerate(texts):
    sheet.write(row, 0, text)
sheet.write(0, 24, "Y")  # column Y, the last one listed
sheet.write(0, 25, "Z")  # column Z, never listed
sheet.write(1, 1, 1.5)
book.save("control_chars_xlwt.xls")

# A BIFF5 shared formula as Excel 5 for the Mac stores it: after the FORMULA
# of E1 in ../formulas_gnumeric_biff5.xls, a record of type 0x00BC for E1:E4
# holding E1's own expression (Gnumeric writes each formula whole). The
# stream grows by the inserted record within the sectors it already has; the
# next sheet's offset in its BOUNDSHEET and the stream's size in its
# directory entry are moved by as much. Every other byte as Gnumeric wrote it.
import os  # noqa: E402
import sys  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "damage"))
from differential import CompoundFile  # noqa: E402

data = bytearray(open("../formulas_gnumeric_biff5.xls", "rb").read())
ole = CompoundFile(bytes(data))
entry = next(e for e in ole.entries if e[1] == 2 and e[0] == "Book")
_, _, first_sector, size, entry_offset = entry
sectors = ole.chain(first_sector)
offsets = [ole.offset_of(s) + i for s in sectors for i in range(ole.sector_size)]
stream = bytearray(data[o] for o in offsets[:size])
position = 0
records = []
while position + 4 <= size:
    kind, length = struct.unpack_from("<HH", stream, position)
    records.append((kind, length, position))
    position += 4 + length
formula_e1 = next(r for r in records if r[0] == 0x0006 and struct.unpack_from("<HH", stream, r[2] + 4) == (0, 4))
kind, length, at = formula_e1
data_e1 = stream[at + 4:at + 4 + length]
cce = struct.unpack_from("<H", data_e1, 20)[0]
tokens = bytes(data_e1[22:22 + cce])
shared = struct.pack("<HHHHBBHH", 0x00BC, 10 + cce, 0, 3, 4, 4, 0, cce) + tokens
insert_at = at + 4 + length
stream[insert_at:insert_at] = shared
for kind, length, at in records:  # the sheets after the insertion move
    if kind == 0x0085:
        offset = struct.unpack_from("<I", stream, at + 4)[0]
        if offset > insert_at:
            struct.pack_into("<I", stream, at + 4, offset + len(shared))
assert len(stream) <= len(offsets)
for i, byte in enumerate(stream):
    data[offsets[i]] = byte
struct.pack_into("<I", data, entry_offset + 120, len(stream))
open("formulas_biff5_shared_0x00BC.xls", "wb").write(bytes(data))
