"""Reads an export back with readers the export did not write, for the tests.

csv FILE   each row on a line, cells tab-separated, each cell hex-encoded UTF-8
xlsx FILE  a line "sheets|freeze|filter|widths", then each row on a line with cells
           "-" (empty), "n:<repr of the number>" or "s:<hex of the text>"
"""
import csv
import sys


def hexed(text):
    return text.encode("utf-8").hex()


def read_csv(path):
    with open(path, newline="", encoding="utf-8") as f:
        for row in csv.reader(f, strict=True):
            print("\t".join(hexed(c) for c in row))


def read_xlsx(path):
    import openpyxl

    wb = openpyxl.load_workbook(path)
    ws = wb.worksheets[0]
    widths = ",".join(
        "%s=%.2f" % (k, v.width) for k, v in sorted(ws.column_dimensions.items()) if v.width
    )
    print("%s|%s|%s|%s" % (",".join(wb.sheetnames), ws.freeze_panes, ws.auto_filter.ref, widths))
    for row in ws.iter_rows():
        cells = []
        for c in row:
            if c.value is None:
                cells.append("-")
            elif c.data_type == "n":
                cells.append("n:%r" % c.value)
            else:
                cells.append("s:" + hexed(str(c.value)))
        print("\t".join(cells))


if __name__ == "__main__":
    {"csv": read_csv, "xlsx": read_xlsx}[sys.argv[1]](sys.argv[2])
