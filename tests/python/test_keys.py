"""inchikey and inchikeys: the reference keys, the items they take, threads."""
import math
import re
import threading

import numpy
import pytest

import molstamp


@pytest.mark.parametrize("threads", [1, 2])
def test_reference_keys(reference, threads):
    inchis = [inchi for inchi, _ in reference]
    assert molstamp.inchikeys(inchis, threads=threads) == [key for _, key in reference]


# Each case: the items, made of two reference pairs a and b, and the keys
# (None: no key), or the exception and a text of its message.
ITEM_CASES = {
    "str and bytes": (lambda a, b: [a[0], b[0].encode()], lambda a, b: [a[1], b[1]]),
    "None and NaN": (lambda a, b: [None, a[0], math.nan, numpy.nan],
                     lambda a, b: [None, a[1], None, None]),
    "NaN of every NumPy float type": (
        lambda a, b: [t("nan") for t in (numpy.float16, numpy.float32, numpy.float64,
                                         numpy.longdouble)] + [a[0]],
        lambda a, b: [None] * 4 + [a[1]]),
    "no key from the library": (lambda a, b: ["InChI=1S/", "", "benzene"], lambda a, b: [None] * 3),
    "empty list": (lambda a, b: [], lambda a, b: []),
    "generator": (lambda a, b: (p[0] for p in (a, b)), lambda a, b: [a[1], b[1]]),
    "tuple": (lambda a, b: (b[0], a[0]), lambda a, b: [b[1], a[1]]),
    "NumPy object array": (lambda a, b: numpy.array([a[0], None, b[0].encode()], dtype=object),
                           lambda a, b: [a[1], None, b[1]]),
    "NumPy str array": (lambda a, b: numpy.array([a[0], b[0]]), lambda a, b: [a[1], b[1]]),
    "an int": (lambda a, b: [a[0], b[0], 7], (TypeError, "inchis[2]")),
    "a bytearray": (lambda a, b: [a[0], bytearray(b"InChI=1S/H2O/h1H2")], (TypeError, "[1]")),
    "a NumPy float, no NaN": (lambda a, b: [a[0], numpy.float32(1.5)], (TypeError, "[1]")),
    "one string, not a list": (lambda a, b: a[0], (TypeError, "one string")),
}


@pytest.mark.parametrize("threads", [1, 2])
@pytest.mark.parametrize("case", ITEM_CASES)
def test_items(reference, case, threads):
    items, expected = ITEM_CASES[case]
    a, b = reference[10], reference[9000]
    if isinstance(expected, tuple):
        with pytest.raises(expected[0], match=re.escape(expected[1])):
            molstamp.inchikeys(items(a, b), threads=threads)
    else:
        assert molstamp.inchikeys(items(a, b), threads=threads) == expected(a, b)


def test_one_key_and_bad_arguments(reference):
    inchi, key = reference[42]
    assert [molstamp.inchikey(x) for x in (inchi, inchi.encode(), "InChI=1S/", None,
                                           numpy.float32("nan"))] == [key, key, None, None, None]
    with pytest.raises(TypeError, match="inchi"):
        molstamp.inchikey(42)
    with pytest.raises(ValueError, match="threads"):
        molstamp.inchikeys([inchi], threads=-1)


def test_python_threads_at_once(reference):
    inchis, keys = [p[0] for p in reference[:3000]], [p[1] for p in reference[:3000]]
    results = [None] * 6

    def work(i):
        if i % 2:
            results[i] = molstamp.inchikeys(inchis, threads=2) == keys
        else:
            results[i] = set(molstamp.check(inchis, keys, threads=1)) == {"agree"}

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(results))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [True] * len(results)
