#!/usr/bin/python3
"""README's Dask recipe, run as written on a local cluster of two worker
processes: the key column it writes must be the tool's, row for row.

    dask_recipe.py README MOLSTAMP_BINARY CROSSCHECK_TSV_GZ

The cross-check set, with rows that get no key, is cut into gzip files, one
partition each; the recipe's code block (which docs/more-than-one-machine.md
must show alike) is run with its scheduler address replaced by the local
cluster's. The cluster runs in a child process marked
in its environment, so that any process it leaves behind is found (and
ended) however the child ended.
"""
import glob
import gzip
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import uuid

PARTS = 5
SCHEDULER = '"tcp://scheduler:8786"'
MARK = "MOLSTAMP_DASK_RECIPE"


def python_block(path, heading):
    """The one Python block under heading (up to the next heading)."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    section = re.search(f"^{re.escape(heading)}\n(.*?)(?=^##|\\Z)", text, re.M | re.S)
    blocks = re.findall(r"^```python\n(.*?)^```", section.group(1), re.M | re.S) if section else []
    if len(blocks) != 1:
        sys.exit(f"dask_recipe: {path} needs one python block under {heading!r}")
    return blocks[0]


def recipe(readme):
    """README's recipe, which docs/more-than-one-machine.md repeats."""
    code = python_block(readme, "### Dask")
    if code.count(SCHEDULER) != 1:
        sys.exit(f"dask_recipe: README's Dask block must name {SCHEDULER} once")
    docs = os.path.join(os.path.dirname(readme), "docs", "more-than-one-machine.md")
    if python_block(docs, "## Dask") != code:
        sys.exit(f"dask_recipe: {docs} shows another recipe than README's")
    return code


def run_cluster(code, report):
    """In the marked child: the recipe on LocalCluster, with the workers that
    ran its key tasks written to report."""
    import distributed
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None, scheduler_port=0,
                                  local_directory=os.getcwd()) as cluster, \
            distributed.Client(cluster) as client:
        client.wait_for_workers(2, timeout=60)
        with distributed.get_task_stream(client) as stream:
            exec(compile(code.replace(SCHEDULER, repr(cluster.scheduler_address)), "README.md",
                         "exec"), {"__name__": "__main__"})
        tasks = [(t["key"], t["worker"]) for t in stream.data if t.get("status") == "OK"]
        workers = list(cluster.workers.values())
        pids = {w.worker_address: w.process.pid for w in workers}
    with open(report, "w") as f:
        json.dump({"tasks": tasks, "pids": pids}, f)


def leftovers(mark):
    """Processes other than this one whose environment holds mark."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as f:
                if mark.encode() in f.read().split(b"\0"):
                    found.append(int(entry))
        except OSError:
            pass
    return found


def main():
    readme, tool, reference = sys.argv[1:4]
    code = recipe(readme)
    with gzip.open(reference, "rt", encoding="ascii") as f:
        inchis = [line.split("\t")[0] for line in f if not line.startswith("#")]
    # Rows without a key: a string the library refuses, an empty field, a
    # field that is no candidate; spread over the parts.
    for at, bad in ((17, "InChI=1S/"), (5000, ""), (9000, "not an InChI"), (13000, "InChI=1/")):
        inchis.insert(at, bad)
    rows = [f"{i + 1}\t{inchi}\n" for i, inchi in enumerate(inchis)]

    failures = []
    with tempfile.TemporaryDirectory() as work:
        os.chdir(work)
        with open("table.tsv", "w", encoding="ascii") as f:
            f.write("id\tinchi\n" + "".join(rows))
        subprocess.run([tool, "-H", "-t", "2", "-n", "table.tsv", "keys.txt"], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open("keys.txt", encoding="ascii") as f:
            wanted = f.read().splitlines()[1:]
        if sum(key == "" for key in wanted) != 4:
            failures.append("the tool keyed a row meant to get no key")
        # Parts of unequal sizes, in gzip.
        os.mkdir("parts")
        cuts = [0, 1000, 3500, 7000, 12000, len(rows)]
        for p in range(PARTS):
            with gzip.open(f"parts/part-{p}.tsv.gz", "wt", encoding="ascii") as f:
                f.write("id\tinchi\n" + "".join(rows[cuts[p]:cuts[p + 1]]))

        mark = uuid.uuid4().hex
        env = dict(os.environ, **{MARK: mark})
        try:
            subprocess.run([sys.executable, __file__, "--cluster", "report.json"], input=code,
                           text=True, env=env, check=True, timeout=240)
        finally:
            # The child's helpers may take a moment to see it gone.
            deadline = time.monotonic() + 15
            while leftovers(f"{MARK}={mark}") and time.monotonic() < deadline:
                time.sleep(0.2)
            left = leftovers(f"{MARK}={mark}")
            for pid in left:
                os.kill(pid, signal.SIGKILL)
            if left:
                failures.append(f"processes left running by the cluster: {left}")

        with open("report.json", encoding="utf-8") as f:
            report = json.load(f)
        keyed = [task for task in report["tasks"] if "keyed" in str(task[0])]
        if len(keyed) != PARTS:
            failures.append(f"{len(keyed)} key tasks, wanted one per part ({PARTS})")
        if {worker for _, worker in keyed} != set(report["pids"]):
            failures.append(f"the key tasks did not run on both workers: {keyed}")
        if len(set(report["pids"].values())) != 2:
            failures.append(f"not two worker processes: {report['pids']}")

        outputs = sorted(glob.glob("keyed/*.tsv"), key=lambda p: int(re.sub(r"\D", "", p)))
        got_rows, got_keys = [], []
        for path in outputs:
            with open(path, encoding="ascii") as f:
                lines = f.read().splitlines()
            if lines[0] != "id\tinchi\tinchikey":
                failures.append(f"{path}: header {lines[0]!r}")
            for line in lines[1:]:
                *row, key = line.split("\t")
                got_rows.append("\t".join(row) + "\n")
                got_keys.append(key)
        if len(outputs) != PARTS:
            failures.append(f"{len(outputs)} output files, wanted {PARTS}")
        if got_rows != rows:
            failures.append("the rows written are not the rows read")
        differ = [i for i, (a, b) in enumerate(zip(got_keys, wanted)) if a != b]
        if len(got_keys) != len(wanted) or differ:
            failures.append(f"{len(got_keys)} keys against the tool's {len(wanted)}, "
                            f"{len(differ)} differ (first rows: {differ[:5]})")
        os.chdir("/")
    for failure in failures:
        print("dask_recipe:", failure, file=sys.stderr)
    if failures:
        sys.exit(1)
    print(f"dask_recipe: {len(wanted)} rows in {PARTS} gzip parts on 2 worker processes, "
          "the tool's key column")


if __name__ == "__main__":
    if sys.argv[1:2] == ["--cluster"]:
        run_cluster(sys.stdin.read(), sys.argv[2])
    else:
        main()
