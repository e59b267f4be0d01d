#!/usr/bin/env python3
"""Seeds for the XML fuzz targets in the shapes that once cost quadratic time,
each the smallest edit of a real file that gives the shape (see ../README.md):

  xml2003_style_chain.xml   xml2003/features_libreoffice.xml with 300 styles added,
                            each the parent of the next, the first with the date
                            format, and the cells of the active sheet's rows 1-2
                            given styles along the chain
  xml2003_style_cycle.xml   the same, the first style's parent the last
  xml2003_merges.xml        the same file with a row of 300 cells merged down 20 rows
                            put first in the active sheet, and the rows below moved
                            down past it
  xml_scan_attributes.xml   xml_scan_sheet.xml with attributes added to its first row
                            tag up to 1000 (as many as a tag may carry) and 20 to its
                            second, some of them prefixed
  xlsx_attributes.xlsx      ../sparse.xlsx with the same 1000 attributes less the row's
                            own seven added to its first row tag (1000 in all)

Usage: derive_shapes.py (in this folder)
"""
import re
import zipfile

SOURCE = "../xml2003/features_libreoffice.xml"


def chain(text, cycle):
    count = 300
    styles = []
    for k in range(count):
        parent = k - 1 if k > 0 else (count - 1 if cycle else None)
        own = "" if cycle or k > 0 else '<NumberFormat ss:Format="Short Date"/>'
        styles.append('<Style ss:ID="c%d"%s>%s</Style>' % (
            k, ' ss:Parent="c%d"' % parent if parent is not None else "", own))
    text = text.replace("</Styles>", "".join(styles) + "</Styles>", 1)
    # the cells of rows 1 and 2 of the active sheet (the second) take styles along the chain
    sheet = text.index('<ss:Worksheet ss:Name="Cene">')
    head, tail = text[:sheet], text[sheet:]
    rows = tail.split("<Row ", 3)
    counter = iter(range(count - 1, 0, -37))
    for r in (1, 2):
        rows[r] = re.sub(r"<Cell(?![^>]*StyleID)", lambda m: '<Cell ss:StyleID="c%d"' % next(counter), rows[r])
    return head + "<Row ".join(rows)


def merges(text):
    sheet = text.index('<ss:Worksheet ss:Name="Cene">')
    table = text.index("<Row ", sheet)
    first = '<Row ss:Index="1">' + '<Cell ss:Index="10" ss:MergeDown="20"/>' + \
        "".join("<Cell ss:MergeDown=\"20\"/>" for _ in range(299)) + "</Row>"
    text = text[:table] + first + '<Row ss:Index="22" ' + text[table + 5:]
    return text


def attributes(text):
    rows = text.split("<row ", 3)
    own = rows[1][:rows[1].index(">")].count("=")
    many = "".join(' a%d="%d"' % (k, k % 7) for k in range(1000 - own))
    prefixed = " xmlns:p=\"urn:p\" xmlns:q=\"urn:q\"" + "".join(
        ' %s:b%d="%d"' % ("pq"[k % 2], k // 2, k) for k in range(18))
    rows[1] = many.lstrip() + " " + rows[1]
    rows[2] = prefixed.lstrip() + " " + rows[2]
    return "<row ".join(rows)


def xlsx_attributes(source, target):
    with zipfile.ZipFile(source) as zin, zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as zout:
        for info in zin.infolist():
            data = zin.read(info.filename)
            if info.filename == "xl/worksheets/sheet1.xml":
                extra = "".join(' a%d="%d"' % (k, k % 7) for k in range(993))
                data = data.decode("utf-8").replace("<row ", "<row" + extra + " ", 1).encode("utf-8")
            zout.writestr(info, data)


def main():
    text = open(SOURCE, encoding="utf-8").read()
    open("xml2003_style_chain.xml", "w", encoding="utf-8", newline="").write(chain(text, False))
    open("xml2003_style_cycle.xml", "w", encoding="utf-8", newline="").write(chain(text, True))
    open("xml2003_merges.xml", "w", encoding="utf-8", newline="").write(merges(text))
    sheet = open("xml_scan_sheet.xml", encoding="utf-8").read()
    open("xml_scan_attributes.xml", "w", encoding="utf-8", newline="").write(attributes(sheet))
    xlsx_attributes("../sparse.xlsx", "xlsx_attributes.xlsx")


if __name__ == "__main__":
    main()
