"""What the SQL extensions' tests share: the reference set, the cases whose
answers SQLite and PostgreSQL must both give, and a model of a key's parts."""
import gzip
import os
import re
import subprocess

CAFFEINE = "InChI=1S/C8H10N4O2/c1-10-4-9-6-5(10)7(13)12(3)8(14)11(6)2/h4H,1-3H3"

# Damaged InChIs on which the library's structure parser writes out of
# bounds (found under valgrind): in a database's own process they brought the
# host down; in a worker process they cost only that process.
CORRUPTING = [
    "InChI=1S/2C12H24O2.2C4H9.Sn/c2*1-2-3-4-5-6-7-8-9-10-11-12(13)14;2*1-3-4-2;"
    "/h992*2-11H2,1H3,(H,13,14);2*1,3-4H2,2H3;/q;;;;+2/p-2",
    "InChI=1S/fC7H5Cl2NO22/c8-5-1-4(3-10-12)7(11)6(9)2-5/h1-3,11-12H",
    "InChI=1/C8H6O4.Cu.2H2N/c9-7(10)5-3-1-2-4-6(5)8(11)12;;;5/h1-4H,(H,9,10)(H,11,12);;2*1H2"
    "/q;+4;2*-1/p-2/fC8H4Op.Cu.2H2N/9q-2;3m",
    "InChI=1/C15H16N2O3S/c1-10-5-7-11(8-6-10)21(18,19)20-15-9-13(16)12-3-2-4-14(12)17-;5"
    "/h5-94,2-4H2,1H3,(H2,16,17)/f/h16H2",
]


class Reference:
    """The crosscheck set: rows of (inchi, key), a key by InChI, and the
    non-standard InChIs with the key -s gives them (that of the main layers
    before /f, under InChI=1S/, which the set holds too)."""

    def __init__(self, path):
        with gzip.open(path, "rt", encoding="utf-8") as f:
            self.rows = [line.rstrip("\n").split("\t") for line in f.readlines()[3:]]
        self.key_of = dict(self.rows)
        self.derived = []
        for inchi, _ in self.rows:
            if inchi.startswith("InChI=1/"):
                standard = re.sub(r"/f.*", "", "InChI=1S/" + inchi[len("InChI=1/"):])
                self.derived.append((inchi, self.key_of[standard]))
        self.standard_inchi, self.standard_key = next(
            r for r in self.rows if r[0].startswith("InChI=1S/"))
        self.other_key = next(k for _, k in self.rows if k != self.standard_key)
        self.non_standard = self.derived[0][0]


def validity_cases(ref):
    """(inchi, valid at 'syntax', valid at 'structure')."""
    return [
        ("InChI=1S/H2O_h1H2", False, False),
        ("InChI=1S/CH4/h1H4/garbage", True, False),
        (CAFFEINE, True, True),
        (ref.non_standard, True, True),
        ("CCO", False, False),
    ]


def verdict_cases(ref):
    """(inchi, stored key, the verdict); bytes for blobs, None for NULL."""
    inchi, key, other = ref.standard_inchi, ref.standard_key, ref.other_key
    return [
        (inchi, key, "agree"),
        (inchi, "InChIKey=" + key, "agree"),
        (inchi.encode(), key.encode(), "agree"),
        (inchi, other, "differs"),
        (inchi, "InChIKey=" + other, "differs"),
        (inchi, key[:26], "differs"),
        (inchi, None, "missing"),
        (inchi.encode(), None, "missing"),
        (inchi, "", "missing"),
        (inchi, "InChIKey=", "missing"),
        ("InChI=1S/", key, "failed"),
        ("InChI=1S/", None, "failed"),
        ("InChIgarbage", key, "failed"),
        (None, key, None),
        (None, None, None),
        ("CCO", key, None),
        ("", key, None),
    ]


KEY_PARTS = [("skeleton", 0, 14), ("layers", 15, 23), ("standard", 23, 24), ("version", 24, 25),
             ("protonation", 26, 27)]


def difference_model(a, b):
    """The difference column of two well-formed keys, from their parts."""
    return ",".join(name for name, i, j in KEY_PARTS if a[i:j] != b[i:j])


def difference_pairs(ref):
    """Pairs of the set's keys that differ in every kind of way the set has:
    equal, standard against non-standard, one skeleton, neighbours."""
    by_skeleton = {}
    for _, key in ref.rows:
        by_skeleton.setdefault(key[:14], set()).add(key)
    pairs = [(ref.standard_key, ref.standard_key), (ref.standard_key, ref.other_key)]
    pairs += [(d[1], ref.key_of[d[0]]) for d in ref.derived[:50]]
    pairs += [tuple(sorted(keys)[:2]) for keys in by_skeleton.values() if len(keys) > 1][:50]
    pairs += [(a, b) for (_, a), (_, b) in zip(ref.rows[:50], ref.rows[1:51])]
    return pairs


def malformed_difference_cases(ref):
    """(stored, computed, the difference column): prefixes, malformed, NULLs."""
    key = ref.standard_key
    return [
        ("InChIKey=" + key, key, ""),
        ("not a key", key, "malformed"),
        (key[:26], key, "malformed"),
        (None, key, None),
        (key, None, None),
        (key, key + "XXXX", None),  # a computed text that is no key
        (key, "", None),
    ]


def damaged_inchis(ref):
    """A third of the set's InChIs, four in five damaged (cut, a layer's
    letter changed, a multiplier made huge, a layer's slash lost), and the
    InChIs that corrupt the library, each three times."""
    damaged = []
    for n, (inchi, _) in enumerate(ref.rows[::3]):
        if n % 5 == 1:
            inchi = inchi[: len(inchi) // 2]
        elif n % 5 == 2:
            inchi = inchi.replace("/c", "/x", 1)
        elif n % 5 == 3:
            inchi = inchi.replace("/h", "/h99", 1)  # on one of these the library wrote out of bounds
        elif n % 5 == 4:
            inchi = inchi.replace("/", "_", 2).replace("_", "/", 1)
        damaged.append(inchi)
    return damaged + CORRUPTING * 3


def tool_refusals(tool, inchis, level, scratch):
    """The 1-based numbers of the InChIs that the tool's --validate=level
    refuses, from its warnings (-j2: structure calls in worker processes)."""
    lines = os.path.join(scratch, "refusals.txt")
    with open(lines, "w", encoding="utf-8") as f:
        f.writelines(inchi + "\n" for inchi in inchis)
    log = os.path.join(scratch, level + ".log")
    subprocess.run([tool, "-j2", f"--validate={level}", lines, os.path.join(scratch, "out"), log],
                   capture_output=True, check=True)
    with open(log, encoding="utf-8") as f:
        return sorted(int(m) for m in re.findall(r"not a valid InChI .* in the line #(\d+)", f.read()))
