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
def standard_keys(reference):
    """Each reference InChI's standard key: a standard InChI's own; for a
    non-standard one, the key the set holds for its structure's standard
    InChI, its main layers before any fixed-H layer (KeyError if it held
    none)."""
    keys = dict(reference)
    prefix = "InChI=1/"
    return {inchi: keys["InChI=1S/" + inchi[len(prefix):].split("/f")[0]
                        if inchi.startswith(prefix) else inchi]
            for inchi, _ in reference}


@pytest.fixture(scope="session")
def source_dir():
    return SOURCE_DIR
