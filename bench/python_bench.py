#!/usr/bin/python3
"""The Python module against the tool: CPU, wall-clock time and memory of
molstamp.inchikeys on 1,000,000 InChI strings in a list, beside `molstamp -n`
on the same strings in a file, and a peer's single InChI-to-key call.

Build first with `cmake --workflow --preset release`, then run with Debian's
interpreter: /usr/bin/python3 bench/python_bench.py [--pairs 5]. Each module
measurement runs in a fresh child interpreter, so that its peak memory is its
own. Not part of CI.
"""
import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def rss_kib():
    """The resident memory of this process now."""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def child(build, path, threads):
    """One measurement: the strings of path read into a list, then keyed."""
    sys.path.insert(0, os.path.join(build, "python"))
    import molstamp
    with open(path, encoding="ascii") as f:
        inchis = f.read().splitlines()  # one str object per line, as a real list has
    input_bytes = sys.getsizeof(inchis) + sum(sys.getsizeof(s) for s in inchis)
    before = rss_kib()
    cpu = time.process_time()
    wall = time.perf_counter()
    keys = molstamp.inchikeys(inchis, threads=threads)
    wall = time.perf_counter() - wall
    cpu = time.process_time() - cpu
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    assert len(keys) == len(inchis) and keys[0] is not None
    print(json.dumps({"cpu": cpu, "wall": wall, "input": input_bytes,
                      "growth": (peak - before) * 1024, "n": len(inchis)}))


def module(build, path, threads):
    out = subprocess.run([sys.executable, __file__, "--child", str(threads), "--build", build,
                          path], check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def tool(build, path, work, jobs=1):
    """CPU and wall seconds of `molstamp -n -j jobs path out`."""
    out = os.path.join(work, "keys.txt")
    with open(os.devnull, "wb") as null:
        wall = time.perf_counter()
        proc = subprocess.Popen([os.path.join(build, "molstamp"), "-n", "-j", str(jobs), path, out],
                                stdout=null, stderr=null)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - wall
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"python_bench: molstamp exited with status {status}")
    return {"cpu": usage.ru_utime + usage.ru_stime, "wall": wall}


def peer(inchis):
    """Open Babel's per-key CPU seconds, or why there is none."""
    try:
        from openbabel import openbabel as ob
    except ImportError:
        return None, "not installed (apt-get install python3-openbabel)"
    ob.obErrorLog.SetOutputLevel(0)
    conv = ob.OBConversion()
    conv.SetInAndOutFormats("inchi", "inchikey")
    cpu = time.process_time()
    for s in inchis:
        mol = ob.OBMol()
        conv.ReadString(mol, s)
        conv.WriteString(mol)
    return (time.process_time() - cpu) / len(inchis), "Open Babel " + ob.OBReleaseVersion()


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--build", default=os.path.join(ROOT, "build/release"))
    p.add_argument("--seed", default=os.path.join(ROOT, "bench/data/nci-5k.inchi"))
    p.add_argument("--lines", type=int, default=1_000_000)
    p.add_argument("--pairs", type=int, default=5, help="rounds of tool, threads=1, threads=2")
    p.add_argument("--peer-lines", type=int, default=2000)
    p.add_argument("--child", type=int, help=argparse.SUPPRESS)
    p.add_argument("path", nargs="?", help=argparse.SUPPRESS)
    a = p.parse_args()
    if a.child is not None:
        return child(a.build, a.path, a.child)
    with open(a.seed, encoding="ascii") as f:
        seed = f.read().splitlines()
    lines = [seed[i % len(seed)] for i in range(a.lines)]
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "in.inchi")
        with open(path, "w", encoding="ascii") as f:
            f.write("\n".join(lines) + "\n")
        # The tool with -j2 too: how well two threads scale on the machine now.
        runs = {"tool": [], "tool2": [], 1: [], 2: []}
        for i in range(a.pairs):
            order = ["tool", 1, 2, "tool2"] if i % 2 == 0 else ["tool2", 2, 1, "tool"]
            for what in order:
                if what in (1, 2):
                    runs[what].append(module(a.build, path, what))
                else:
                    runs[what].append(tool(a.build, path, work, 2 if what == "tool2" else 1))
    med = {w: {k: statistics.median(r[k] for r in rs) for k in ("cpu", "wall")}
           for w, rs in runs.items()}
    # Ratios within a round, whose runs are minutes apart at most: other load
    # on the machine moves them less than it moves the times.
    cpu_ratio = statistics.median(m["cpu"] / t["cpu"] for m, t in zip(runs[1], runs["tool"]))
    wall_ratio = statistics.median(b["wall"] / a["wall"] for a, b in zip(runs[1], runs[2]))
    tool_ratio = statistics.median(b["wall"] / a["wall"]
                                   for a, b in zip(runs["tool"], runs["tool2"]))
    one = runs[1][0]
    n, input_mib = one["n"], one["input"] / 2**20
    growth = max(r["growth"] for r in runs[1] + runs[2]) / 2**20
    print(f"{n:,} InChI strings; medians of {a.pairs} rounds, ratios within a round\n")
    print("| measure | value | reference | ratio | goal |")
    print("|---|---|---|---|---|")
    print(f"| `inchikeys(threads=1)` CPU vs `molstamp -n` CPU | {med[1]['cpu']:.3f} s "
          f"| {med['tool']['cpu']:.3f} s | {cpu_ratio:.3f} | <= 1.15 |")
    print(f"| `threads=2` wall vs `threads=1` wall | {med[2]['wall']:.3f} s "
          f"| {med[1]['wall']:.3f} s | {wall_ratio:.3f} | <= 0.55 |")
    print(f"| the machine: `molstamp -n -j2` wall vs `-j1` wall | {med['tool2']['wall']:.3f} s "
          f"| {med['tool']['wall']:.3f} s | {tool_ratio:.3f} | report |")
    print(f"| peak RSS growth (largest) vs the list's size | {growth:.1f} MiB "
          f"| {input_mib:.1f} MiB | {growth / input_mib:.3f} | <= 2 |")
    print()
    per_key, name = peer(seed[:a.peer_lines])
    print("| one key, CPU | per key |")
    print("|---|---|")
    print(f"| `molstamp.inchikeys(..., threads=1)` | {med[1]['cpu'] / n * 1e6:.2f} us |")
    print(f"| `molstamp -n` | {med['tool']['cpu'] / n * 1e6:.2f} us |")
    if per_key is None:
        print(f"| peer: {name} | - |")
    else:
        print(f"| {name}, `OBConversion` inchi to inchikey, {a.peer_lines:,} strings "
              f"| {per_key * 1e6:.1f} us |")


if __name__ == "__main__":
    main()
