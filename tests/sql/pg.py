"""psql against the throwaway cluster of tests/sql/pg_cluster.sh: the tests'
one way into PostgreSQL (Debian's python3 has no driver for it)."""
import os
import shlex
import subprocess

NULL = None
_NULL_MARK = "\x02NULL\x02"
_FIELD = "\x1f"


def cluster_environment(state):
    """The environment psql needs for the cluster whose state file is state."""
    env = dict(os.environ)
    with open(state) as f:
        for line in f:
            name, _, value = line.rstrip("\n").partition("=")
            if name.startswith("PG"):
                env[name] = shlex.split(value)[0]
    return env


class SqlError(Exception):
    """A statement PostgreSQL refused: its SQLSTATE and message."""

    def __init__(self, sqlstate, message):
        super().__init__(f"{sqlstate}: {message}")
        self.sqlstate = sqlstate
        self.message = message


class Psql:
    """Runs SQL in one database of the cluster through psql."""

    def __init__(self, state, database="postgres"):
        self.env = cluster_environment(state)
        self.database = database

    def rows(self, sql):
        """The rows sql's statements print (SET, CREATE and the like print
        none), each a list of str or None; SqlError when a statement fails
        (the rest are not run)."""
        done = subprocess.run(
            ["psql", "-X", "-q", "-A", "-t", "-F", _FIELD, "-P", "null=" + _NULL_MARK,
             "-v", "ON_ERROR_STOP=1", "-v", "VERBOSITY=verbose", "-d", self.database],
            input=sql, capture_output=True, text=True, env=self.env, timeout=600)
        if done.returncode != 0:
            for line in done.stderr.splitlines():
                if line.startswith("psql:") and "ERROR:" in line:
                    line = line[line.index("ERROR:"):]
                if line.startswith("ERROR:"):
                    code, _, message = line[len("ERROR:"):].strip().partition(": ")
                    raise SqlError(code, message)
            raise RuntimeError(f"psql failed ({done.returncode}): {done.stderr}")
        out = []
        # split, not splitlines, which also cuts at the separators \x1c-\x1e.
        for line in done.stdout.split("\n")[:-1]:
            out.append([None if v == _NULL_MARK else v for v in line.split(_FIELD)])
        return out

    def one(self, sql):
        """The single value sql prints."""
        rows = self.rows(sql)
        if len(rows) != 1 or len(rows[0]) != 1:
            raise RuntimeError(f"one value wanted from {sql!r}, got {rows!r}")
        return rows[0][0]

    def error(self, sql):
        """The SqlError of sql, None when it succeeds."""
        try:
            self.rows(sql)
        except SqlError as e:
            return e
        return None


def literal(value):
    """value as an SQL literal: NULL, a string, or bytes as bytea."""
    if value is None:
        return "NULL"
    if isinstance(value, bytes):
        return "'\\x" + value.hex() + "'::bytea"
    return "'" + value.replace("'", "''") + "'"


def new_database(state, name):
    """A fresh database with the extension created in it, as a Psql."""
    admin = Psql(state)
    admin.rows(f"DROP DATABASE IF EXISTS {name}; CREATE DATABASE {name};")
    db = Psql(state, name)
    db.rows("CREATE EXTENSION molstamp;")
    return db
