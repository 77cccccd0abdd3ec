"""SENAITE's "2-Dimensional-CSV" instrument import, read as SENAITE reads it, for the tests.

Follows senaite.core 2.6.0 (TwoDimensionCSVParser in .../instruments/generic/two_dimension.py
and InstrumentCSVResultsFileParser.parse in .../instruments/parser.py; Python 2): lines in
universal-newline mode, stripped, blank ones skipped; split at every comma (no quoting),
tokens stripped; the first line ending in "end" is the header, its middle tokens the
keywords; then a line starting with "end" or of empty tokens is skipped (reading goes on),
any other gives the sample (first token) one value per keyword (the middle tokens). A value:
empty gives no result (2.5 on; before, 0.0); "ND" or "--..." 0.0; what Python 2's float()
reads, that number, or 0.0 unless greater than 0 (so also NaN); anything else "No valid
number". The keyword looked up keeps ASCII letters, digits, "_", "-", "+" and "." (2.1 on;
before, letters, digits and "_"). Lines of one sample gather under it. The interim-field
look-up needs SENAITE's catalog and is left out.

Usage: senaite_2d.py FILE DB [--lims-version V] [--sample-column NAME] [--keywords MAP]
                     [--records FIRST..LAST] [--duplicates first|last]
compares what SENAITE would import from FILE with the SamData table of the SQLite file DB
(as the archive means its values: a stored text with a decimal comma is that number);
prints "ok: ..." or one line per difference (exit status 1).
"""
import argparse
import csv
import re
import sqlite3
import sys

PY2_BLANKS = " \t\n\r\x0b\x0c"
FIXED = ["idxRec#", "File Name", "ID Text", "Date & time", "Sample Date", "Counting Time", "DT %"]
PY2_FLOAT = re.compile(
    r"[+-]?(?:(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?|inf|infinity|nan)\Z", re.I | re.ASCII
)


def version_tuple(text):
    major, minor = (text.split(".") + ["0"])[:2]
    return int(major), int(minor)


def clean_keyword(keyword, version):
    if version >= (2, 1):
        return re.sub(r"[^a-zA-Z0-9_\-\+\.]", "", keyword)
    return re.sub(r"\W", "", keyword, flags=re.ASCII)


def lims_value(token, version):
    """(value, error) as SENAITE's get_result makes them of one token."""
    if token == "":
        return (None if version >= (2, 5) else 0.0), None
    if token.startswith("--") or token == "ND":
        return 0.0, None
    if PY2_FLOAT.match(token):
        number = float(token)
        return (number if number > 0.0 else 0.0), None
    return None, "No valid number %s" % token


def parse(path, version):
    """{sample: [(keyword, value), ...]} and a list of errors, as the importer gathers them."""
    raw, errors = {}, []
    keywords = None
    with open(path, encoding="utf-8", newline=None) as f:
        for number, line in enumerate(f, 1):
            line = line.strip(PY2_BLANKS)
            if not line:
                continue
            tokens = [t.strip(PY2_BLANKS) for t in line.split(",")]
            if keywords is None:
                if tokens[-1] == "end":
                    keywords = tokens[1:-1]
                continue
            if tokens[0] == "end" or not any(tokens):
                continue
            for i, token in enumerate(tokens[1:-1]):
                if i >= len(keywords):
                    errors.append("line %d: orphan value in column %d (%s)" % (number, i + 1, token))
                    continue
                value, error = lims_value(token, version)
                if error:
                    errors.append("line %d: %s" % (number, error))
                raw.setdefault(tokens[0], []).append((clean_keyword(keywords[i], version), value))
    if keywords is None:
        errors.append("no header line ending in 'end'")
    return raw, errors


def archive_value(stored, version):
    """What the LIMS should hold for a stored cell, read as the archive means it."""
    if isinstance(stored, (int, float)):
        text = repr(float(stored))
    else:
        text = (stored or "").rstrip(" \0").strip(PY2_BLANKS)
    if text == "":
        return None if version >= (2, 5) else 0.0
    if text == "ND" or text.startswith("--"):
        return 0.0
    number = float(text.replace(",", ".", 1) if text.count(",") == 1 else text)
    return number if number > 0.0 else 0.0


def expected(db, version, sample_column, keyword_map, records, duplicates):
    con = sqlite3.connect("file:%s?mode=ro" % db, uri=True)
    cursor = con.execute('SELECT * FROM "SamData" ORDER BY rowid')
    names = [d[0] for d in cursor.description]
    rows = cursor.fetchall()
    first, last = records
    rows = rows[first - 1 : last if last else None]
    if keyword_map is None:
        keyword_map = [(n, n) for n in names if n not in FIXED]
    samples = {}
    for row in rows:
        cells = dict(zip(names, row))
        sample = (cells[sample_column] or "").rstrip(" \0").strip(PY2_BLANKS)
        values = [
            (clean_keyword(k.strip(PY2_BLANKS), version), archive_value(cells[c], version))
            for c, k in keyword_map
            if c in cells
        ]
        if sample in samples and duplicates == "first":
            continue
        samples[sample] = values
    return samples


def main():
    p = argparse.ArgumentParser()
    p.add_argument("file")
    p.add_argument("db")
    p.add_argument("--lims-version", default="2.6")
    p.add_argument("--sample-column", default="ID Text")
    p.add_argument("--keywords")
    p.add_argument("--records", default="..")
    p.add_argument("--duplicates", default="last")
    a = p.parse_args()
    version = version_tuple(a.lims_version)
    keyword_map = None
    if a.keywords:
        with open(a.keywords, newline="", encoding="utf-8") as f:
            keyword_map = [
                (r[0], r[1]) for r in csv.reader(f) if r and r != [""] and not r[0].startswith("#")
            ]
    lo, _, hi = a.records.partition("..") if ".." in a.records else (a.records, "", a.records)
    want = expected(
        a.db, version, a.sample_column, keyword_map, (int(lo or 1), int(hi or 0)), a.duplicates
    )
    got, problems = parse(a.file, version)
    for sample in sorted(set(want) | set(got)):
        if sample not in got:
            problems.append("sample %r: in the database, not imported" % sample)
        elif sample not in want:
            problems.append("sample %r: imported, not in the database" % sample)
        elif got[sample] != want[sample]:
            problems.append("sample %r: imported %r, stored %r" % (sample, got[sample], want[sample]))
    for line in problems:
        print(line)
    if not problems:
        print("ok: %d samples, %d results" % (len(got), sum(len(v) for v in got.values())))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
