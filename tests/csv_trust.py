#!/usr/bin/python3
"""Every key molstamp appends to a CSV must be the reference key of its row:
the cross-check set written by Python's csv module in each quoting style
(with names that hold commas, quotes and line ends), and by pandas, read
back by the same module after molstamp, also with two threads and in check
mode.

    csv_trust.py MOLSTAMP CROSSCHECK.tsv.gz
"""
import csv
import gzip
import io
import os
import subprocess
import sys
import tempfile

import pandas as pd

tool, reference = sys.argv[1], sys.argv[2]
with gzip.open(reference, "rt", newline="") as f:
    rows = [line.rstrip("\n").split("\t") for line in f if not line.startswith("#")]
inchis = [inchi for inchi, _ in rows]
keys = [key for _, key in rows]


def name(i):
    """Names that a CSV writer must quote, now and then over two lines."""
    return [f"compound {i}", f"no. {i}, salt", f'the "{i}" form', f"two\nlines {i}"][i % 4]


def molstamp(*args):
    run = subprocess.run([tool, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return run.returncode, run.stdout.decode()


def expect(condition, what):
    if not condition:
        sys.exit(f"csv_trust: {what}")


work = tempfile.mkdtemp(prefix="molstamp-csv-")
styles = {"minimal": csv.QUOTE_MINIMAL, "all": csv.QUOTE_ALL, "non-numeric": csv.QUOTE_NONNUMERIC}
for style, quoting in styles.items():
    source = os.path.join(work, f"{style}.csv")
    with open(source, "w", newline="") as f:
        writer = csv.writer(f, quoting=quoting)
        writer.writerow(["id", "inchi", "name"])
        for i, inchi in enumerate(inchis):
            writer.writerow([i + 1, inchi, name(i)])
    for jobs in ("-j1", "-j2"):
        out = os.path.join(work, f"{style}{jobs}.csv")
        status, _ = molstamp(jobs, "-d", ",", "-H", "-t", "2", source, out)
        expect(status == 0, f"{style} {jobs}: status {status}")
        with open(out, newline="") as f:
            back = list(csv.reader(f))
        expect(back[0] == ["id", "inchi", "name", "InChIKey"], f"{style}: header {back[0]}")
        expect([r[1] for r in back[1:]] == inchis, f"{style} {jobs}: InChI column changed")
        expect([r[2] for r in back[1:]] == [name(i) for i in range(len(rows))],
               f"{style} {jobs}: name column changed")
        expect([r[3] for r in back[1:]] == keys, f"{style} {jobs}: keys differ")
    # The keyed file checks against itself: every key agrees.
    status, console = molstamp("-c", "-d", ",", "-H", "-t", "2", "-k", "4", out, os.devnull)
    expect(status == 0 and f"agree {len(rows)}," in console, f"{style}: check {status} {console}")

# A pandas round trip: an InChI column out with to_csv, keyed, read back.
frame = pd.DataFrame({"inchi": inchis, "name": [name(i) for i in range(len(rows))]})
source = os.path.join(work, "pandas.csv")
frame.to_csv(source, index=False)
out = os.path.join(work, "pandas-keyed.csv")
status, _ = molstamp("-j2", "-d", ",", "-H", "-t", "1", source, out)
expect(status == 0, f"pandas: status {status}")
back = pd.read_csv(out, dtype=str, keep_default_na=False)
expect(list(back["InChIKey"]) == keys, "pandas: keys differ")
expect(list(back["name"]) == list(frame["name"]), "pandas: name column changed")
print(f"csv_trust: {len(rows)} keys agree in {len(styles)} csv quoting styles and a pandas round trip")
