#!/usr/bin/python3
# Derives the BIFF2/3/4 test workbooks from SheetJS's output. SheetJS (the npm
# package xlsx) writes one sheet in the Excel 2.x record forms with the BOF of
# the version asked for, but no CODEPAGE, no number formats, and '_' for every
# letter outside ASCII. The smallest edits that make the file say what the
# .xlsx source says:
#   1. a CODEPAGE record (1250) after the BOF, and a DATEMODE record (1904
#      system) when the source has that system;
#   2. each '_' that stands for a letter outside ASCII replaced by the letter's
#      Windows-1250 byte (the same length; the rest of the text is checked to
#      match the source);
#   3. the format byte of a date cell set to the built-in date format, of a
#      currency cell to the built-in currency format (Excel 2.x/3.0 list: date 12,
#      currency 5; Excel 4.0 list: date 14, currency 5).
# Usage: derive.py sheet SHEETJS.xls SOURCE.xlsx SHEETNAME OUT.xls
#        derive.py workbook OUT.xls ACTIVE SHEETJS_SHEET.xls...
#        derive.py formats BIFF4_SHEET.xls OUT.xls
#   ("workbook" puts BIFF4 sheets into an Excel 4.0 workbook: a globals BOF of
#    type 0x0100, CODEPAGE, a SHEETHDR before each sheet, EOF; the sheet
#    numbered ACTIVE (from 0) gets a WINDOW2 record that says it is shown.
#    "formats" puts the Excel 4.0 list of number formats after the CODEPAGE as
#    FORMAT records, one for each position from 0, so that the format in each
#    cell's attribute byte is the position of a FORMAT record. The index field of a
#    BIFF4 FORMAT record means nothing; it is left 0 in every record.)
import struct
import sys

import openpyxl


def records(data):
    at = 0
    while at < len(data):
        kind, length = struct.unpack_from("<HH", data, at)
        yield kind, data[at + 4:at + 4 + length]
        at += 4 + length


def record(kind, body):
    return struct.pack("<HH", kind, len(body)) + body


def derive_sheet(source, xlsx, sheet_name, out):
    data = open(source, "rb").read()
    version = {0x0009: 2, 0x0209: 3, 0x0409: 4}[struct.unpack_from("<H", data)[0]]
    date_format = 12 if version <= 3 else 14
    book = openpyxl.load_workbook(xlsx, data_only=True)
    ws = book[sheet_name]
    date_system = b""
    if book.epoch.year == 1904:
        date_system = record(0x0022, struct.pack("<H", 1))
    result = b""
    for kind, body in records(data):
        if kind in (0x0009, 0x0209, 0x0409):
            result += record(kind, body) + record(0x0042, struct.pack("<H", 1250)) + date_system
            continue
        if kind in (0x0001, 0x0002, 0x0003, 0x0004, 0x0005):
            row, column = struct.unpack_from("<HH", body)
            cell = ws.cell(row + 1, column + 1)
            body = bytearray(body)
            if kind == 0x0004:
                text = body[8:8 + body[7]]
                wanted = ("" if cell.value is None else str(cell.value)).encode("cp1250")[:255]  # the Excel 2.x form holds 255
                assert len(wanted) == len(text), (row, column)
                for i, (a, b) in enumerate(zip(text, wanted)):
                    assert a == b or (a == ord("_") and b >= 0x80), (row, column, text, wanted)
                body[8:8 + body[7]] = wanted
            elif kind in (0x0002, 0x0003) and cell.is_date:
                body[5] = (body[5] & 0xC0) | date_format
            elif kind in (0x0002, 0x0003) and ("€" in cell.number_format or "[$" in cell.number_format):
                body[5] = (body[5] & 0xC0) | 5
            body = bytes(body)
        result += record(kind, body)
    open(out, "wb").write(result)


def derive_workbook(out, active, sources):
    result = record(0x0409, struct.pack("<HHH", 0, 0x0100, 0)) + record(0x0042, struct.pack("<H", 1250))
    for number, source in enumerate(sources):
        data = open(source, "rb").read()
        assert struct.unpack_from("<H", data)[0] == 0x0409
        sheet = b""
        for kind, body in records(data):
            if kind == 0x000A:
                options = 0x0600 if number == active else 0
                sheet += record(0x023E, struct.pack("<HHHHH", options, 0, 0, 0, 0))
            if kind != 0x0042:  # the workbook's code page counts
                sheet += record(kind, body)
        name = ("Sheet%d" % (number + 1)).encode()
        result += record(0x008F, struct.pack("<I", len(sheet)) + bytes([len(name)]) + name) + sheet
    result += record(0x000A, b"")
    open(out, "wb").write(result)


# The number formats of Excel 4.0, in the order of their positions.
EXCEL4_FORMATS = [
    "General", "0", "0.00", "#,##0", "#,##0.00",
    '"$"#,##0_);("$"#,##0)', '"$"#,##0_);[Red]("$"#,##0)',
    '"$"#,##0.00_);("$"#,##0.00)', '"$"#,##0.00_);[Red]("$"#,##0.00)',
    "0%", "0.00%", "0.00E+00", "# ?/?", "# ??/??",
    "m/d/yy", "d-mmm-yy", "d-mmm", "mmm-yy",
    "h:mm AM/PM", "h:mm:ss AM/PM", "h:mm", "h:mm:ss", "m/d/yy h:mm",
]


def derive_formats(source, out):
    data = open(source, "rb").read()
    assert struct.unpack_from("<H", data)[0] == 0x0409
    result = b""
    for kind, body in records(data):
        result += record(kind, body)
        if kind == 0x0042:
            for code in EXCEL4_FORMATS:
                text = code.encode("ascii")
                result += record(0x041E, struct.pack("<HB", 0, len(text)) + text)
    open(out, "wb").write(result)


if sys.argv[1] == "sheet":
    derive_sheet(*sys.argv[2:6])
elif sys.argv[1] == "formats":
    derive_formats(sys.argv[2], sys.argv[3])
else:
    derive_workbook(sys.argv[2], int(sys.argv[3]), sys.argv[4:])
