#!/usr/bin/python3
"""The PostgreSQL extension in a throwaway cluster (tests/sql/pg_cluster.sh),
against the crosscheck set's keys and the tool's own words.

    postgresql_test.py CLUSTER_STATE CROSSCHECK_TSV_GZ MOLSTAMP_BINARY
"""
import os
import subprocess
import sys
import tempfile
import time

from cases import (CAFFEINE, Reference, damaged_inchis, difference_model, difference_pairs,
                   malformed_difference_cases, tool_refusals, validity_cases, verdict_cases)
from pg import literal, new_database

state, reference, tool = sys.argv[1:4]
failures = []


def expect(what, got, wanted):
    if got != wanted:
        failures.append(f"{what}: got {got!r}, wanted {wanted!r}")


ref = Reference(reference)
rows, key_of, derived = ref.rows, ref.key_of, ref.derived
expect("non-standard InChIs", len(derived) > 6000, True)

db = new_database(state, "molstamp_functions")
with tempfile.TemporaryDirectory() as scratch:
    for name, table in [("ref", rows), ("derived", derived)]:
        path = os.path.join(scratch, name + ".tsv")
        with open(path, "w", encoding="utf-8") as f:
            f.writelines(f"{n}\t{i}\t{k}\n" for n, (i, k) in enumerate(table))
        db.rows(f"CREATE TABLE {name}(id int, inchi text, key text);\n"
                f"\\copy {name} FROM '{path}'\n")
expect("rows", db.one("SELECT count(*) FROM ref"), str(len(rows)))

# Every key of the set, as text and as bytea; -s's keys of non-standard InChIs.
for sql in [
    "SELECT count(*) FROM ref WHERE inchikey(inchi) IS DISTINCT FROM key",
    "SELECT count(*) FROM ref WHERE inchikey(convert_to(inchi, 'UTF8')) IS DISTINCT FROM key",
    "SELECT count(*) FROM derived WHERE inchikey_standard(inchi) IS DISTINCT FROM key",
    "SELECT count(*) FROM ref WHERE inchi LIKE 'InChI=1S/%' "
    "AND inchikey_standard(inchi) IS DISTINCT FROM key",
    "SELECT count(*) FROM ref WHERE inchikey_verdict(inchi, 'InChIKey=' || key) <> 'agree'",
]:
    expect(sql, db.one(sql), "0")

# NULL, what the library refuses, bytea with a NUL after the InChI.
standard_inchi, standard_key, non_standard = ref.standard_inchi, ref.standard_key, ref.non_standard
nul_after = literal(standard_inchi.encode() + b"\0trailing")
for call, wanted in [
    ("inchikey(NULL)", None),
    ("inchikey(NULL::bytea)", None),
    ("inchikey_standard(NULL)", None),
    ("inchi_valid(NULL)", None),
    ("inchi_valid(NULL, 'structure')", None),
    ("inchikey('InChI=1S/')", None),
    ("inchikey('')", None),
    ("inchikey('CCO')", None),
    ("inchikey_standard('InChI=1/')", None),
    ("inchikey_standard('CCO')", None),
    (f"inchikey({nul_after})", standard_key),
    (f"inchikey({literal(standard_inchi)}::varchar)", standard_key),
    (f"inchikey_standard({literal(non_standard.encode())})", derived[0][1]),
]:
    expect(call, db.one("SELECT " + call), wanted)

# Numbers and other types: a clear error with SQLSTATE 42804.
for call, wanted in [
    ("inchikey(42)", "inchikey() takes text or bytea, not integer"),
    ("inchikey(4.2)", "inchikey() takes text or bytea, not numeric"),
    ("inchikey(NULL::int)", "inchikey() takes text or bytea, not integer"),
    ("inchikey_standard(1)", "inchikey_standard() takes text or bytea, not integer"),
    ("inchi_valid(true)", "inchi_valid() takes text or bytea, not boolean"),
    ("inchi_valid('InChI=1S/CH4/h1H4', 1)", "inchi_valid() takes text or bytea, not integer"),
    ("inchikey_verdict(1, 'x')", "inchikey_verdict() takes text or bytea, not integer"),
    ("inchikey_verdict('InChI=1S/CH4/h1H4'::text, 'x'::bytea)",
     "inchikey_verdict() takes both arguments as text or both as bytea"),
    ("inchikey_difference(1.5, 'x')", "inchikey_difference() takes text or bytea, not numeric"),
    ("inchikey(ARRAY['InChI=1S/CH4/h1H4'])", "inchikey() takes text or bytea, not text[]"),
]:
    e = db.error("SELECT " + call)
    expect(call, (e.sqlstate, e.message) if e else None, ("42804", wanted))

# inchi_valid at both levels, and a level that is neither.
for inchi, syntax, structure in validity_cases(ref):
    syntax, structure = "t" if syntax else "f", "t" if structure else "f"
    got = db.rows(f"SELECT inchi_valid({literal(inchi)}), inchi_valid({literal(inchi)}, 'syntax'), "
                  f"inchi_valid({literal(inchi)}, 'structure')")
    expect(f"inchi_valid({inchi})", got, [[syntax, syntax, structure]])
for level in ["'bogus'", "''"]:
    e = db.error(f"SELECT inchi_valid({literal(CAFFEINE)}, {level})")
    expect(f"level {level}", (e.sqlstate, "'syntax' or 'structure'" in e.message) if e else None,
           ("22023", True))

# inchi_valid against the tool's --validate on the set's InChIs with damaged
# ones among them: the same InChIs refused at each level.
damaged = damaged_inchis(ref)
with tempfile.TemporaryDirectory() as scratch:
    lines = os.path.join(scratch, "inchis.txt")
    with open(lines, "w", encoding="utf-8") as f:
        f.writelines(inchi + "\n" for inchi in damaged)
    db.rows(f"CREATE TABLE damaged(line serial, inchi text);\n"
            f"\\copy damaged(inchi) FROM '{lines}'\n")
    for level in ["syntax", "structure"]:
        refused = tool_refusals(tool, damaged, level, scratch)
        got = db.rows(f"SELECT line FROM damaged WHERE NOT inchi_valid(inchi, '{level}') ORDER BY 1")
        expect(f"refused at {level}", [int(r[0]) for r in got], refused)
        expect(f"some refused at {level}, not all", 0 < len(refused) < len(damaged), True)

# Check mode's verdicts; not strict, so a NULL stored key is missing.
for inchi, stored, wanted in verdict_cases(ref):
    expect(f"verdict {inchi!r} {stored!r}",
           db.one(f"SELECT inchikey_verdict({literal(inchi)}, {literal(stored)})"), wanted)

# The difference column, on pairs of the set's keys against a model of the
# key's parts.
pairs = difference_pairs(ref)
expect("kinds of differences", len({difference_model(a, b) for a, b in pairs}) >= 4, True)
values = ",".join(f"({literal(a)}, {literal(b)})" for a, b in pairs)
got = db.rows(f"SELECT inchikey_difference(a, b) FROM (VALUES {values}) AS p(a, b)")
expect("differences", [r[0] for r in got], [difference_model(a, b) for a, b in pairs])
for stored, computed, wanted in malformed_difference_cases(ref):
    expect(f"difference {stored!r} {computed!r}",
           db.one(f"SELECT inchikey_difference({literal(stored)}, {literal(computed)})"), wanted)

# The markings the planner relies on, read back from pg_proc.
markings = db.rows("""
    SELECT p.proname || '(' || pg_get_function_identity_arguments(p.oid) || ')',
           p.provolatile, p.proisstrict, p.proparallel
    FROM pg_proc p JOIN pg_depend d ON d.objid = p.oid
    JOIN pg_extension e ON e.oid = d.refobjid AND e.extname = 'molstamp'
    WHERE p.prosrc <> 'molstamp_wrong_type' ORDER BY 1""")
wanted = []
for name, arguments, strict in [("inchi_valid", ["inchi {0}"], "t"),
                                ("inchi_valid", ["inchi {0}", "level text"], "t"),
                                ("inchikey", ["inchi {0}"], "t"),
                                ("inchikey_difference", ["stored {0}", "computed {0}"], "t"),
                                ("inchikey_standard", ["inchi {0}"], "t"),
                                ("inchikey_verdict", ["inchi {0}", "stored {0}"], "f")]:
    for t in ["bytea", "text"]:
        wanted.append([f"{name}({', '.join(a.format(t) for a in arguments)})", "i", strict, "s"])
wanted.append(["molstamp_version()", "s", "t", "s"])
expect("markings", markings, sorted(wanted))

# A parallel plan: the structure calls on two workers give what one backend
# gives, and the keys the set holds.
db.rows("CREATE TABLE many AS SELECT d.* FROM derived d, generate_series(1, 3); ANALYZE many;")
query = ("SELECT count(*), count(*) FILTER (WHERE inchikey_standard(inchi) IS DISTINCT FROM key), "
         "sum(hashtext(inchikey_standard(inchi) || inchikey(inchi))) FROM many")
parallel = ("SET max_parallel_workers_per_gather = 2; SET parallel_setup_cost = 0; "
            "SET parallel_tuple_cost = 0; SET min_parallel_table_scan_size = 0;\n")
plan = "\n".join(r[0] for r in db.rows(parallel + "EXPLAIN (ANALYZE, COSTS OFF) " + query))
expect("a Gather in the plan", "Gather" in plan, True)
expect("two workers launched", "Workers Launched: 2" in plan, True)
in_parallel = db.rows(parallel + query)
serial = db.rows("SET max_parallel_workers_per_gather = 0;\n" + query)
expect("parallel result", in_parallel, serial)
expect("rows and wrong keys", in_parallel[0][:2], [str(3 * len(derived)), "0"])
serial_plan = db.rows("SET max_parallel_workers_per_gather = 0; EXPLAIN (COSTS OFF) " + query)
expect("no Gather when serial", any("Gather" in r[0] for r in serial_plan), False)

# One worker process per backend, kept for the backend's life: twenty open
# cursors, each a call site of its own, and a hundred PL/pgSQL calls add no
# process; the worker ends with the backend.
def children_of(pid):
    found = []
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/status") as f:
                if f"PPid:\t{pid}\n" in f.read():
                    found.append(int(entry))
        except (OSError, ValueError):
            pass
    return found


session = subprocess.Popen(
    ["psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-d", "molstamp_functions"],
    stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=db.env)
cursors = "".join(f"DECLARE c{n} CURSOR FOR SELECT inchikey_standard(inchi) FROM derived; "
                  f"MOVE 1 IN c{n};\n" for n in range(20))
session.stdin.write("BEGIN;\n" + cursors + """
DO $$ DECLARE k text; BEGIN
  FOR n IN 1..100 LOOP SELECT inchikey_standard(inchi) INTO k FROM derived WHERE id = n; END LOOP;
END $$;
SELECT pg_backend_pid();
""")
session.stdin.flush()
backend = int(session.stdout.readline())
workers = children_of(backend)
session.stdin.write("COMMIT;\n")
session.stdin.close()
session.wait(timeout=60)
expect("worker processes of a backend", len(workers), 1)
for _ in range(100):
    if not any(os.path.exists(f"/proc/{w}") for w in workers):
        break
    time.sleep(0.05)
expect("workers left after the session", [w for w in workers if os.path.exists(f"/proc/{w}")], [])

# A stored generated column and an expression index, which IMMUTABLE allows.
db.rows("CREATE TABLE mol(inchi text, key text GENERATED ALWAYS AS (inchikey(inchi)) STORED);"
        "INSERT INTO mol(inchi) SELECT inchi FROM ref WHERE id % 10 = 0;"
        "INSERT INTO mol(inchi) VALUES ('not an InChI');"
        "CREATE INDEX mol_key ON mol (inchikey(inchi)); ANALYZE mol;")
expect("generated keys that differ",
       db.one("SELECT count(*) FROM mol JOIN ref USING (inchi) WHERE mol.key IS DISTINCT FROM ref.key"),
       "0")
expect("generated key of a non-InChI", db.one("SELECT key FROM mol WHERE inchi = 'not an InChI'"),
       None)
target_inchi, target_key = rows[100]
lookup = f"SELECT inchi FROM mol WHERE inchikey(inchi) = {literal(target_key)}"
plan = "\n".join(r[0] for r in db.rows("SET enable_seqscan = off; EXPLAIN " + lookup))
expect("lookup uses the index", "mol_key" in plan, True)
expect("lookup by key", db.one(lookup), target_inchi)

# The version: the tool's and the library's provenance, as --version says them.
tool_version = subprocess.run([tool, "--version"], capture_output=True, text=True,
                              check=True).stdout.splitlines()
expect("version", db.one("SELECT molstamp_version()"), ", ".join(tool_version[:2]))

# DROP EXTENSION takes every function with it.
db.rows("DROP TABLE mol; DROP EXTENSION molstamp;")
expect("functions left", db.one("SELECT count(*) FROM pg_proc WHERE proname LIKE 'inchi%'"), "0")

if failures:
    print("\n".join(failures[:40]), file=sys.stderr)
    sys.exit(1)
print(f"postgresql: {len(rows)} keys, {len(derived)} standard keys, verdicts, differences, "
      "validation, markings, a parallel plan, a generated column and an index")
