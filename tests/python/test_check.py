"""check: the verdicts of molstamp -c on aligned iterables."""
import math

import numpy
import pytest

import molstamp

# Each case: the InChI and the stored key, as functions of a reference
# InChI, its key and another compound's key; and the verdict.
OWN = lambda inchi, key, other: inchi  # noqa: E731
BROKEN = lambda inchi, key, other: "InChI=1S/"  # noqa: E731
VERDICT_CASES = [
    (OWN, lambda i, k, o: k, "agree"),
    (OWN, lambda i, k, o: "InChIKey=" + k, "agree"),
    (OWN, lambda i, k, o: k.encode(), "agree"),
    (OWN, lambda i, k, o: o, "differs"),
    (OWN, lambda i, k, o: k.lower(), "differs"),
    (OWN, lambda i, k, o: k + " ", "differs"),
    (OWN, lambda i, k, o: "", "missing"),
    (OWN, lambda i, k, o: "InChIKey=", "missing"),
    (OWN, lambda i, k, o: None, "missing"),
    (OWN, lambda i, k, o: math.nan, "missing"),
    (OWN, lambda i, k, o: numpy.float32("nan"), "missing"),
    (BROKEN, lambda i, k, o: k, "failed"),
    (BROKEN, lambda i, k, o: None, "failed"),
    (lambda i, k, o: None, lambda i, k, o: k, None),
    (lambda i, k, o: math.nan, lambda i, k, o: None, None),
    (lambda i, k, o: numpy.float16("nan"), lambda i, k, o: k, None),
    # No candidate (not beginning with "InC"): no verdict, as in the tool.
    (lambda i, k, o: "", lambda i, k, o: k, None),
    (lambda i, k, o: "x", lambda i, k, o: k, None),
    (lambda i, k, o: " " + i, lambda i, k, o: k, None),
]


@pytest.mark.parametrize("threads", [1, 2])
def test_verdicts(reference, threads):
    (inchi, key), (_, other) = reference[5], reference[6]
    inchis = [c[0](inchi, key, other) for c in VERDICT_CASES]
    keys = [c[1](inchi, key, other) for c in VERDICT_CASES]
    assert molstamp.check(inchis, keys, threads=threads) == [c[2] for c in VERDICT_CASES]


def test_reference_agrees(reference):
    inchis, keys = zip(*reference)
    assert set(molstamp.check(inchis, keys)) == {"agree"}


@pytest.mark.parametrize("inchis, keys, error, text", [
    (["a", "b"], ["K"], ValueError, "2 and 1"),
    ([], ["K"], ValueError, "0 and 1"),
    (["a", 3], ["K", "K"], TypeError, r"inchis\[1\]"),
    (["a", "b"], ["K", 3.5], TypeError, r"keys\[1\]"),
    ("InChI=1S/H2O/h1H2", ["K"], TypeError, "one string"),
])
def test_bad_arguments(inchis, keys, error, text):
    with pytest.raises(error, match=text):
        molstamp.check(inchis, keys)
