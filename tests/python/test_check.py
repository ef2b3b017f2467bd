"""check: the verdicts of molstamp -c on aligned iterables."""
import math

import numpy
import pytest

import molstamp

# Each case: the InChI and the stored key, as functions of a reference
# InChI, its key and another compound's key; the verdict and its difference.
OWN = lambda inchi, key, other: inchi  # noqa: E731
BROKEN = lambda inchi, key, other: "InChI=1S/"  # noqa: E731
VERDICT_CASES = [
    (OWN, lambda i, k, o: k, "agree", ""),
    (OWN, lambda i, k, o: "InChIKey=" + k, "agree", ""),
    (OWN, lambda i, k, o: k.encode(), "agree", ""),
    (OWN, lambda i, k, o: o, "differs", "skeleton,layers,protonation"),
    (OWN, lambda i, k, o: k.lower(), "differs", "malformed"),
    (OWN, lambda i, k, o: k + " ", "differs", "malformed"),
    (OWN, lambda i, k, o: "InChIKey=InChIKey=" + k, "differs", "malformed"),
    (OWN, lambda i, k, o: "", "missing", ""),
    (OWN, lambda i, k, o: "InChIKey=", "missing", ""),
    (OWN, lambda i, k, o: None, "missing", ""),
    (OWN, lambda i, k, o: math.nan, "missing", ""),
    (OWN, lambda i, k, o: numpy.float32("nan"), "missing", ""),
    (BROKEN, lambda i, k, o: k, "failed", "unresolved program error"),
    (BROKEN, lambda i, k, o: None, "failed", "unresolved program error"),
    (lambda i, k, o: None, lambda i, k, o: k, None, None),
    (lambda i, k, o: math.nan, lambda i, k, o: None, None, None),
    (lambda i, k, o: numpy.float16("nan"), lambda i, k, o: k, None, None),
    # No candidate (not beginning with "InC"): no verdict, as in the tool.
    (lambda i, k, o: "", lambda i, k, o: k, None, None),
    (lambda i, k, o: "x", lambda i, k, o: k, None, None),
    (lambda i, k, o: " " + i, lambda i, k, o: k, None, None),
]


@pytest.mark.parametrize("details", [False, True])
@pytest.mark.parametrize("threads", [1, 2])
def test_verdicts(reference, threads, details):
    (inchi, key), (_, other) = reference[5], reference[6]
    inchis = [c[0](inchi, key, other) for c in VERDICT_CASES]
    keys = [c[1](inchi, key, other) for c in VERDICT_CASES]
    expected = [(c[2], c[3]) if details else c[2] for c in VERDICT_CASES]
    assert molstamp.check(inchis, keys, threads=threads, details=details) == expected


CAFFEINE = "InChI=1S/C8H10N4O2/c1-10-4-9-6-5(10)7(13)12(3)8(14)11(6)2/h4H,1-3H3"
GARBAGE = "InChI=1S/CH4/h1H4/garbage"
# Each case: the InChI and the stored key, as functions of a non-standard
# reference InChI, its key and its standard key ("$": the InChI's own key
# without rules); the rules; the verdict and its difference.
RULE_CASES = [
    (OWN, lambda i, k, s: s, {}, ("differs", "layers,standard")),
    (OWN, lambda i, k, s: s, {"standard": True}, ("agree", "")),
    (OWN, lambda i, k, s: k, {"standard": True}, ("differs", "layers,standard")),
    (OWN, lambda i, k, s: s, {"standard": True, "validate": "structure"}, ("agree", "")),
    (lambda i, k, s: "InChI=1S/H2O_h1H2", lambda i, k, s: "$", {"validate": "syntax"},
     ("failed", "invalid")),
    (lambda i, k, s: GARBAGE, lambda i, k, s: "$", {"validate": "syntax"}, ("agree", "")),
    (lambda i, k, s: GARBAGE, lambda i, k, s: "$", {"validate": "structure"},
     ("failed", "invalid")),
    (lambda i, k, s: CAFFEINE, lambda i, k, s: "$", {"validate": "structure"}, ("agree", "")),
    # A derivation the library refuses: why, in its words.
    (lambda i, k, s: "InChI=1/", lambda i, k, s: None, {"standard": True},
     ("failed", "no structure: status -1")),
]


@pytest.mark.parametrize("case", range(len(RULE_CASES)))
def test_verdicts_under_rules(reference, standard_keys, case):
    inchi_of, key_of, rules, expected = RULE_CASES[case]
    reference_inchi, key = reference[5]
    assert reference_inchi.startswith("InChI=1/")
    inchi = inchi_of(reference_inchi, key, standard_keys[reference_inchi])
    stored = key_of(reference_inchi, key, standard_keys[reference_inchi])
    if stored == "$":
        stored = molstamp.inchikey(inchi)
    assert molstamp.check([inchi], [stored], **rules, details=True) == [expected]
    assert molstamp.check([inchi], [stored], **rules) == [expected[0]]


# One thread waits for its worker's every reply: a fifth of the set will do.
@pytest.mark.parametrize("threads, step", [(1, 5), (4, 1)])
def test_standard_keys_agree(reference, standard_keys, threads, step):
    inchis = [inchi for inchi, _ in reference[::step]]
    stored = [standard_keys[inchi] for inchi in inchis]
    assert set(molstamp.check(inchis, stored, threads=threads, standard=True,
                              validate="structure", details=True)) == {("agree", "")}


def test_reference_agrees(reference):
    inchis, keys = zip(*reference)
    assert set(molstamp.check(inchis, keys)) == {"agree"}


@pytest.mark.parametrize("inchis, keys, rules, error, text", [
    (["a", "b"], ["K"], {}, ValueError, "2 and 1"),
    ([], ["K"], {}, ValueError, "0 and 1"),
    (["a", 3], ["K", "K"], {}, TypeError, r"inchis\[1\]"),
    (["a", "b"], ["K", 3.5], {}, TypeError, r"keys\[1\]"),
    ("InChI=1S/H2O/h1H2", ["K"], {}, TypeError, "one string"),
    (["a"], ["K"], {"validate": "strict"}, ValueError, "None, 'syntax' or 'structure'"),
])
def test_bad_arguments(inchis, keys, rules, error, text):
    with pytest.raises(error, match=text):
        molstamp.check(inchis, keys, **rules)
