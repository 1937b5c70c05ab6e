"""Dump an .xls workbook as JSON through xlrd, an independent BIFF8 reader.

Prints {"datemode": 0|1, "sheets": [{"name", "widths": {col: width/256},
"cells": [[row, col, kind, value, format]]}]} where kind is "text" or
"number" and format is the cell's number format string.
"""
import json
import sys

import xlrd

book = xlrd.open_workbook(sys.argv[1], formatting_info=True)
out = {"datemode": book.datemode, "sheets": []}
for sheet in book.sheets():
    cells = []
    for r in range(sheet.nrows):
        for c in range(sheet.ncols):
            cell = sheet.cell(r, c)
            if cell.ctype not in (xlrd.XL_CELL_TEXT, xlrd.XL_CELL_NUMBER, xlrd.XL_CELL_DATE):
                continue
            fmt = book.format_map[book.xf_list[cell.xf_index].format_key].format_str
            kind = "text" if cell.ctype == xlrd.XL_CELL_TEXT else "number"
            cells.append([r, c, kind, cell.value, "" if fmt == "General" else fmt])
    widths = {str(c): info.width / 256.0 for c, info in sheet.colinfo_map.items()}
    out["sheets"].append({"name": sheet.name, "widths": widths, "cells": cells})
json.dump(out, sys.stdout, ensure_ascii=False)
