"""Shared data of the module's tests: the cross-check reference set."""
import gzip
import os
import pathlib

import pytest

SOURCE_DIR = pathlib.Path(os.environ.get("MOLSTAMP_SOURCE_DIR",
                                         pathlib.Path(__file__).resolve().parents[2]))


@pytest.fixture(scope="session")
def reference():
    """(InChI, key) pairs computed independently of libinchi."""
    with gzip.open(SOURCE_DIR / "tests/data/crosscheck.tsv.gz", "rt", encoding="ascii") as f:
        return [tuple(line.rstrip("\n").split("\t")) for line in f if not line.startswith("#")]


@pytest.fixture(scope="session")
def source_dir():
    return SOURCE_DIR
