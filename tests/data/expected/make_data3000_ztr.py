#!/usr/bin/python3
# Writes the rate file that a transfer of data3000 with the default profile
# (date A2, symbols B, prices D, no index column) must give, computed
# independently of the program from openpyxl's reading of data3000.xlsx.
# Usage: make_data3000_ztr.py WORKBOOK.xlsx OUT.ztr [INDEX_COLUMN_LETTER]
import sys
from decimal import Decimal, ROUND_HALF_UP

import openpyxl

workbook, out = sys.argv[1], sys.argv[2]
index_column = sys.argv[3] if len(sys.argv) > 3 else None
ws = openpyxl.load_workbook(workbook)["Tecajnica"]
date = ws["A2"].value
formatted = "%02d.%02d.%04d" % (date.day, date.month, date.year)
lines = [" 0002 " + formatted]
for row in range(2, 3001):
    symbol = ws.cell(row, 2).value
    symbol = "" if symbol is None else str(symbol)
    symbol = symbol.strip("".join(chr(c) for c in range(33)))
    if not symbol:
        break
    value = ws.cell(row, 4).value
    # the cell text carries 15 significant digits
    price = float("%.15g" % value) if value is not None else 0.0
    if price == 0:
        continue
    marker = ""
    if index_column:
        flag = ws[index_column + str(row)].value
        if flag is not None and str(flag).strip("".join(chr(c) for c in range(33))):
            marker = "INDEKS"
    rounded = Decimal(format(price, ".17e")).quantize(Decimal("0.000001"), rounding=ROUND_HALF_UP)
    if rounded == 0:
        rounded = Decimal("0.000000")
    field = format(rounded, "f").replace(".", ",").rjust(15)
    parts = ["0020", " " * 4, " " * 4, symbol[:30].ljust(30), " " * 20, " " * 40, " " * 15,
             marker.ljust(10), field, " " * 15, " " * 15, formatted]
    lines.append("".join(" " + p for p in parts))
with open(out, "wb") as f:
    for line in lines:
        f.write(line.encode("cp1250") + b"\r\n")
