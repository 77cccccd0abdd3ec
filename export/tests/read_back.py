r"""Reads an export back with readers the export did not write, for the tests.

csv FILE   each row on a line, cells tab-separated, each cell's backslash, CR, LF and tab
           written as \\, \r, \n and \t
xlsx FILE  a line "sheets|freeze|filter|widths", then each row on a line with cells
           "-" (empty), "n:<repr of the number>" or "s:<the text, written as csv's cells>"
sheets ROWS CLEAN FILE...
           a line "FILE differs" for each spreadsheet FILE whose sheet is not CLEAN's, byte
           for byte, or that openpyxl does not read as ROWS rows
"""
import csv
import sys


def escaped(text):
    return text.translate({ord("\\"): "\\\\", ord("\r"): "\\r", ord("\n"): "\\n", ord("\t"): "\\t"})


def read_csv(path):
    with open(path, newline="", encoding="utf-8") as f:
        for row in csv.reader(f, strict=True):
            print("\t".join(escaped(c) for c in row))


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
                cells.append("s:" + escaped(str(c.value)))
        print("\t".join(cells))


def same_sheets(rows, clean, *paths):
    import openpyxl
    import zipfile

    def sheet(path):
        return zipfile.ZipFile(path).read("xl/worksheets/sheet1.xml")

    want = sheet(clean)
    for path in paths:
        read = sum(1 for _ in openpyxl.load_workbook(path).worksheets[0].iter_rows())
        if sheet(path) != want or read != int(rows):
            print(path, "differs")


if __name__ == "__main__":
    {"csv": read_csv, "xlsx": read_xlsx, "sheets": same_sheets}[sys.argv[1]](*sys.argv[2:])
