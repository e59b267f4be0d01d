#!/usr/bin/env python3
"""Makes the damaged ZIP packages of bad/ that no writer makes, each by the
smallest edit of a real file (data3000.xlsx / data3000.ods, written by
LibreOffice). Every member is deflated again; the edits:

  crc_mismatch_deflated.xlsx  sheet2.xml: D2 2083 -> 9999, the CRC-32 of the
                              original kept in both headers
  crc_mismatch_deflated.ods   content.xml: the first price 2083 -> 9999 (value
                              and text), the original CRC-32 kept
  row_beyond_limit.xlsx       sheet2.xml: <row r="75"> -> <row r="3001">
                              (sizes and CRC-32 right for the edited part)
  inflates_longer.xlsx        sheet2.xml intact, its declared size one byte
                              short in both headers

Run from this folder: python3 make_zip_damage.py
"""
import struct
import zipfile
import zlib


def deflate(data):
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def write_zip(path, members):
    """members: (name, data, crc, declared_size); all deflated."""
    out = bytearray()
    directory = bytearray()
    for name, data, crc, size in members:
        body = deflate(data)
        common = struct.pack('<HHHHHIII HH'.replace(' ', ''), 20, 0, 8, 0, 0x21, crc, len(body), size,
                             len(name.encode()), 0)
        offset = len(out)
        out += struct.pack('<I', 0x04034b50) + common + name.encode() + body
        directory += (struct.pack('<IH', 0x02014b50, 20) + common + struct.pack('<HHHII', 0, 0, 0, 0, offset) +
                      name.encode())
    cd_offset = len(out)
    out += directory
    out += struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, len(members), len(members), len(directory), cd_offset, 0)
    with open(path, 'wb') as f:
        f.write(out)


def twin(source, target, part, edit=None, keep_crc=False, size_delta=0):
    members = []
    with zipfile.ZipFile(source) as z:
        for info in z.infolist():
            data = z.read(info)
            crc, size = zlib.crc32(data), len(data)
            if info.filename == part:
                if edit is not None:
                    old, new = edit
                    assert data.count(old) >= 1, (part, old)
                    data = data.replace(old, new, 1)
                if not keep_crc:
                    crc = zlib.crc32(data)
                size = len(data) + size_delta
            members.append((info.filename, data, crc, size))
    write_zip(target, members)


twin('data3000.xlsx', 'bad/crc_mismatch_deflated.xlsx', 'xl/worksheets/sheet2.xml',
     (b'<c r="D2" s="1" t="n"><v>2083</v>', b'<c r="D2" s="1" t="n"><v>9999</v>'), keep_crc=True)
twin('data3000.ods', 'bad/crc_mismatch_deflated.ods', 'content.xml',
     (b'office:value="2083" calcext:value-type="float"><text:p>2083</text:p>',
      b'office:value="9999" calcext:value-type="float"><text:p>9999</text:p>'), keep_crc=True)
twin('data3000.xlsx', 'bad/row_beyond_limit.xlsx', 'xl/worksheets/sheet2.xml', (b'<row r="75" ', b'<row r="3001" '))
twin('data3000.xlsx', 'bad/inflates_longer.xlsx', 'xl/worksheets/sheet2.xml', size_delta=-1)
