#!/usr/bin/env python3
"""Makes the .xlsb test workbooks: SheetJS (npm package xlsx) converts the
LibreOffice .xlsx files, then the two workbook settings SheetJS does not write
(the active tab and the 1904 date system) are set in xl/workbook.bin, and the
damaged copies under bad/ are derived by the smallest edit of one record.

Usage: NODE_PATH=/path/to/node_modules python3 make_xlsb.py SOURCE_DIR
(SOURCE_DIR holds data3000.xlsx, types.xlsx and types1904.xlsx)."""
import os
import struct
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))

CONVERT = r"""
const X = require("xlsx");
const [src, dst, sst] = process.argv.slice(1);
const wb = X.readFile(src, {cellNF: true, cellFormula: true, cellStyles: true});
X.writeFile(wb, dst, {bookType: "xlsb", bookSST: sst === "1"});
"""


def records(data):
    """(offset, header length, type, body) of every record of a binary part."""
    i = 0
    while i < len(data):
        start = i
        t = data[i]; i += 1
        if t & 0x80:
            t = (t & 0x7F) | ((data[i] & 0x7F) << 7); i += 1
        n, shift = 0, 0
        while True:
            c = data[i]; i += 1
            n |= (c & 0x7F) << shift; shift += 7
            if not c & 0x80:
                break
        yield start, i - start, t, data[i:i + n]
        i += n


def rewrite(path, edits):
    """Rewrites a package with some parts replaced (new CRCs: only the records change)."""
    with zipfile.ZipFile(path) as z:
        parts = [(info, z.read(info.filename)) for info in z.infolist()]
    with zipfile.ZipFile(path + ".tmp", "w", zipfile.ZIP_DEFLATED) as z:
        for info, data in parts:
            if info.filename in edits:
                data = edits[info.filename](data)
            z.writestr(info.filename, data)
    os.replace(path + ".tmp", path)


def set_workbook(active_tab, date1904):
    def edit(data):
        out = bytearray(data)
        for start, header, t, body in records(data):
            at = start + header
            if t == 158:  # book view: the active tab at offset 24
                struct.pack_into("<I", out, at + 24, active_tab)
            if t == 153 and date1904:  # workbook properties: bit 0 is the 1904 date system
                out[at] |= 0x01
        return bytes(out)
    return edit


def varint(n):
    out = b""
    while True:
        b, n = n & 0x7F, n >> 7
        if not n:
            return out + bytes([b])
        out += bytes([b | 0x80])


def record(t, body):
    header = bytes([t]) if t < 0x80 else bytes([(t & 0x7F) | 0x80, t >> 7])
    return header + varint(len(body)) + body


def wide(s):
    return struct.pack("<I", len(s)) + s.encode("utf-16-le")


def formula_sheet(data):
    """Sheet Tipi of types.xlsb replaced by one row of formula records (which
    SheetJS does not write): A1 =84 cached 84, B1 =84 cached 85, C1 ="AB",
    D1 =TRUE(), E1 a #DIV/0! constant formula, F1 =45356 in a date format,
    G1 a rich-string constant."""
    def cell(column, xf=0):
        return struct.pack("<II", column, xf)

    def formula(rgce):
        return struct.pack("<I", len(rgce)) + rgce + struct.pack("<I", 0)

    def ptg_int(v):
        return b"\x1e" + struct.pack("<H", v)

    flags = b"\0\0"
    row = [
        record(0, struct.pack("<I", 0) + bytes(13)),
        record(9, cell(0) + struct.pack("<d", 84) + flags + formula(ptg_int(84))),
        record(9, cell(1) + struct.pack("<d", 85) + flags + formula(ptg_int(84))),
        record(8, cell(2) + wide("AB") + flags + formula(b"\x17" + struct.pack("<H", 2) + "AB".encode("utf-16-le"))),
        record(10, cell(3) + b"\x01" + flags + formula(b"\x1d\x01")),
        record(11, cell(4) + b"\x07" + flags + formula(b"\x1c\x07")),
        record(9, cell(5, 2) + struct.pack("<d", 45356) + flags + formula(ptg_int(45356))),
        record(62, cell(6) + b"\x00" + wide("rich")),
    ]
    return record(129, b"") + record(145, b"") + b"".join(row) + record(146, b"") + record(130, b"")


def main():
    source = sys.argv[1]
    made = [("data3000", "1", False), ("types", "1", False), ("types1904", "0", True)]
    for name, sst, date1904 in made:
        out = os.path.join(HERE, name + ".xlsb")
        subprocess.run(["node", "-e", CONVERT, os.path.join(source, name + ".xlsx"), out, sst], check=True)
        rewrite(out, {"xl/workbook.bin": set_workbook(1, date1904)})

    formulas = os.path.join(HERE, "formulas.xlsb")
    with open(os.path.join(HERE, "types.xlsb"), "rb") as f, open(formulas, "wb") as g:
        g.write(f.read())
    rewrite(formulas, {"xl/worksheets/sheet2.bin": formula_sheet})

    base = os.path.join(HERE, "data3000.xlsb")
    sheet = "xl/worksheets/sheet2.bin"
    with zipfile.ZipFile(base) as z:
        original = z.read(sheet)
    rows = {struct.unpack_from("<I", b)[0]: (s, h) for s, h, t, b in records(original) if t == 0}

    def copy(name, edit):
        path = os.path.join(HERE, "bad", name)
        with open(base, "rb") as f, open(path, "wb") as g:
            g.write(f.read())
        rewrite(path, {sheet: edit})

    # The last record's length grows by one byte: it runs past the end of the part.
    def length_past_end(data):
        *_, (start, header, t, body) = records(data)
        out = bytearray(data)
        out[start + header - 1] += 1
        return bytes(out)
    copy("xlsb_record_past_part.xlsb", length_past_end)

    # Row 75's header says row 3001: the rows after it no longer ascend.
    def rows_out_of_order(data):
        start, header = rows[74]
        out = bytearray(data)
        struct.pack_into("<I", out, start + header, 3000)
        return bytes(out)
    copy("xlsb_rows_out_of_order.xlsb", rows_out_of_order)

    # The part cut in the middle of the row 1500 header.
    def truncated(data):
        start, header = rows[1499]
        return data[:start + header + 2]
    copy("xlsb_truncated_part.xlsb", truncated)


if __name__ == "__main__":
    main()
