#!/usr/bin/env python3
"""The smallest edits that turn LibreOffice's XML Spreadsheet 2003 output into
the test files here (see ../README.md).

LibreOffice and SheetJS write no ExcelWorkbook/ActiveSheet, so the active sheet of the
workbook it saved is lost; --active N puts it back. A column with a style down
to the last row makes it write every row of the sheet as an empty cell (27 MB
for data3000); --trim drops the rows that hold no value between the last row
with a value and the sheet's last row, which it keeps (so that rows past the
row limit are still read).

Usage: derive.py IN.xml OUT.xml [--active N] [--trim]
"""
import re
import sys


def main():
    args = sys.argv[1:]
    source, target = args[0], args[1]
    text = open(source, encoding="utf-8").read()
    if "--active" in args:
        index = args[args.index("--active") + 1]
        head = '<ExcelWorkbook xmlns="urn:schemas-microsoft-com:office:excel">'
        assert "<ActiveSheet>" not in text
        if head in text:
            text = text.replace(head, head + "<ActiveSheet>%s</ActiveSheet>" % index, 1)
        else:  # SheetJS writes no ExcelWorkbook: one goes before the styles
            text = text.replace("<Styles>", head + "<ActiveSheet>%s</ActiveSheet></ExcelWorkbook><Styles>" % index, 1)
    if "--trim" in args:
        empty = r'<Row ss:Height="[0-9.]+"><Cell ss:Index="\d+"/></Row>'
        text = re.sub("(?:%s)+(?=<Row ss:Index=\"1048576\")" % empty, "", text)
    open(target, "w", encoding="utf-8", newline="").write(text)


if __name__ == "__main__":
    main()
