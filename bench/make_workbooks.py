#!/usr/bin/python3
"""Workbooks for timing the readers through the whole ratemover-batch process.

Made with Debian's python3-openpyxl, python3-xlwt and python3-odf (run with
/usr/bin/python3). Every workbook is laid out like tests/data/workbooks/data3000:
a first sheet "Navodila" with one line of text, and the active second sheet
"Tecajnica" with the headers DATUM, SIMBOL, NAZIV, TECAJ, INDEKS in row 1 and
from row 2 on the rate date 5.3.2024 in A (a date format), a symbol in B, a name
in C, a price in D (a few every 97th row are 0) and "X" in E every 10th row.

    bench/make_workbooks.py OUTPUT_DIR

writes into OUTPUT_DIR:
    rows3000.xls, rows3000.xlsx, rows3000.ods   3000 data rows (rows 2 to 3001)
    rows65536.xls                               every row of an .xls sheet
    rows1m.xlsx                                 1,000,000 data rows (openpyxl write_only)
"""
import datetime
import os
import random
import sys

RATE_DATE = datetime.datetime(2024, 3, 5)
HEADERS = ["DATUM", "SIMBOL", "NAZIV", "TECAJ", "INDEKS"]
SYMBOLS = ["KRKG", "PETG", "ZVTG", "TLSG", "NLBR", "CICG", "EQNX", "LKPG", "MELR", "POSR",
           "\u010cZTG", "\u0160TAR", "\u017dITO"]


def data_rows(count, seed=3000):
    """(symbol, name, price, index) for `count` data rows, the same every run."""
    rng = random.Random(seed)
    for n in range(count):
        row = n + 2
        symbol = "%s%d" % (SYMBOLS[n % len(SYMBOLS)], row)
        price = 0 if row % 97 == 0 else round(rng.uniform(0.5, 6000), rng.randint(0, 6))
        index = "X" if row % 10 == 0 else None
        yield symbol, "Dru\u017eba %s d.d." % symbol, price, index


def rate_file_lines(count, row_limit=3000):
    """The lines of the rate file that the default profile (date A2, symbols B,
    prices D) gives from a workbook of `count` data rows: the date line, and
    one line for each row up to the row limit whose price is not 0."""
    prices = [price for _, _, price, _ in data_rows(min(count, row_limit - 1))]
    return 1 + sum(1 for price in prices if price != 0)


def write_xls(path, count):
    import xlwt
    book = xlwt.Workbook(encoding="utf-8")
    notes = book.add_sheet("Navodila")
    notes.write(0, 0, "Cene na dan 5.3.2024")
    sheet = book.add_sheet("Tecajnica")
    date_style = xlwt.easyxf(num_format_str="DD.MM.YYYY")
    for column, header in enumerate(HEADERS):
        sheet.write(0, column, header)
    for n, (symbol, name, price, index) in enumerate(data_rows(count)):
        r = n + 1
        sheet.write(r, 0, RATE_DATE, date_style)
        sheet.write(r, 1, symbol)
        sheet.write(r, 2, name)
        sheet.write(r, 3, price)
        if index:
            sheet.write(r, 4, index)
    notes.set_selected(False)
    sheet.set_selected(True)
    book.set_active_sheet(1)
    book.save(path)


def write_xlsx(path, count):
    import openpyxl
    from openpyxl.cell import WriteOnlyCell
    book = openpyxl.Workbook(write_only=True)
    notes = book.create_sheet("Navodila")
    notes.append(["Cene na dan 5.3.2024"])
    sheet = book.create_sheet("Tecajnica")
    sheet.append(HEADERS)
    for symbol, name, price, index in data_rows(count):
        date = WriteOnlyCell(sheet, value=RATE_DATE)
        date.number_format = "DD.MM.YYYY"
        sheet.append([date, symbol, name, price, index])
    book.active = 1
    book.save(path)


def write_ods(path, count):
    from odf.config import ConfigItem, ConfigItemMapEntry, ConfigItemMapIndexed, ConfigItemSet
    from odf.number import DateStyle, Day, Month, Text as NumberText, Year
    from odf.opendocument import OpenDocumentSpreadsheet
    from odf.style import Style
    from odf.table import Table, TableCell, TableRow
    from odf.text import P

    doc = OpenDocumentSpreadsheet()
    date_format = DateStyle(name="DatumFormat")
    date_format.addElement(Day(style="long"))
    date_format.addElement(NumberText(text="."))
    date_format.addElement(Month(style="long"))
    date_format.addElement(NumberText(text="."))
    date_format.addElement(Year(style="long"))
    doc.automaticstyles.addElement(date_format)
    date_style = Style(name="Datum", family="table-cell", datastylename="DatumFormat")
    doc.automaticstyles.addElement(date_style)

    def text_cell(text):
        cell = TableCell(valuetype="string")
        cell.addElement(P(text=text))
        return cell

    notes = Table(name="Navodila")
    row = TableRow()
    row.addElement(text_cell("Cene na dan 5.3.2024"))
    notes.addElement(row)
    doc.spreadsheet.addElement(notes)

    sheet = Table(name="Tecajnica")
    row = TableRow()
    for header in HEADERS:
        row.addElement(text_cell(header))
    sheet.addElement(row)
    for symbol, name, price, index in data_rows(count):
        row = TableRow()
        row.addElement(TableCell(valuetype="date", datevalue=RATE_DATE.strftime("%Y-%m-%d"),
                                 stylename=date_style))
        row.addElement(text_cell(symbol))
        row.addElement(text_cell(name))
        row.addElement(TableCell(valuetype="float", value=repr(price)))
        row.addElement(text_cell(index) if index else TableCell())
        sheet.addElement(row)
    doc.spreadsheet.addElement(sheet)

    view = ConfigItemSet(name="ooo:view-settings")
    views = ConfigItemMapIndexed(name="Views")
    entry = ConfigItemMapEntry()
    active = ConfigItem(name="ActiveTable", type="string")
    active.addText("Tecajnica")
    entry.addElement(active)
    views.addElement(entry)
    view.addElement(views)
    doc.settings.addElement(view)
    doc.save(path)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    jobs = [
        ("rows3000.xls", write_xls, 3000),
        ("rows3000.xlsx", write_xlsx, 3000),
        ("rows3000.ods", write_ods, 3000),
        ("rows65536.xls", write_xls, 65535),
        ("rows1m.xlsx", write_xlsx, 1000000),
    ]
    for name, writer, count in jobs:
        path = os.path.join(out, name)
        if os.path.exists(path):
            print("kept    " + path)
            continue
        writer(path + ".part", count)
        os.replace(path + ".part", path)
        print("written " + path)


if __name__ == "__main__":
    main()
