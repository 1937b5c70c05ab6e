#!/usr/bin/python3
"""Prints an .xlsx workbook as openpyxl reads it, as JSON: sheet names in
order, column widths as stored, every cell with its value and number
format, and the extras an operator may have added (charts, comments,
formulas, fonts and fills)."""

import datetime
import json
import sys

import openpyxl


def value_of(cell):
    v = cell.value
    if v is None:
        return None
    if isinstance(v, datetime.datetime):
        if v.time() == datetime.time(0, 0):
            return {"date": v.strftime("%d.%m.%Y")}
        return {"datetime": v.strftime("%d.%m.%Y %H:%M:%S")}
    if isinstance(v, datetime.date):
        return {"date": v.strftime("%d.%m.%Y")}
    if isinstance(v, datetime.time):
        return {"time": v.strftime("%H:%M:%S")}
    if isinstance(v, bool):
        return {"number": float(v)}
    if isinstance(v, (int, float)):
        return {"number": float(v)}
    if cell.data_type == "f":
        return {"formula": str(v)}
    return {"text": str(v)}


def main(path):
    wb = openpyxl.load_workbook(path)
    out = {"sheets": []}
    for ws in wb.worksheets:
        sheet = {
            "name": ws.title,
            "widths": {k: d.width for k, d in ws.column_dimensions.items() if d.customWidth},
            "cells": [],
            "charts": len(getattr(ws, "_charts", [])),
            "comments": [],
        }
        for row in ws.iter_rows():
            for cell in row:
                v = value_of(cell)
                if cell.comment is not None:
                    sheet["comments"].append([cell.coordinate, cell.comment.text])
                if v is None:
                    continue
                sheet["cells"].append({
                    "ref": cell.coordinate,
                    "value": v,
                    "format": cell.number_format,
                    "bold": bool(cell.font and cell.font.b),
                    "fill": cell.fill.fgColor.rgb if cell.fill and cell.fill.fill_type == "solid" else None,
                })
        out["sheets"].append(sheet)
    json.dump(out, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main(sys.argv[1])
