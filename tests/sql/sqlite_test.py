#!/usr/bin/python3
"""The SQLite extension in Python's sqlite3 and in the sqlite3 shell, against
the crosscheck set's keys and the tool's own words.

    sqlite_test.py EXTENSION CROSSCHECK_TSV_GZ MOLSTAMP_BINARY
"""
import re
import sqlite3
import subprocess
import sys
import tempfile
import threading

from cases import (CORRUPTING, Reference, damaged_inchis, difference_model, difference_pairs,
                   malformed_difference_cases, tool_refusals, validity_cases, verdict_cases)

extension, reference, tool = sys.argv[1:4]
failures = []


def expect(what, got, wanted):
    if got != wanted:
        failures.append(f"{what}: got {got!r}, wanted {wanted!r}")


ref = Reference(reference)
rows, key_of, derived = ref.rows, ref.key_of, ref.derived

db = sqlite3.connect(":memory:")
db.enable_load_extension(True)
db.load_extension(extension)
db.enable_load_extension(False)


def one(sql, *args):
    return db.execute(sql, args).fetchone()[0]


def error(sql, *args):
    try:
        db.execute(sql, args).fetchall()
    except sqlite3.Error as e:
        return str(e)
    return None


# Every key of the set, through inchikey; and as blobs.
db.execute("CREATE TABLE ref(inchi TEXT, key TEXT)")
db.executemany("INSERT INTO ref VALUES (?, ?)", rows)
expect("rows", one("SELECT count(*) FROM ref"), len(rows))
expect("keys that differ", one("SELECT count(*) FROM ref WHERE inchikey(inchi) IS NOT key"), 0)
expect("blob keys that differ",
       one("SELECT count(*) FROM ref WHERE inchikey(CAST(inchi AS BLOB)) IS NOT key"), 0)

# -s: a non-standard InChI's key is that of its structure's standard InChI
# (the main layers before /f, under InChI=1S/); a standard one keeps its own.
expect("non-standard InChIs", len(derived) > 6000, True)
db.execute("CREATE TABLE derived(inchi TEXT, key TEXT)")
db.executemany("INSERT INTO derived VALUES (?, ?)", derived)
expect("standard keys that differ",
       one("SELECT count(*) FROM derived WHERE inchikey_standard(inchi) IS NOT key"), 0)
expect("standard InChIs under inchikey_standard",
       one("SELECT count(*) FROM ref WHERE inchi LIKE 'InChI=1S/%' "
           "AND inchikey_standard(inchi) IS NOT key"), 0)

# Two connections on two threads at once: the structure calls are serialized.
halves = [derived[0::2][:300], derived[1::2][:300]]
wrong = [None, None]


def derive(i):
    c = sqlite3.connect(":memory:")
    c.enable_load_extension(True)
    c.load_extension(extension)
    wrong[i] = sum(c.execute("SELECT inchikey_standard(?)", (inchi,)).fetchone()[0] != key
                   for inchi, key in halves[i])


threads = [threading.Thread(target=derive, args=(i,)) for i in range(2)]
for t in threads:
    t.start()
for t in threads:
    t.join()
expect("standard keys that differ on two threads", wrong, [0, 0])

# NULL, what the library refuses, blobs with a NUL after the InChI, numbers.
standard_inchi, standard_key, non_standard = ref.standard_inchi, ref.standard_key, ref.non_standard
for sql, args, wanted in [
    ("SELECT inchikey(NULL)", (), None),
    ("SELECT inchikey_standard(NULL)", (), None),
    ("SELECT inchi_valid(NULL)", (), None),
    ("SELECT inchikey('InChI=1S/')", (), None),
    ("SELECT inchikey('')", (), None),
    ("SELECT inchikey('CCO')", (), None),
    ("SELECT inchikey_standard('InChI=1/')", (), None),
    ("SELECT inchikey(?)", (standard_inchi.encode() + b"\0trailing",), standard_key),
    ("SELECT inchikey(?)", (standard_inchi + "\0trailing",), standard_key),
    ("SELECT inchikey_standard(?)", (non_standard.encode(),), derived[0][1]),
]:
    expect(f"{sql} {args!r}", one(sql, *args), wanted)
for sql in ["SELECT inchikey(42)", "SELECT inchikey(4.2)", "SELECT inchikey_standard(1)",
            "SELECT inchi_valid(1)", "SELECT inchi_valid('InChI=1S/CH4/h1H4', 1)",
            "SELECT inchikey_verdict(1, 'x')", "SELECT inchikey_verdict('InChI=1S/CH4/h1H4', 2)",
            "SELECT inchikey_difference(1.5, 'x')"]:
    expect(sql, "takes text or a blob" in (error(sql) or ""), True)

# inchi_valid at both levels.
for inchi, syntax, structure in validity_cases(ref):
    syntax, structure = int(syntax), int(structure)
    expect(f"inchi_valid({inchi})", one("SELECT inchi_valid(?)", inchi), syntax)
    expect(f"inchi_valid({inchi}, 'syntax')", one("SELECT inchi_valid(?, 'syntax')", inchi),
           syntax)
    expect(f"inchi_valid({inchi}, 'structure')",
           one("SELECT inchi_valid(?, 'structure')", inchi), structure)
# The structure calls run in a worker process, which the library may corrupt
# or bring down without the host: each such InChI is invalid, and a
# non-standard one gets no standard key (a standard one is keyed as it stands).
for inchi in CORRUPTING * 3:
    expect(f"inchi_valid({inchi}, 'structure')", one("SELECT inchi_valid(?, 'structure')", inchi), 0)
    expect(f"inchikey_standard({inchi})", one("SELECT inchikey_standard(?)", inchi),
           one("SELECT inchikey(?)", inchi) if inchi.startswith("InChI=1S/") else None)
expect("the key after them", one("SELECT inchikey_standard(?)", non_standard), derived[0][1])
for level in ["bogus", ""]:
    expect(f"inchi_valid level {level!r}",
           "'syntax' or 'structure'" in (error("SELECT inchi_valid(?, ?)", ref.non_standard, level) or ""),
           True)
expect("inchi_valid level NULL", one("SELECT inchi_valid(?, NULL)", ref.non_standard), None)

# inchi_valid against the tool's --validate on the set's InChIs with damaged
# ones among them: the same InChIs refused at each level.
damaged = damaged_inchis(ref)
with tempfile.TemporaryDirectory() as scratch:
    for level in ["syntax", "structure"]:
        refused = tool_refusals(tool, damaged, level, scratch)
        got = [n + 1 for n, inchi in enumerate(damaged)
               if not one(f"SELECT inchi_valid(?, '{level}')", inchi)]
        expect(f"refused at {level}", got, refused)
        expect(f"some refused at {level}, not all", 0 < len(refused) < len(damaged), True)

# Check mode's verdicts.
for inchi, stored, wanted in verdict_cases(ref):
    expect(f"verdict {inchi!r} {stored!r}",
           one("SELECT inchikey_verdict(?, ?)", inchi, stored), wanted)

# The difference column: a model of the key's parts on pairs of the set's keys.
pairs = difference_pairs(ref)
expect("kinds of differences", len({difference_model(a, b) for a, b in pairs}) >= 4, True)
for stored, computed in pairs:
    expect(f"difference {stored} {computed}",
           one("SELECT inchikey_difference(?, ?)", stored, computed), difference_model(stored, computed))
for stored, computed, wanted in malformed_difference_cases(ref):
    expect(f"difference {stored!r} {computed!r}",
           one("SELECT inchikey_difference(?, ?)", stored, computed), wanted)

# A stored generated column and an index on the key: both need the functions
# to be deterministic; the index is the one the lookup uses.
db.execute("CREATE TABLE mol(inchi TEXT, key TEXT GENERATED ALWAYS AS (inchikey(inchi)) STORED)")
db.execute("INSERT INTO mol(inchi) SELECT inchi FROM ref WHERE rowid % 10 = 0")
db.execute("INSERT INTO mol(inchi) VALUES ('not an InChI')")
expect("generated keys that differ",
       one("SELECT count(*) FROM mol JOIN ref USING (inchi) WHERE mol.key IS NOT ref.key"), 0)
expect("generated key of a non-InChI", one("SELECT key FROM mol WHERE inchi = 'not an InChI'"),
       None)
db.execute("CREATE INDEX mol_key ON mol(inchikey(inchi))")
plan = " ".join(str(r) for r in db.execute(
    "EXPLAIN QUERY PLAN SELECT inchi FROM mol WHERE inchikey(inchi) = ?", (standard_key,)))
expect("lookup uses the index", "mol_key" in plan, True)
target_inchi, target_key = rows[99]  # rowid 100
expect("lookup by key", one("SELECT inchi FROM mol WHERE inchikey(inchi) = ?", target_key),
       target_inchi)

# The version: the tool's, and the library's provenance, as --version says them.
tool_version = subprocess.run([tool, "--version"], capture_output=True, text=True,
                              check=True).stdout.splitlines()
expect("version", one("SELECT molstamp_version()"), ", ".join(tool_version[:2]))
expect("version form",
       bool(re.fullmatch(r"molstamp \d+\.\d+\.\d+, InChI library.*", one("SELECT molstamp_version()"))),
       True)

# The library is never called in the host's own process. A worker that
# cannot start (no descriptor left for its pipes) fails the call with an
# error, and the next call starts one; a connection carried across a fork
# leaves its worker to the parent, and each process gets its own answers.
NO_WORKER = """
import os, resource, sqlite3, sys
extension, corrupting, inchi, key, other, other_key = sys.argv[1:7]
c = sqlite3.connect(":memory:")
c.enable_load_extension(True)
c.load_extension(extension)
one = lambda sql, *a: c.execute(sql, a).fetchone()[0]
print(one("SELECT inchikey_standard(?)", inchi) == key)
print(one("SELECT inchi_valid(?, 'structure')", corrupting))  # fails: its worker is ended
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (len(os.listdir("/proc/self/fd")), hard))
try:
    print(one("SELECT inchi_valid(?, 'structure')", corrupting))
except sqlite3.OperationalError as e:
    print(e)
resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))
print(one("SELECT inchi_valid(?, 'structure')", corrupting), one("SELECT inchikey_standard(?)", inchi) == key)
for trial in range(20):
    pid = os.fork()
    mine = one("SELECT inchikey_standard(?)", inchi if pid else other)
    if pid == 0:
        os._exit(0 if mine == other_key else 1)
    _, status = os.waitpid(pid, 0)
    print("fork", trial, mine == key, status == 0)
"""
shell_out = subprocess.run(
    [sys.executable, "-c", NO_WORKER, extension, CORRUPTING[0], *derived[0], *derived[1]],
    capture_output=True, text=True)
lines = shell_out.stdout.splitlines()
expect("no worker: status", (shell_out.returncode, shell_out.stderr), (0, ""))
expect("no worker: before, and the corrupting InChI", lines[:2], ["True", "0"])
expect("no worker: the call fails", lines[2:3],
       ["the structure call failed: no worker process for structure calls could start "
        "(pipe: Too many open files)"])
expect("no worker: after", lines[3:4], ["0 True"])
expect("no worker: across forks", lines[4:], [f"fork {t} True True" for t in range(20)])

# Out of memory is SQLite's error, never a crash: a long text keyed under
# address-space limits from below to above what the key call needs, each in
# a fresh interpreter (a used one has freed memory that no limit counts). The
# library leaves one of its allocations unchecked; without the room asked
# first, a band of these limits ended in SIGSEGV.
UNDER_LIMIT = """
import resource, sqlite3, sys
extension, text, room = sys.argv[1], sys.argv[2] + "/h" * 4_000_000, int(sys.argv[3])
c = sqlite3.connect(":memory:")
c.enable_load_extension(True)
c.load_extension(extension)
with open("/proc/self/status") as f:
    size = next(int(l.split()[1]) for l in f if l.startswith("VmSize:")) * 1024
resource.setrlimit(resource.RLIMIT_AS, (size + room, size + room))
try:
    print("keyed" if c.execute("SELECT inchikey(?)", (text,)).fetchone()[0] else "no key")
except MemoryError:
    print("out of memory")
"""


def keyed_under_limit(room):
    done = subprocess.run([sys.executable, "-c", UNDER_LIMIT, extension, standard_inchi, str(room)],
                          capture_output=True, text=True)
    return done.stdout.strip() if done.returncode == 0 else f"status {done.returncode}"


long_bytes = len(standard_inchi) + 8_000_000
outcomes = [keyed_under_limit(quarter * long_bytes // 4) for quarter in range(56)]
expect("long keys under limits: the outcomes",
       sorted(set(outcomes)), ["keyed", "out of memory"])
expect("long keys under limits: out of memory, then keyed", (outcomes[0], outcomes[-1]),
       ("out of memory", "keyed"))

# The sqlite3 shell: .load, keys, a verdict, an index, the error of a number.
sample = rows[::500]
script = f".load {extension}\n.bail on\nCREATE TABLE t(inchi TEXT, key TEXT);\n"
script += "".join("INSERT INTO t VALUES ('{}', '{}');\n".format(i.replace("'", "''"), k)
                  for i, k in sample)
script += ("CREATE INDEX t_key ON t(inchikey(inchi));\n"
           "SELECT count(*) FROM t WHERE inchikey(inchi) IS NOT key;\n"
           "SELECT count(*) FROM t WHERE inchikey_verdict(inchi, 'InChIKey=' || key) = 'agree';\n"
           "SELECT inchi_valid('InChI=1S/CH4/h1H4/garbage', 'structure');\n"
           "SELECT molstamp_version();\n"
           "SELECT inchikey(7);\n")
shell = subprocess.run(["sqlite3", ":memory:"], input=script, capture_output=True, text=True)
expect("shell output", shell.stdout.splitlines(),
       ["0", str(len(sample)), "0", one("SELECT molstamp_version()")])
expect("shell error", "inchikey() takes text or a blob, not an integer" in shell.stderr, True)
expect("shell status", shell.returncode != 0, True)

if failures:
    print("\n".join(failures[:40]), file=sys.stderr)
    sys.exit(1)
print(f"sqlite: {len(rows)} keys, {len(derived)} standard keys, verdicts, differences, "
      "validation, a generated column and an index, in Python and the shell")
