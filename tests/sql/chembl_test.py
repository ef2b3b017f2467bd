#!/usr/bin/python3
"""The queries of examples/chembl-queries.sql on the table that
tools/make_chembl_sqlite.py builds, against what the script says it damaged
and the keys the tool computes.

    chembl_test.py MOLSTAMP_BINARY sqlite EXTENSION
    chembl_test.py MOLSTAMP_BINARY postgresql CLUSTER_STATE

A database is an engine, as the class SQLite below:
  name       'sqlite' or 'postgresql': which key_column statement it runs;
  load(path) fills it from the script's SQL text (--sql);
  rows(sql)  runs one or more statements and gives the rows of all of them,
             as tuples of str (numbers as their text) with None for NULL and
             '' for an empty string; it raises on an error or any message.
check(engine, ...) runs the queries on one engine; run() picks the engine.
"""
import json
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "tools", "make_chembl_sqlite.py")
QUERIES = os.path.join(ROOT, "examples", "chembl-queries.sql")
README = os.path.join(ROOT, "README.md")
failures = []


def expect(what, got, wanted):
    if got != wanted:
        failures.append(f"{what}: got {got!r}, wanted {wanted!r}")


def text(value):
    return None if value is None else str(value)


class SQLite:
    """The sqlite3 shell on a database file, the extension loaded."""
    name = "sqlite"

    def __init__(self, extension, path):
        self.extension, self.path = extension, path

    def load(self, sql_path):
        if os.path.exists(self.path):
            os.unlink(self.path)
        with open(sql_path, encoding="utf-8") as f:
            self.rows(f.read())

    def rows(self, sql):
        shell = subprocess.run(["sqlite3", "-bail", "-cmd", f".load {self.extension}",
                                "-cmd", ".mode json", self.path],
                               input=sql, capture_output=True, text=True, timeout=60)
        if shell.returncode != 0 or shell.stderr:
            raise RuntimeError(f"sqlite3: {shell.stderr.strip()} (status {shell.returncode})")
        # JSON mode writes an array for each statement that gives rows.
        found, out, at = [], shell.stdout, 0
        decoder = json.JSONDecoder()
        while out[at:].strip():
            while out[at].isspace():
                at += 1
            array, at = decoder.raw_decode(out, at)
            found += [tuple(text(v) for v in row.values()) for row in array]
        return found


class PostgreSQL:
    """psql on a fresh database of the test cluster, the extension created."""
    name = "postgresql"

    def __init__(self, state):
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        from pg import new_database
        self.db = new_database(state, "molstamp_chembl")

    def load(self, sql_path):
        with open(sql_path, encoding="utf-8") as f:
            self.rows(f.read())

    def rows(self, sql):
        return [tuple(row) for row in self.db.rows(sql)]


def queries():
    """The statements of the queries file by the name that begins the comment
    above each ('wrong_keys', 'key_column (SQLite)', ...)."""
    named, name, lines = {}, None, []
    with open(QUERIES, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("-- ") and not lines:
                found = re.match(r"-- ([a-z_]+(?: \([A-Za-z]+\))?): ", line)
                if found:
                    name = found.group(1)
            elif line and not line.startswith("--"):
                lines.append(line)
                if line.endswith(";"):
                    named[name] = "\n".join(lines)
                    name, lines = None, []
    return named


def script(*args):
    return subprocess.run(["/usr/bin/python3", SCRIPT, *args], capture_output=True, text=True,
                          check=True, timeout=60).stdout


def tool_keys(tool, work, rows, *switches):
    """molregno -> the tool's key of that row's InChI (None for none)."""
    table = os.path.join(work, "inchis.tsv")
    with open(table, "w", encoding="utf-8") as f:
        for molregno, inchi in rows:
            f.write(f"{molregno}\t{inchi or ''}\n")
    out = subprocess.run([tool, *switches, "-n", "-t", "2", table, "-"], capture_output=True,
                         text=True, timeout=60).stdout.split("\n")[:-1]
    expect(f"tool keys {switches}", len(out), len(rows))
    return {m: k or None for (m, _), k in zip(rows, out)}


def check(engine, tool, work, damage):
    """The three queries on engine, loaded with the script's rows."""
    what = f"{engine.name}:"
    named = {name.lower(): sql for name, sql in queries().items()}
    wrong = sorted(m for m, problem in damage if problem == "wrong key")
    flagged = sorted((m, p) for m, p in damage if p != "wrong key")

    def rows(sql):  # molregno, the first column, as a number
        return [(int(r[0]),) + r[1:] for r in engine.rows(sql)]

    table = rows("SELECT molregno, standard_inchi, standard_inchi_key "
                 "FROM compound_structures ORDER BY molregno")
    stored = {m: k for m, _, k in table}
    computed = tool_keys(tool, work, [(m, i) for m, i, _ in table])
    valid = tool_keys(tool, work, [(m, i) for m, i, _ in table], "--validate=structure")

    # What the script says it did is what the rows hold, by the tool's keys.
    expect(f"{what} stored keys that differ from the tool's",
           sorted(m for m in stored if stored[m] != computed[m]), wrong)
    expect(f"{what} InChIs the tool refuses under --validate=structure",
           sorted(m for m in stored if valid[m] is None),
           sorted(m for m, p in flagged if p == "invalid"))

    found = rows(named["wrong_keys"])
    expect(f"{what} wrong_keys", [r[0] for r in found], wrong)
    expect(f"{what} wrong_keys' columns",
           [(m, s, k) for m, s, k, _ in found], [(m, stored[m], computed[m]) for m in wrong])
    expect(f"{what} not_standard", rows(named["not_standard"]), flagged)

    engine.rows(named[f"key_column ({engine.name})"])
    column = "SELECT molregno, computed_inchi_key FROM compound_structures ORDER BY molregno"
    expect(f"{what} key column", dict(rows(column)), computed)
    # The key follows its InChI: the cut one mended from the row it was cut
    # from (same stored key), and one emptied.
    cut = next(m for m, p in flagged if p == "invalid" and computed[m] is not None)
    source = next(m for m in stored if m != cut and stored[m] == stored[cut])
    emptied = next(m for m in stored if m not in wrong)
    engine.rows(f"UPDATE compound_structures SET standard_inchi = "
                f"(SELECT standard_inchi FROM compound_structures WHERE molregno = {source}) "
                f"WHERE molregno = {cut};\n"
                f"UPDATE compound_structures SET standard_inchi = NULL WHERE molregno = {emptied};")
    expect(f"{what} key column after updates", dict(rows(column)),
           {**computed, cut: computed[source], emptied: None})
    expect(f"{what} wrong_keys after updates", [r[0] for r in rows(named["wrong_keys"])],
           sorted([m for m in wrong if m != cut] + [emptied]))


def main():
    tool, kind, extension = sys.argv[1:4]
    with tempfile.TemporaryDirectory(prefix="molstamp-chembl-") as work:
        run(tool, kind, extension, work)
    if failures:
        print("\n".join(failures[:40]), file=sys.stderr)
        sys.exit(1)
    print(f"chembl: wrong keys, non-standard and invalid InChIs and a key column in {kind}, "
          "as the script damaged the rows")


def run(tool, kind, extension, work):
    sql_path = os.path.join(work, "chembl.sql")
    db_path = os.path.join(work, "chembl.db")
    record = script("--sql", sql_path)
    expect("the record of both forms", script(db_path), record)
    damage = [(int(m), p) for m, p, _ in (line.split("\t") for line in record.splitlines())]
    expect("kinds of damage", sorted({p for _, p in damage}),
           ["invalid", "non-standard", "wrong key"])

    named = queries()
    expect("queries", sorted(named), ["key_column (PostgreSQL)", "key_column (SQLite)",
                                      "not_standard", "wrong_keys"])
    with open(README, encoding="utf-8") as f:
        readme = f.read()
    for name, sql in named.items():
        expect(f"README shows {name}", sql in readme, True)

    if kind == "sqlite":
        engine = SQLite(extension, db_path)  # the script's own file
        from_sql = SQLite(extension, os.path.join(work, "from-sql.db"))
        from_sql.load(sql_path)
        everything = "SELECT * FROM compound_structures ORDER BY molregno"
        expect("the SQLite file holds the SQL's rows", engine.rows(everything),
               from_sql.rows(everything))
    elif kind == "postgresql":
        engine = PostgreSQL(extension)  # here, the cluster's state file
        engine.load(sql_path)
    else:
        sys.exit(f"chembl_test: no engine {kind}")
    check(engine, tool, work, damage)


if __name__ == "__main__":
    main()
