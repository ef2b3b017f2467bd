#!/usr/bin/python3
"""molstamp must split CSV into the records and fields that Python's csv
module reads (its default, lenient dialect): random text with stray quotes,
doubled quotes, text after closing quotes, line ends of every kind and a
byte order mark, read
by the serial reader and by the pipeline. Check mode shows what the tool
read: its report names each candidate row with its InChI field and its
stored-key field, and the summary counts the records.

    csv_differential.py MOLSTAMP [SEED]
"""
import csv
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

csv.field_size_limit(sys.maxsize)
tool = sys.argv[1]
seed = int(sys.argv[2]) if len(sys.argv) > 2 else 2026
rng = random.Random(seed)
PIECES = ['"', '""', "a", "b c", "\n", "\r\n", "\r", " ", "InChIKey=", "x\"y", "\t", "\\"]


def text(delimiter):
    """A field's bytes: quoted or not, with quotes where they do not belong."""
    body = "".join(rng.choice(PIECES + [delimiter]) for _ in range(rng.randrange(6)))
    shape = rng.randrange(5)
    if shape == 0:
        return body.replace("\n", "").replace("\r", "").replace(delimiter, "")
    if shape == 1:
        return '"' + body.replace('"', '""') + '"'
    if shape == 2:  # text after the closing quote
        return '"' + body.replace('"', '""') + '"' + rng.choice([" ", "x", 'x"y', "\t"])
    return '"' + body + '"' if shape == 3 else body.replace("\n", "")


def record(delimiter):
    fields = [text(delimiter) for _ in range(rng.randrange(1, 4))]
    if rng.random() < 0.7:  # a candidate in field 1, now and then quoted
        name = "InChI=1S/H2O/h1H2" if rng.random() < 0.5 else "InC" + text(delimiter)
        fields[0] = '"' + name.replace('"', '""') + '"' if rng.random() < 0.5 else name
    return delimiter.join(fields)


def unescape(field):
    table = {"t": "\t", "n": "\n", "r": "\r", "0": "\0", "\\": "\\"}
    return re.sub(r"\\(.)", lambda m: table[m.group(1)], field)


def expected(path, delimiter):
    """Python's records: their count, and (row, InChI, stored key) of the
    candidates, as check mode reports them."""
    # A byte order mark is no part of the first field, as for pandas.
    with open(path, newline="", encoding="utf-8-sig") as f:
        rows = list(csv.reader(f, delimiter=delimiter))
    report = []
    for number, row in enumerate(rows, 1):
        if row and row[0].startswith("InC"):
            stored = row[1] if len(row) > 1 else ""
            if stored.startswith("InChIKey="):
                stored = stored[len("InChIKey="):]
            report.append((number, row[0].split("\0")[0], stored))
    return len(rows), report


def molstamp(jobs, path, delimiter, work):
    report_path = os.path.join(work, "report.tsv")
    run = subprocess.run([tool, jobs, "-c", "-d", delimiter, "-t", "1", "-k", "2", path,
                          report_path], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    console = run.stdout.decode(errors="replace")
    if run.returncode not in (0, 6) and "ends inside a quoted field" not in console:
        sys.exit(f"csv_differential: {jobs}: status {run.returncode}: {console}")
    lines = int(re.search(r"Completed processing of (\d+) lines", console).group(1))
    with open(report_path, newline="") as f:
        rows = [line.rstrip("\n").split("\t") for line in f][1:]
    # Every candidate is reported: no random stored text is its key.
    return lines, [(int(r[0]), unescape(r[4]), unescape(r[2])) for r in rows]


work = tempfile.mkdtemp(prefix="molstamp-csv-diff-")
files = 0
for delimiter in (",", ";", "|"):
    for size in (50, 40000):  # one block, and many blocks for the pipeline
        path = os.path.join(work, "random.csv")
        # The small files begin with a byte order mark, as spreadsheets write.
        body = "\ufeff" if size == 50 else ""
        body += "".join(record(delimiter) + rng.choice(["\n", "\r\n", "\r"]) for _ in range(size))
        with open(path, "w", newline="", encoding="utf-8") as f:
            f.write(body)
        want = expected(path, delimiter)
        for jobs in ("-j1", "-j2"):
            got = molstamp(jobs, path, delimiter, work)
            if got != want:
                diff = [(w, g) for w, g in zip(want[1], got[1]) if w != g][:3]
                sys.exit(f"csv_differential: seed {seed}, {delimiter!r}, {size} records, {jobs}: "
                         f"{got[0]} records for Python's {want[0]}; first differences {diff}")
        files += 1
shutil.rmtree(work)
print(f"csv_differential: {files} random CSV files read as Python's csv reads them, -j1 and -j2")
