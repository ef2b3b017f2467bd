"""inchikey and inchikeys: the reference keys, the items they take, threads,
standard keys and validation, an interruption."""
import math
import os
import pickle
import pathlib
import re
import signal
import subprocess
import sys
import threading
import time

import numpy
import pytest

import molstamp


@pytest.mark.parametrize("threads", [1, 2])
def test_reference_keys(reference, threads):
    inchis = [inchi for inchi, _ in reference]
    assert molstamp.inchikeys(inchis, threads=threads) == [key for _, key in reference]


# Each case: the rules, and the key each reference InChI gets under them:
# every one passes validation, and with standard=True a non-standard InChI
# gets the key of its structure's standard InChI.
RULE_CASES = {
    "standard": ({"standard": True}, True),
    "syntax": ({"validate": "syntax"}, False),
    "standard, structure": ({"standard": True, "validate": "structure"}, True),
}


# One thread waits for its worker's every reply: a fifth of the set will do.
@pytest.mark.parametrize("threads, step", [(1, 5), (4, 1)])
@pytest.mark.parametrize("case", RULE_CASES)
def test_reference_keys_under_rules(reference, standard_keys, case, threads, step):
    rules, standard = RULE_CASES[case]
    inchis = [inchi for inchi, _ in reference[::step]]
    assert sum(i.startswith("InChI=1/") for i in inchis) > 6000 // step
    expected = [standard_keys[i] for i in inchis] if standard else [k for _, k in reference[::step]]
    assert molstamp.inchikeys(inchis, threads=threads, **rules) == expected


CAFFEINE = "InChI=1S/C8H10N4O2/c1-10-4-9-6-5(10)7(13)12(3)8(14)11(6)2/h4H,1-3H3"
# Each case: a string the library keys as it stands, and the validations
# that refuse it.
VALIDATE_CASES = {
    "InChI=1S/H2O_h1H2": {"syntax", "structure"},
    "InChI=1S/CH4/h1H4/garbage": {"structure"},
    "InChI=1S/C6H6/c1-2-3-4-5-6-1/h1-6H": {"structure"},
    CAFFEINE: set(),
}


@pytest.mark.parametrize("threads", [1, 4])
@pytest.mark.parametrize("validate", [None, "syntax", "structure"])
def test_validate(validate, threads):
    inchis = list(VALIDATE_CASES) * 50
    plain = molstamp.inchikeys(inchis)
    assert None not in plain
    expected = [None if validate in VALIDATE_CASES[i] else k for i, k in zip(inchis, plain)]
    assert molstamp.inchikeys(inchis, threads=threads, validate=validate) == expected
    assert [molstamp.inchikey(i, validate=validate) for i in VALIDATE_CASES] == expected[:4]


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
    for validate in ("Syntax", "full", "", True, 1):
        with pytest.raises(ValueError, match="None, 'syntax' or 'structure'"):
            molstamp.inchikeys([inchi], validate=validate)
        with pytest.raises(ValueError, match="None, 'syntax' or 'structure'"):
            molstamp.inchikey(inchi, validate=validate)
    # The rules are keywords: a positional True would read as a thread count.
    with pytest.raises(TypeError):
        molstamp.inchikeys([inchi], 1, True)


def test_functions_sent_to_other_processes(reference):
    # Dask and multiprocessing pickle the functions they send, by name; a
    # fresh interpreter, as a spawned Dask worker is, imports the module when
    # it unpickles them. (A process pool here would leave its resource
    # tracker running, a child the later tests would find.)
    inchis, keys = [p[0] for p in reference[:100]], [p[1] for p in reference[:100]]
    calls = [
        (molstamp.inchikey, (inchis[7],), {}, keys[7]),
        (molstamp.inchikey, ("InChI=1S/",), {"validate": "syntax"}, None),
        (molstamp.inchikeys, (inchis,), {"threads": 2}, keys),
        (molstamp.check, (inchis, keys), {"threads": 1}, ["agree"] * 100),
    ]
    run = ("import pickle, sys\n"
           "calls = pickle.load(sys.stdin.buffer)\n"
           "pickle.dump([f(*args, **kwargs) for f, args, kwargs in calls], sys.stdout.buffer)\n")
    sent = pickle.dumps([call[:3] for call in calls])
    out = subprocess.run([sys.executable, "-c", run], input=sent, capture_output=True,
                         check=True, timeout=60).stdout
    assert pickle.loads(out) == [call[3] for call in calls]


def test_python_threads_at_once(reference, standard_keys):
    inchis, keys = [p[0] for p in reference[:3000]], [p[1] for p in reference[:3000]]
    results = [None] * 6

    # Batches whose worker processes are forked while other batches run.
    def work(i):
        if i % 3 == 1:
            results[i] = molstamp.inchikeys(inchis, threads=2) == keys
        elif i % 3 == 2:
            results[i] = molstamp.inchikeys(inchis, threads=2, standard=True) == \
                [standard_keys[x] for x in inchis]
        else:
            results[i] = set(molstamp.check(inchis, keys, threads=1)) == {"agree"}

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(results))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [True] * len(results)


def new_thread_id():
    thread = threading.Thread(target=lambda: None)
    thread.start()
    thread.join()
    return thread.native_id


# Each case: strings, threads asked for, and the threads the call starts
# beside the calling one: one per chunk of 64 strings at most.
THREAD_CASES = [(64, 100000, 0), (65, 100000, 1), (1000, 100000, 15), (1000, 2, 1)]


@pytest.mark.parametrize("strings, threads, started", THREAD_CASES)
def test_threads_started(reference, strings, threads, started):
    # Thread ids are handed out in turn: a thread started before the call and
    # one after bound the threads it started. Other processes' new tasks can
    # only add to the count, so the least of a few tries is the call's own.
    inchis = [p[0] for p in reference[:strings]]
    counts = []
    while len(counts) < 50 and started not in counts:
        before = new_thread_id()
        molstamp.inchikeys(inchis, threads=threads)
        after = new_thread_id()
        if after > before:  # else the ids wrapped around
            counts.append(after - before - 1)
    assert min(counts) == started


def children():
    """The processes this one started and has not reaped, running or not."""
    return [pid for task in pathlib.Path("/proc/self/task").iterdir()
            for pid in (task / "children").read_text().split()]


def assert_no_child_left():
    assert children() == []
    try:
        assert os.waitpid(-1, os.WNOHANG) == (0, 0)
    except ChildProcessError:
        pass


def test_interpreter_usable_after_worker_processes(reference):
    inchis = [p[0] for p in reference[:3000]]
    python_threads = threading.active_count()
    tasks = set(os.listdir("/proc/self/task"))
    first = molstamp.inchikeys(inchis, threads=4, standard=True, validate="structure")
    assert threading.active_count() == python_threads
    # A thread an earlier test joined may still be on its way out.
    assert set(os.listdir("/proc/self/task")) <= tasks
    assert_no_child_left()
    assert molstamp.check(inchis, first, threads=4, standard=True, validate="structure",
                          details=True) == [("agree", "")] * len(inchis)
    assert_no_child_left()
    # Python's own children and threads, as before.
    run = subprocess.run([sys.executable, "-c", "print(6 * 7)"], capture_output=True, text=True)
    assert run.stdout == "42\n"
    results = []
    thread = threading.Thread(target=lambda: results.append(
        molstamp.inchikeys(inchis[:100], standard=True, validate="structure")))
    thread.start()
    thread.join()
    assert results == [first[:100]]


# Each case: the call, over InChIs repeated to seconds of work, and threads.
INTERRUPT_CASES = {
    "inchikeys, 1 thread": (lambda inchis: molstamp.inchikeys(inchis, threads=1)),
    "inchikeys, 2 threads": (lambda inchis: molstamp.inchikeys(inchis, threads=2)),
    "check, 2 threads": (lambda inchis: molstamp.check(inchis, (None,) * len(inchis), threads=2)),
    "inchikeys, 2 threads and their workers": (
        lambda inchis: molstamp.inchikeys(inchis, threads=2, validate="structure")),
}


@pytest.mark.parametrize("case", INTERRUPT_CASES)
def test_interrupt_stops_the_batch(case, reference, source_dir):
    lines = tuple((source_dir / "bench/data/nci-5k.inchi").read_text().split())
    inchis = lines * (3_000_000 // len(lines))
    tasks = len(os.listdir("/proc/self/task"))
    sent = []
    timer = threading.Timer(0.3, lambda: (sent.append(time.monotonic()),
                                          os.kill(os.getpid(), signal.SIGINT)))
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        INTERRUPT_CASES[case](inchis)
    raised = time.monotonic()
    timer.join()
    # The whole batch takes many seconds; without the interruption the
    # exception would come at its end. The bound leaves room for a loaded
    # machine: the workers stop within a string of the interruption.
    assert sent and raised - sent[0] < 2.0
    assert len(os.listdir("/proc/self/task")) == tasks
    assert_no_child_left()
    assert molstamp.inchikeys([p[0] for p in reference[:100]], threads=2) == \
        [p[1] for p in reference[:100]]
