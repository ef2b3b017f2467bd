#!/usr/bin/python3
"""Writes examples/chembl-like.csv from examples/chembl-like.tsv the way a
Python user writes a table: pandas' to_csv, which quotes the InChI strings
(they hold commas). The key column is the one the TSV holds (RDKit's).

    /usr/bin/python3 tools/make_csv.py examples
"""
import os
import sys

import pandas as pd

folder = sys.argv[1] if len(sys.argv) > 1 else "examples"
table = pd.read_csv(os.path.join(folder, "chembl-like.tsv"), sep="\t", dtype=str)
table.to_csv(os.path.join(folder, "chembl-like.csv"), index=False)
