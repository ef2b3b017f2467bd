#!/usr/bin/python3
"""README's Dask recipe on a local cluster of two worker processes (one
thread each) against molstamp.inchikeys(threads=1) in one process: wall-clock
time on 1,000,000 InChI strings, the cross-check set's repeated.

Build first with `cmake --workflow --preset release`, then run with Debian's
interpreter: /usr/bin/python3 bench/dask_bench.py [--pairs 3]. Each round
runs the one-process measures in a fresh interpreter, then starts a fresh
cluster in another and times, on it:

- start-up: LocalCluster and Client, until both workers are there;
- keys in the workers: the partitions read into the workers' memory first
  (not timed), then map_partitions with inchikeys(threads=1), the keyed
  partitions kept there (persist); what inchikeys on a list in memory does,
  spread over the cluster;
- the recipe: README's block as written, gzip parts read and keyed tables
  written by the workers; against the same steps, file after file, in one
  process;
- from the client: the strings in a pandas Series on the client, sent with
  from_pandas, keyed, the key column brought back (compute).

Not part of CI.
"""
import argparse
import gzip
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCHEDULER = '"tcp://scheduler:8786"'


def recipe():
    """README's Dask block, as the python_dask test runs it."""
    sys.path.insert(0, os.path.join(ROOT, "tests", "python"))
    import dask_recipe
    return dask_recipe.recipe(os.path.join(ROOT, "README.md"))


def strings(path):
    with open(path, encoding="ascii") as f:
        return f.read().splitlines()


def one_process(work, threads):
    """inchikeys on the list in memory, and the recipe's steps on each part
    in turn with pandas."""
    import pandas
    import molstamp
    inchis = strings(os.path.join(work, "in.inchi"))
    wall = time.perf_counter()
    keys = molstamp.inchikeys(inchis, threads=threads)
    wall = time.perf_counter() - wall
    assert len(keys) == len(inchis) and keys[0] is not None
    if threads != 1:
        return {"list": wall}
    out = os.path.join(work, "one")
    shutil.rmtree(out, ignore_errors=True)
    os.mkdir(out)
    parts = sorted(os.listdir(os.path.join(work, "parts")))
    files = time.perf_counter()
    for i, name in enumerate(parts):
        part = pandas.read_csv(os.path.join(work, "parts", name), sep="\t", dtype=str)
        part = part.assign(inchikey=molstamp.inchikeys(part["inchi"], threads=1))
        part.to_csv(os.path.join(out, f"{i}.tsv"), sep="\t", index=False)
    files = time.perf_counter() - files
    return {"list": wall, "files": files}


def on_cluster(work, parts):
    import dask.dataframe as dd
    import distributed
    import pandas
    import molstamp

    def keyed(part):
        return part.assign(inchikey=molstamp.inchikeys(part["inchi"], threads=1))

    code = recipe()
    result = {}
    os.chdir(work)
    start = time.perf_counter()
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None, scheduler_port=0,
                                  local_directory=work) as cluster, \
            distributed.Client(cluster) as client:
        client.wait_for_workers(2)
        result["startup"] = time.perf_counter() - start

        table = dd.read_csv("parts/*.tsv.gz", sep="\t", dtype=str, blocksize=None).persist()
        distributed.wait(table)
        wall = time.perf_counter()
        done = table.map_partitions(keyed).persist()
        distributed.wait(done)
        result["workers"] = time.perf_counter() - wall
        del table, done

        shutil.rmtree("keyed", ignore_errors=True)
        wall = time.perf_counter()
        exec(compile(code.replace(SCHEDULER, repr(cluster.scheduler_address)), "README.md",
                     "exec"), {"__name__": "__main__"})
        result["files"] = time.perf_counter() - wall

        series = pandas.Series(strings(os.path.join(work, "in.inchi")), name="inchi")
        wall = time.perf_counter()
        keys = dd.from_pandas(series.to_frame(), npartitions=parts).map_partitions(keyed)
        keys = keys["inchikey"].compute()
        result["client"] = time.perf_counter() - wall
        assert len(keys) == len(series)
    return result


def child(what, work, parts):
    result = on_cluster(work, parts) if what == "cluster" else one_process(work, int(what))
    print(json.dumps(result))


def run(build, what, work, parts):
    env = dict(os.environ, PYTHONPATH=os.path.join(build, "python"))
    out = subprocess.run([sys.executable, __file__, "--child", what, "--parts", str(parts), work],
                         check=True, capture_output=True, text=True, env=env).stdout
    return json.loads(out.splitlines()[-1])


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--build", default=os.path.join(ROOT, "build/release"))
    p.add_argument("--seed", default=os.path.join(ROOT, "tests/data/crosscheck.tsv.gz"))
    p.add_argument("--lines", type=int, default=1_000_000)
    p.add_argument("--parts", type=int, default=8, help="gzip files, one partition each")
    p.add_argument("--pairs", type=int, default=3, help="rounds")
    p.add_argument("--child", help=argparse.SUPPRESS)
    p.add_argument("work", nargs="?", help=argparse.SUPPRESS)
    a = p.parse_args()
    if a.child is not None:
        return child(a.child, a.work, a.parts)
    with gzip.open(a.seed, "rt", encoding="ascii") as f:
        seed = [line.split("\t")[0] for line in f if not line.startswith("#")]
    lines = [seed[i % len(seed)] for i in range(a.lines)]
    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(work, "in.inchi"), "w", encoding="ascii") as f:
            f.write("\n".join(lines) + "\n")
        os.mkdir(os.path.join(work, "parts"))
        step = -(-len(lines) // a.parts)
        for p_ in range(a.parts):
            rows = "".join(f"{i + 1}\t{lines[i]}\n"
                           for i in range(p_ * step, min(len(lines), (p_ + 1) * step)))
            with gzip.open(os.path.join(work, "parts", f"part-{p_:02d}.tsv.gz"), "wt",
                           encoding="ascii", compresslevel=6) as f:
                f.write("id\tinchi\n" + rows)
        rounds = []
        for i in range(a.pairs):
            order = ["1", "cluster", "2"] if i % 2 == 0 else ["2", "cluster", "1"]
            rounds.append({what: run(a.build, what, work, a.parts) for what in order})

    def med(what, key):
        return statistics.median(r[what][key] for r in rounds)

    def ratio(num, den):
        return statistics.median(num(r) / den(r) for r in rounds)

    one = lambda r: r["1"]["list"]
    print(f"{a.lines:,} InChI strings in {a.parts} gzip parts; medians of {a.pairs} rounds, "
          "ratios within a round\n")
    print("| measure | value | reference | ratio | goal |")
    print("|---|---|---|---|---|")
    print(f"| keys in the workers (2 processes), wall vs `inchikeys(threads=1)` wall "
          f"| {med('cluster', 'workers'):.3f} s | {med('1', 'list'):.3f} s "
          f"| {ratio(lambda r: r['cluster']['workers'], one):.3f} | <= 0.65 |")
    print(f"| the same with the cluster's start-up "
          f"| {med('cluster', 'workers') + med('cluster', 'startup'):.3f} s "
          f"| {med('1', 'list'):.3f} s "
          f"| {ratio(lambda r: r['cluster']['workers'] + r['cluster']['startup'], one):.3f} "
          "| report |")
    print(f"| the cluster's start-up alone | {med('cluster', 'startup'):.3f} s | | | report |")
    print(f"| README's recipe (gzip parts in, keyed TSV out) vs its steps in one process "
          f"| {med('cluster', 'files'):.3f} s | {med('1', 'files'):.3f} s "
          f"| {ratio(lambda r: r['cluster']['files'], lambda r: r['1']['files']):.3f} | report |")
    print(f"| strings sent from the client, keys brought back, vs `inchikeys(threads=1)` "
          f"| {med('cluster', 'client'):.3f} s | {med('1', 'list'):.3f} s "
          f"| {ratio(lambda r: r['cluster']['client'], one):.3f} | report |")
    print(f"| the machine: `inchikeys(threads=2)` vs `threads=1`, one process "
          f"| {med('2', 'list'):.3f} s | {med('1', 'list'):.3f} s "
          f"| {ratio(lambda r: r['2']['list'], one):.3f} | report |")


if __name__ == "__main__":
    main()
