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


def main():
    source = sys.argv[1]
    made = [("data3000", "1", False), ("types", "1", False), ("types1904", "0", True)]
    for name, sst, date1904 in made:
        out = os.path.join(HERE, name + ".xlsb")
        subprocess.run(["node", "-e", CONVERT, os.path.join(source, name + ".xlsx"), out, sst], check=True)
        rewrite(out, {"xl/workbook.bin": set_workbook(1, date1904)})

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
