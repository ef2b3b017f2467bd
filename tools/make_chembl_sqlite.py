#!/usr/bin/python3
"""Builds a small table shaped like ChEMBL's compound_structures (molregno,
standard_inchi, standard_inchi_key, canonical_smiles: ChEMBL's names, types
and order, its molfile column left out) from examples/chembl-like.tsv, with
some rows damaged the ways real loads damage them, so that the queries of
examples/chembl-queries.sql have something to find.

    /usr/bin/python3 tools/make_chembl_sqlite.py chembl.db        # a SQLite file
    /usr/bin/python3 tools/make_chembl_sqlite.py --sql chembl.sql # the same rows as SQL

The SQL form (CREATE TABLE and one INSERT) loads unchanged in PostgreSQL
(psql -f) and in SQLite; the SQLite file is made by running that same text.
Standard output gets what was damaged, a line per row and problem:
molregno, TAB, 'wrong key', 'non-standard' or 'invalid', TAB, how.

The rows, molregno 1 to 8 being the example file's rows in order:
  2   the key's first block has one letter changed        wrong key
  4   the key's protonation letter is O instead of N      wrong key
  6   the key is in lowercase                             wrong key
  7   the key is empty (the column is NOT NULL in ChEMBL) wrong key
  9   pyruvic acid's non-standard InChI (InChI=1/, with a fixed-H
      layer) from tests/data/crosscheck.tsv.gz, with its own key: non-standard
  10  row 3's InChI cut after 60 characters, row 3's key: invalid, wrong key
  11  row 5's InChI without its "InChI=" prefix, row 5's key:
      invalid, and a wrong key since the text gives none
"""
import argparse
import gzip
import os
import sqlite3
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLE = os.path.join(ROOT, "examples", "chembl-like.tsv")
CROSSCHECK = os.path.join(ROOT, "tests", "data", "crosscheck.tsv.gz")

# Pyruvic acid, CC(=O)C(=O)O: its InChI with the fixed-H layer of the acid's
# proton, which only a non-standard InChI holds.
PYRUVIC_ACID = "InChI=1/C3H4O3/c1-2(4)3(5)6/h1H3,(H,5,6)/f/h5H"

CREATE = """CREATE TABLE compound_structures (
    molregno BIGINT NOT NULL PRIMARY KEY,
    standard_inchi VARCHAR(4000),
    standard_inchi_key VARCHAR(27) NOT NULL,
    canonical_smiles VARCHAR(4000)
);
"""


def next_letter(c):
    return chr((ord(c) - ord("A") + 1) % 26 + ord("A"))


def rows_and_damage():
    """The table's rows (molregno, standard_inchi, standard_inchi_key,
    canonical_smiles) and the damage done: (molregno, problem, how)."""
    with open(EXAMPLE, encoding="utf-8") as f:
        lines = [line.rstrip("\n").split("\t") for line in f][1:]
    rows = [[i + 1, inchi, key, smiles] for i, (_, smiles, inchi, key) in enumerate(lines)]
    damage = []

    def alter_key(molregno, how, change):
        row = rows[molregno - 1]
        row[2] = change(row[2])
        damage.append((molregno, "wrong key", how))

    alter_key(2, "first block: one letter changed", lambda k: next_letter(k[0]) + k[1:])
    alter_key(4, "protonation letter O instead of N", lambda k: k[:-1] + "O")
    alter_key(6, "lowercase", str.lower)
    alter_key(7, "empty", lambda k: "")

    with gzip.open(CROSSCHECK, "rt", encoding="utf-8") as f:
        key_of = dict(line.rstrip("\n").split("\t") for line in f if not line.startswith("#"))
    rows.append([9, PYRUVIC_ACID, key_of[PYRUVIC_ACID], "CC(=O)C(=O)O"])
    damage.append((9, "non-standard", "InChI=1/ with a fixed-H layer, its own key"))

    _, inchi, key, smiles = rows[2]
    rows.append([10, inchi[:60], key, smiles])
    damage.append((10, "invalid", "row 3's InChI cut after 60 characters"))
    damage.append((10, "wrong key", "the cut InChI's key is not row 3's"))

    _, inchi, key, smiles = rows[4]
    rows.append([11, inchi[len("InChI="):], key, smiles])
    damage.append((11, "invalid", "row 5's InChI without its prefix"))
    damage.append((11, "wrong key", "the text gives no key"))
    return rows, damage


def quoted(value):
    return "'" + value.replace("'", "''") + "'"


def sql_text(rows):
    values = ",\n".join(f"({m}, {quoted(i)}, {quoted(k)}, {quoted(s)})" for m, i, k, s in rows)
    return (CREATE + "INSERT INTO compound_structures "
            "(molregno, standard_inchi, standard_inchi_key, canonical_smiles) VALUES\n"
            + values + ";\n")


def main():
    ap = argparse.ArgumentParser(description="A small ChEMBL-shaped compound_structures table.")
    ap.add_argument("--sql", action="store_true", help="write SQL text instead of a SQLite file")
    ap.add_argument("output")
    args = ap.parse_args()
    rows, damage = rows_and_damage()
    text = sql_text(rows)
    if os.path.exists(args.output):
        os.unlink(args.output)
    if args.sql:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(text)
    else:
        db = sqlite3.connect(args.output)
        db.executescript(text)
        db.close()
    for molregno, problem, how in damage:
        sys.stdout.write(f"{molregno}\t{problem}\t{how}\n")


if __name__ == "__main__":
    main()
