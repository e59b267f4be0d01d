#!/usr/bin/python3
"""Workbooks of shapes that once cost the XML readers quadratic time.

    bench/make_xml_shapes.py OUTPUT_DIR

writes into OUTPUT_DIR:
    attrs.xlsx    a sheet part of about 10 MB whose row tags carry 5000 attributes each
    attrs.xml     an XML Spreadsheet 2003 document of about 15 MB, its Row tags the same
    attrs1000.xml the same with 1000 attributes a tag (as many as a tag may carry)
    chain.xml     65,000 styles, each the parent of the next; the cells of rows 1 and 2
                  use styles all along the chain
    cycle.xml     the same styles, the first one's parent the last
    merges.xml    about 15.5 MB: 16,000 areas merged down to the last row, then rows of
                  cells beside them

Time each with `/usr/bin/time -v ratemover-batch --cells --rows 2 FILE`; the
files with a start tag of 5000 attributes and the cycle are refused.
"""
import os
import sys
import zipfile

SS = "urn:schemas-microsoft-com:office:spreadsheet"
HEAD = ('<?xml version="1.0"?>\n<Workbook xmlns="%s" xmlns:ss="%s">\n' % (SS, SS))


def attributes(count):
    return "".join(' a%d="%d"' % (k, k % 10) for k in range(count))


def xml2003(styles, table):
    return HEAD + "<Styles>" + styles + "</Styles>\n<Worksheet ss:Name=\"A\"><Table>\n" + table + \
        "</Table></Worksheet></Workbook>\n"


def rows_up_to(size, row):
    """Rows made by row(n) for n = 1, 2, ... until they hold size bytes."""
    rows = []
    total = 0
    while total < size:
        rows.append(row(len(rows) + 1))
        total += len(rows[-1])
    return "".join(rows)


def attrs_xml(path, per_tag, size):
    extra = attributes(per_tag)
    rows = rows_up_to(size, lambda n: '<Row ss:Index="%d"%s><Cell><Data ss:Type="Number">%d</Data></Cell></Row>\n'
                      % (n, extra, n))
    with open(path, "w") as f:
        f.write(xml2003("", rows))


def attrs_xlsx(path, per_tag, size):
    extra = attributes(per_tag)
    rows = rows_up_to(size, lambda n: '<row r="%d"%s><c r="A%d"><v>%d</v></c></row>' % (n, extra, n, n))
    main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
    rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
    pkg = "http://schemas.openxmlformats.org/package/2006/relationships"
    parts = {
        "[Content_Types].xml":
            '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/'
            'content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.'
            'relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/'
            'workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
            '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-'
            'officedocument.spreadsheetml.worksheet+xml"/></Types>',
        "_rels/.rels":
            '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/'
            'officeDocument" Target="xl/workbook.xml"/></Relationships>' % (pkg, rel),
        "xl/_rels/workbook.xml.rels":
            '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/'
            'worksheet" Target="worksheets/sheet1.xml"/></Relationships>' % (pkg, rel),
        "xl/workbook.xml":
            '<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="%s" xmlns:r="%s"><sheets><sheet name="A" '
            'sheetId="1" r:id="rId1"/></sheets></workbook>' % (main, rel),
        "xl/worksheets/sheet1.xml":
            '<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="%s"><sheetData>%s</sheetData></worksheet>'
            % (main, rows),
    }
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in parts.items():
            z.writestr(name, text)


def chain_xml(path, count, cycle):
    styles = []
    for k in range(count):
        parent = k - 1 if k > 0 else (count - 1 if cycle else None)
        own = '' if cycle or k > 0 else '<NumberFormat ss:Format="Short Date"/>'
        styles.append('<Style ss:ID="s%d"%s>%s</Style>\n' % (
            k, ' ss:Parent="s%d"' % parent if parent is not None else '', own))
    table = []
    for row in (1, 2):
        cells = "".join('<Cell ss:StyleID="s%d"><Data ss:Type="Number">%d</Data></Cell>' % (
            count - 1 - ((row - 1) * 16384 + c) * 2 % count, c) for c in range(16384))
        table.append('<Row>%s</Row>\n' % cells)
    with open(path, "w") as f:
        f.write(xml2003("".join(styles), "".join(table)))


def merges_xml(path, areas, size):
    first = "".join('<Cell ss:MergeDown="1000000"><Data ss:Type="Number">%d</Data></Cell>' % c for c in range(areas))
    rows = ['<Row>%s</Row>\n' % first]
    beside = '<Row><Cell ss:Index="%d"/>%s</Row>\n' % (areas + 1, "<Cell/>" * 300)
    total = len(rows[0])
    while total < size:
        rows.append(beside)
        total += len(beside)
    with open(path, "w") as f:
        f.write(xml2003("", "".join(rows)))


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    attrs_xlsx(os.path.join(out, "attrs.xlsx"), 5000, 10 << 20)
    attrs_xml(os.path.join(out, "attrs.xml"), 5000, 15 << 20)
    attrs_xml(os.path.join(out, "attrs1000.xml"), 999, 15 << 20)  # and ss:Index
    chain_xml(os.path.join(out, "chain.xml"), 65000, False)
    chain_xml(os.path.join(out, "cycle.xml"), 65000, True)
    merges_xml(os.path.join(out, "merges.xml"), 16000, int(15.5 * (1 << 20)))


if __name__ == "__main__":
    main()
