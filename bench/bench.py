#!/usr/bin/env python3
"""Whole-process CPU time and peak memory of molstamp against its floors and peers.

Run through bench/run, which builds the tool first. Times are user + system
CPU seconds of the child process (wait4), so other load on the machine
matters less than with wall-clock time.
"""
import argparse
import gzip
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def measure(cmd, stdin=None, stdout=None, remove=None, feeder=None):
    """Runs cmd once; returns its CPU seconds (user + system), with those of
    the children it waited for (a shell's pipeline). The file remove is
    deleted first, so that no run pays for truncating an earlier output.
    feeder, a command, writes cmd's standard input through a pipe; its own
    time is not counted."""
    for path in (remove, stdout):
        if path and os.path.exists(path):
            os.unlink(path)
    feed = None
    if feeder:
        feed = subprocess.Popen(feeder, stdout=subprocess.PIPE)
    with open(stdin or os.devnull, "rb") as fin, open(stdout or os.devnull, "wb") as fout:
        proc = subprocess.Popen(cmd, stdin=feed.stdout if feed else fin, stdout=fout,
                                stderr=subprocess.DEVNULL)
        if feed:
            feed.stdout.close()
        _, status, usage = os.wait4(proc.pid, 0)
    if feed:
        feed.wait()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"bench: {' '.join(cmd)} exited with status {status}")
    return usage.ru_utime + usage.ru_stime


def measure_both(cmd, remove=None):
    """Runs cmd once; returns its (CPU seconds, wall-clock seconds)."""
    if remove and os.path.exists(remove):
        os.unlink(remove)
    with open(os.devnull, "rb") as fin, open(os.devnull, "wb") as fout:
        start = time.monotonic()
        proc = subprocess.Popen(cmd, stdin=fin, stdout=fout, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"bench: {' '.join(cmd)} exited with status {status}")
    return usage.ru_utime + usage.ru_stime, wall


def parallel_table(tool, stages, inchi, out, work, pairs):
    """-j2 against -j1: wall-clock and CPU time, memory, and the serial stages."""
    print("| workload (1 worker vs 2) | -j1 wall | -j2 wall | wall ratio | goal "
          "| -j1 CPU | -j2 CPU | CPU ratio | goal |")
    print("|---|---|---|---|---|---|---|---|---|")
    for name, target in (("InChI lines", out), ("InChI lines, .gz output", out + ".gz"),
                         ("InChI lines, .zst output", out + ".zst")):
        one, two = [], []
        for i in range(pairs):
            runs = [("1", one), ("2", two)]
            if i % 2:
                runs.reverse()
            for jobs, into in runs:
                into.append(measure_both([tool, "-j", jobs, inchi, target], remove=target))
        c1 = statistics.median(c for c, _ in one)
        c2 = statistics.median(c for c, _ in two)
        w1 = statistics.median(w for _, w in one)
        w2 = statistics.median(w for _, w in two)
        wall_goal, cpu_goal = ("<= 0.55", "<= 1.05") if target == out else ("report", "report")
        print(f"| {name} | {w1:.3f} s | {w2:.3f} s | {w2 / w1:.3f} | {wall_goal} "
              f"| {c1:.3f} s | {c2:.3f} s | {c2 / c1:.3f} | {cpu_goal} |")
    print()
    print("| peak resident memory | molstamp | goal |")
    print("|---|---|---|")
    for jobs in ("2", "8"):
        limit = 8 + 4 * int(jobs)
        print(f"| -j{jobs}, InChI file | {peak_rss([tool, '-j', jobs, inchi, out]) / 1024:.1f} MiB "
              f"| <= {limit} MiB |")
    print()
    gz = inchi + ".gz"
    zst = inchi + ".zst"
    if not os.path.exists(gz):
        subprocess.run(f"gzip -c {inchi} > {gz} && zstd -q -c {inchi} > {zst}", shell=True,
                       check=True)
    print("Serial stages alone (bench/stages.cpp):")
    print()
    print("```")
    sys.stdout.flush()
    subprocess.run([stages, inchi, gz, zst], check=True)
    print("```")


def peak_rss(cmd, stdin=None):
    """Peak resident memory in KiB, as /usr/bin/time reports it (a child of
    this script would inherit the script's own high-water mark)."""
    with open(stdin or os.devnull, "rb") as fin:
        report = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdin=fin,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                check=True).stderr
    return int(report.decode().strip().splitlines()[-1])


def paired(a, b, pairs):
    """Alternates a and b (callables returning CPU seconds) pairs times; returns
    the median time of each and the median of the pairs' ratios."""
    ta, tb, ratios = [], [], []
    for i in range(pairs):
        if i % 2 == 0:
            ra, rb = a(), b()
        else:
            rb, ra = b(), a()
        ta.append(ra)
        tb.append(rb)
        ratios.append(ra / rb)
    return statistics.median(ta), statistics.median(tb), statistics.median(ratios)


def make_inputs(seed, workdir, lines):
    seed_lines = open(seed, "rb").read().splitlines(keepends=True)
    inchi = os.path.join(workdir, "inchi.txt")
    lower = os.path.join(workdir, "lower.txt")
    with open(inchi, "wb") as out, open(lower, "wb") as low:
        for i in range(lines):
            line = seed_lines[i % len(seed_lines)]
            out.write(line)
            low.write(line.lower())  # "inchi=": never a candidate
    table = os.path.join(workdir, "table.tsv")
    table_lower = os.path.join(workdir, "table-lower.tsv")
    with open(table, "wb") as out, open(table_lower, "wb") as low:
        for i in range(lines):
            inchi_text = seed_lines[i % len(seed_lines)].rstrip(b"\r\n")
            row = b"%d\t%s\tcompound %d\n" % (i + 1, inchi_text, i + 1)
            out.write(row)
            low.write(row.lower())
    long_line = os.path.join(workdir, "long.txt")
    with open(long_line, "wb") as out:
        for _ in range(100):
            out.write(b"a" * (1000 * 1000))
    return inchi, lower, long_line, table, table_lower


def streams_table(tool, inchi, out, work, pairs):
    """Standard input, pipes and compressed files against the plain run."""
    gz = inchi + ".gz"
    zst = inchi + ".zst"
    subprocess.run(f"gzip -c {inchi} > {gz} && zstd -q -c {inchi} > {zst}", shell=True,
                   check=True)
    plain = lambda: measure([tool, inchi, out], remove=out)
    rows = []
    t, ref, r = paired(lambda: measure([tool, "-", out], stdin=inchi, remove=out), plain, pairs)
    rows.append(("molstamp - out < in", t, "molstamp in out", ref, r, "<= 1.03"))
    t, ref, r = paired(lambda: measure([tool, "-", out], feeder=["cat", inchi], remove=out),
                       plain, pairs)
    rows.append(("cat in | molstamp - out (molstamp's CPU)", t, "molstamp in out", ref, r,
                 "<= 1.03"))
    for packed, unpack, suffix in ((gz, "gzip", "gz"), (zst, "zstd", "zst")):
        decode = lambda: measure([unpack, "-dc", packed])
        t, ref, r = paired(lambda: measure([tool, packed, out], remove=out),
                           lambda: plain() + decode(), pairs)
        rows.append((f"molstamp in.{suffix} out", t,
                     f"molstamp in out + {unpack} -dc", ref, r, "<= 1.05"))
    for suffix, pack in (("gz", "gzip -c"), ("zst", "zstd -q -c")):
        packed_out = os.path.join(work, "out." + suffix)
        t, ref, r = paired(
            lambda: measure([tool, inchi, packed_out], remove=packed_out),
            lambda: measure(["sh", "-c", f"{tool} {inchi} - 2>/dev/null | {pack} > {packed_out}"],
                            remove=packed_out), pairs)
        rows.append((f"molstamp in out.{suffix}", t, f"molstamp in - | {pack}", ref, r,
                     "report"))
    print("| workload | molstamp | reference | ref. time | ratio | goal |")
    print("|---|---|---|---|---|---|")
    for name, t, ref_name, ref, r, goal in rows:
        print(f"| {name} | {t:.3f} s | {ref_name} | {ref:.3f} s | {r:.3f} | {goal} |")
    print()
    print("| peak resident memory | molstamp | goal |")
    print("|---|---|---|")
    for name, cmd, stdin in (("molstamp - out < in", [tool, "-", out], inchi),
                             ("molstamp in.gz out", [tool, gz, out], None),
                             ("molstamp in.zst out", [tool, zst, out], None),
                             ("molstamp in out.gz", [tool, inchi, out + ".gz"], None),
                             ("molstamp in out.zst", [tool, inchi, out + ".zst"], None)):
        print(f"| {name} | {peak_rss(cmd, stdin) / 1024:.1f} MiB | <= 8 MiB |")


def check_table(tool, seed, work, lines, pairs):
    """Check mode on a PubChem-like id, InChI, key table whose keys are 1 %
    wrong: CPU against annotating the same table, -j2 wall against -j1."""
    keyed = os.path.join(work, "keyed.tsv")
    table = os.path.join(work, "check.tsv")
    source = os.path.join(work, "check-source.tsv")
    seed_lines = open(seed, "rb").read().splitlines()
    with open(source, "wb") as out:
        for i in range(len(seed_lines)):
            out.write(b"%d\t%s\n" % (i + 1, seed_lines[i]))
    subprocess.run([tool, "-t", "2", source, keyed], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    rows = open(keyed, "rb").read().splitlines()
    with open(table, "wb") as out:
        for i in range(lines):
            row = rows[i % len(rows)]
            if i % 100 == 7:
                row = row[:-1] + (b"A" if row[-1:] != b"A" else b"B")
            out.write(row + b"\n")
    report = os.path.join(work, "report.tsv")
    annotated = os.path.join(work, "annotated.tsv")
    # Status 6 is the check's answer here, not a failure of the bench.
    check = lambda: measure(["sh", "-c", f"{tool} -c -t 2 {table} {report} >/dev/null 2>&1; "
                             f"test $? -eq 6"], remove=report)
    annotate = lambda: measure([tool, "-t", "2", table, annotated], remove=annotated)
    t_check, t_annotate, r = paired(check, annotate, pairs)
    print("| check mode (1 % of the keys wrong) | molstamp | reference | ratio | goal |")
    print("|---|---|---|---|---|")
    print(f"| -c -t 2 vs -t 2 annotation of the same table | {t_check:.3f} s "
          f"| {t_annotate:.3f} s | {r:.3f} | <= 1.05 |")
    walls = {}
    for jobs in ("1", "2"):
        times = []
        for _ in range(pairs):
            start = time.monotonic()
            subprocess.run([tool, "-j" + jobs, "-c", "-t", "2", table, report],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            times.append(time.monotonic() - start)
        walls[jobs] = statistics.median(times)
    print(f"| -c -t 2 -j2 vs -j1, wall | {walls['2']:.3f} s | {walls['1']:.3f} s "
          f"| {walls['2'] / walls['1']:.3f} | <= 0.55 |")
    rss = subprocess.run(["/usr/bin/time", "-f", "%M", tool, "-c", "-t", "2", table, report],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE).stderr
    print(f"| peak resident memory, -c -t 2 | {int(rss.decode().split()[-1]) / 1024:.1f} MiB "
          f"| | | <= 8 MiB |")


def csv_tables(tool, build, seed, work, lines, pairs):
    """CSV (-d , -t 2) against the TSV of the same content (-t 2): one line
    per record, and every record over two lines; -j2 against -j1."""
    seed_lines = open(seed, "rb").read().splitlines()
    tsv = os.path.join(work, "same.tsv")
    one = os.path.join(work, "one-line.csv")
    two = os.path.join(work, "two-lines.csv")
    with open(tsv, "wb") as t, open(one, "wb") as c1, open(two, "wb") as c2:
        for i in range(lines):
            inchi = seed_lines[i % len(seed_lines)]
            t.write(b"%d\t%s\tcompound %d\n" % (i + 1, inchi, i + 1))
            c1.write(b'%d,"%s",compound %d\n' % (i + 1, inchi, i + 1))
            c2.write(b'%d,"%s","compound\n%d"\n' % (i + 1, inchi, i + 1))
    out = os.path.join(work, "keyed.csv")
    on = lambda *args: (lambda: measure([tool, *args, out], remove=out))
    print("| CSV workload | molstamp | reference | ratio | goal |")
    print("|---|---|---|---|---|")
    for name, path, goal in (("id,\"InChI\",text vs the same TSV", one, "<= 1.05"),
                             ("every record over two lines vs the same TSV", two, "<= 1.10")):
        t, ref, r = paired(on("-d", ",", "-t", "2", path), on("-t", "2", tsv), pairs)
        print(f"| {name} | {t:.3f} s | {ref:.3f} s | {r:.3f} | {goal} |")
    walls = {}
    for jobs in ("1", "2"):
        times = []
        for _ in range(pairs):
            start = time.monotonic()
            measure([tool, "-j" + jobs, "-d", ",", "-t", "2", one, out], remove=out)
            times.append(time.monotonic() - start)
        walls[jobs] = statistics.median(times)
    print(f"| -d , -t 2, -j2 vs -j1 wall | {walls['2']:.3f} s | {walls['1']:.3f} s "
          f"| {walls['2'] / walls['1']:.3f} | <= 0.55 |")
    print(f"| peak resident memory, CSV | {peak_rss([tool, '-d', ',', '-t', '2', two, out]) / 1024:.1f}"
          f" MiB | | | <= 8 MiB |")
    scanners = os.path.join(build, "molstamp_csv_scanners")
    if os.path.exists(scanners):
        print()
        sys.stdout.flush()
        subprocess.run([scanners, one], check=True)


def limited(cmd, kib):
    """cmd under an address-space limit of kib KiB (ulimit -v)."""
    return ["sh", "-c", f"ulimit -v {kib} && exec \"$@\"", "sh"] + cmd


def edges_table(tool, inchi, out, work, pairs):
    """The edges: a 200 MB line under -j2 against -j1 (wall time, from a file
    and from a pipe); a reader that leaves early (how soon the run stops);
    -jN under an address-space limit against -j1 (CPU)."""
    long_line = os.path.join(work, "long200.txt")
    with open(long_line, "wb") as f:
        for _ in range(200):
            f.write(b"a" * (1000 * 1000))
        f.write(b"\nInChI=1S/H2O/h1H2\n")
    print("| 200 MB line | -j1 wall | -j2 wall | ratio | goal |")
    print("|---|---|---|---|---|")
    for name, cmd, feeder in (("from a file", [long_line, out], None),
                              ("from a pipe", ["-", out], ["cat", long_line])):
        walls = {}
        for jobs in ("1", "2"):
            times = []
            for _ in range(3):
                start = time.monotonic()
                measure([tool, "-j" + jobs] + cmd, remove=out, feeder=feeder)
                times.append(time.monotonic() - start)
            walls[jobs] = statistics.median(times)
        print(f"| {name} | {walls['1']:.2f} s | {walls['2']:.2f} s "
              f"| {walls['2'] / walls['1']:.2f} | <= 1.5 |")
    print()
    gz = inchi + ".gz"
    if not os.path.exists(gz):
        subprocess.run(f"gzip -c {inchi} > {gz}", shell=True, check=True)
    print("| a reader that leaves early: (trap '' PIPE; molstamp -jN in.gz -) \\| head -1 "
          "| wall | lines processed | status |")
    print("|---|---|---|---|")
    for jobs in ("1", "2", "8"):
        start = time.monotonic()
        subprocess.run(["sh", "-c", f"trap '' PIPE; {{ {tool} -j{jobs} {gz} - 2>{out}.err; "
                        f"echo $? > {out}.status; }} | head -1 >/dev/null"], check=True)
        wall = time.monotonic() - start
        done = [l for l in open(out + ".err") if l.startswith("Completed processing")]
        status = open(out + ".status").read().strip()
        print(f"| -j{jobs} | {wall:.2f} s | {done[0].strip() if done else '?'} | {status} |")
    print()
    print("| under ulimit -v 400000, 1 worker vs N | -j1 CPU | -jN CPU | ratio | goal |")
    print("|---|---|---|---|---|")
    for jobs in ("2", "16"):
        t1, tn, r = paired(lambda: measure(limited([tool, "-j1", inchi, out], 400000), remove=out),
                           lambda: measure(limited([tool, "-j" + jobs, inchi, out], 400000),
                                           remove=out), pairs)
        print(f"| -j{jobs} | {t1:.3f} s | {tn:.3f} s | {1 / r:.3f} | <= 1.2 |")


def decoders_table(tool, inchi, out, pairs):
    """bzip2, xz and lz4 input against the plain run plus the format's own
    decompressor, and their peak memory."""
    plain = lambda: measure([tool, inchi, out], remove=out)
    rows = []
    packed_files = []
    for suffix, pack, unpack in (("bz2", "bzip2 -c", "bzip2"), ("xz", "xz -T0 -c", "xz"),
                                 ("lz4", "lz4 -q -c", "lz4")):
        packed = f"{inchi}.{suffix}"
        subprocess.run(f"{pack} {inchi} > {packed}", shell=True, check=True)
        packed_files.append((suffix, packed))
        decode = lambda: measure([unpack, "-dc", packed])
        t, ref, r = paired(lambda: measure([tool, packed, out], remove=out),
                           lambda: plain() + decode(), pairs)
        rows.append((f"molstamp in.{suffix} out", t, f"molstamp in out + {unpack} -dc", ref, r,
                     "<= 1.05"))
    print("| workload | molstamp | reference | ref. time | ratio | goal |")
    print("|---|---|---|---|---|---|")
    for name, t, ref_name, ref, r, goal in rows:
        print(f"| {name} | {t:.3f} s | {ref_name} | {ref:.3f} s | {r:.3f} | {goal} |")
    print()
    print("| peak resident memory | molstamp |")
    print("|---|---|")
    for suffix, packed in packed_files:
        print(f"| molstamp in.{suffix} out | {peak_rss([tool, packed, out]) / 1024:.1f} MiB |")


def worker_hwm_kib(cmd):
    """Runs cmd, polling its child processes (the worker processes of the
    structure calls); returns the largest peak resident memory (VmHWM, KiB)
    any of them reached, 0 when it started none."""
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = 0
    while proc.poll() is None:
        try:
            tasks = os.listdir(f"/proc/{proc.pid}/task")
        except FileNotFoundError:
            break
        children = []
        for task in tasks:
            try:
                children += open(f"/proc/{proc.pid}/task/{task}/children").read().split()
            except OSError:
                pass
        for child in children:
            try:
                for line in open(f"/proc/{child}/status"):
                    if line.startswith("VmHWM:"):
                        peak = max(peak, int(line.split()[1]))
            except OSError:
                pass
        time.sleep(0.05)
    return peak


def wall_of(cmd, runs):
    """The median wall-clock seconds of runs runs of cmd (status 0 or 6)."""
    times = []
    for _ in range(runs):
        start = time.monotonic()
        subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.monotonic() - start)
    return statistics.median(times)


def qa_table(tool, inchi, crosscheck, work, pairs):
    """Identifier QA: --validate and -s against plain annotation (CPU), the
    structure calls on one and two worker processes (wall), check mode with
    the difference column, and a worker process's memory."""
    out = os.path.join(work, "qa-out.txt")
    rows = [line.split("\t") for line in
            subprocess.run(["sh", "-c", f"zcat {crosscheck} | grep -v '^#'"],
                           capture_output=True, text=True, check=True).stdout.splitlines()]
    non_standard = [r[0] for r in rows if r[0].startswith("InChI=1/")]
    ns_path = os.path.join(work, "non-standard.inchi")
    with open(ns_path, "w") as f:
        for i in range(20000):
            f.write(non_standard[i % len(non_standard)] + "\n")
    std_path = os.path.join(work, "standard-20k.inchi")
    with open(inchi) as src, open(std_path, "w") as f:
        for i, line in zip(range(20000), src):
            f.write(line)

    def cpu(args, path):
        return lambda: measure([tool] + args + [path, out], remove=out)

    t_val, t_plain, r_val = paired(cpu(["--validate"], inchi), cpu([], inchi), pairs)
    t_std, _, r_std = paired(cpu(["-s"], inchi), cpu([], inchi), pairs)
    print("| identifier QA | molstamp | reference | ratio | goal |")
    print("|---|---|---|---|---|")
    print(f"| --validate vs annotation, CPU | {t_val:.3f} s | {t_plain:.3f} s | {r_val:.3f} "
          f"| <= 1.10 |")
    print(f"| -s on standard InChIs vs annotation, CPU | {t_std:.3f} s | {t_plain:.3f} s "
          f"| {r_std:.3f} | <= 1.02 |")
    runs = max(3, pairs // 2)
    for label, args, path in (("-s on 20,000 non-standard InChIs", ["-s"], ns_path),
                              ("--validate=structure on 20,000 standard InChIs",
                               ["--validate=structure"], std_path)):
        w1 = wall_of([tool, "-j1"] + args + [path, out], runs)
        w2 = wall_of([tool, "-j2"] + args + [path, out], runs)
        print(f"| {label}, -j2 vs -j1 wall | {w2:.3f} s | {w1:.3f} s | {w2 / w1:.3f} | <= 0.62 |")
    keyed = os.path.join(work, "qa-keyed.tsv")
    table = os.path.join(work, "qa-check.tsv")
    with open(inchi) as src, open(table + ".src", "w") as f:
        for i, line in enumerate(src):
            f.write(f"{i + 1}\t{line}")
    subprocess.run([tool, "-t", "2", table + ".src", keyed], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(keyed) as src, open(table, "w") as f:
        for i, line in enumerate(src):
            if i % 100 == 7:
                line = line[:-2] + ("A" if line[-2] != "A" else "B") + "\n"
            f.write(line)
    report = os.path.join(work, "qa-report.tsv")
    check = lambda extra: lambda: measure(
        ["sh", "-c", f"{tool} -c {extra} -t 2 {table} {report} >/dev/null 2>&1; test $? -eq 6"],
        remove=report)
    t_diff, t_check, r_diff = paired(check("--difference"), check(""), pairs)
    print(f"| check mode with --difference vs without, CPU | {t_diff:.3f} s | {t_check:.3f} s "
          f"| {r_diff:.3f} | <= 1.02 |")
    worker = worker_hwm_kib([tool, "-j2", "-s", ns_path, out])
    thread = peak_rss([tool, "-j2", ns_path, out]) - peak_rss([tool, "-j1", ns_path, out])
    print(f"| peak resident memory of a worker process (-j2 -s) | {worker / 1024:.1f} MiB "
          f"| {thread / 1024:.1f} MiB (a worker thread: -j2 minus -j1) | | as a thread's |")


def sqlite_table(build, tool, crosscheck, work, pairs, rows=800_000):
    """The SQLite extension against the tool, serial: SELECT count(inchikey(inchi))
    over a table of rows real InChI strings (the crosscheck set's, repeated)
    against molstamp -n on the same strings as a file of lines; wall and CPU
    seconds, alternating pairs. The table is built before anything is timed."""
    import sqlite3
    extension = os.path.join(build, "sqlite", "molstamp")
    if not os.path.exists(extension + ".so"):
        print("| SQLite extension | not built (libsqlite3-dev missing) | |")
        return
    with gzip.open(crosscheck, "rt", encoding="utf-8") as f:
        strings = [line.split("\t")[0] for line in f if not line.startswith("#")]
    lines = os.path.join(work, "sqlite-inchi.txt")
    db_path = os.path.join(work, "sqlite-inchi.db")
    with open(lines, "w", encoding="utf-8") as f:
        for i in range(rows):
            f.write(strings[i % len(strings)] + "\n")
    db = sqlite3.connect(db_path)
    db.execute("CREATE TABLE t(inchi TEXT)")
    with open(lines, encoding="utf-8") as f:
        db.executemany("INSERT INTO t VALUES (?)", ((line.rstrip("\n"),) for line in f))
    db.commit()
    db.close()
    out = os.path.join(work, "sqlite-keys.txt")
    select = ["sqlite3", db_path, f".load {extension}", "SELECT count(inchikey(inchi)) FROM t"]
    keyed = [tool, "-n", lines, out]
    count = subprocess.run(select, capture_output=True, text=True, check=True).stdout.strip()
    subprocess.run(keyed, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(out, "rb") as f:
        tool_count = sum(1 for _ in f)
    if count != str(tool_count):
        sys.exit(f"bench: the extension counts {count} keys, the tool writes {tool_count}")
    os.sync()
    sql, cli = [], []
    for i in range(pairs):
        runs = [(select, None, sql), (keyed, out, cli)]
        if i % 2:
            runs.reverse()
        for cmd, remove, into in runs:
            into.append(measure_both(cmd, remove=remove))
    w_sql = statistics.median(w for _, w in sql)
    w_cli = statistics.median(w for _, w in cli)
    c_sql = statistics.median(c for c, _ in sql)
    c_cli = statistics.median(c for c, _ in cli)
    wall_ratio = statistics.median(s[1] / c[1] for s, c in zip(sql, cli))
    cpu_ratio = statistics.median(s[0] / c[0] for s, c in zip(sql, cli))
    print(f"| {rows:,} InChIs, serial | SQLite | molstamp -n | ratio | goal |")
    print("|---|---|---|---|---|")
    print(f"| wall | {w_sql:.3f} s | {w_cli:.3f} s | {wall_ratio:.3f} | <= 1.3 |")
    print(f"| CPU | {c_sql:.3f} s | {c_cli:.3f} s | {cpu_ratio:.3f} | report |")
    print()
    print(f"SQLite: `sqlite3 DB \".load {extension}\" \"{select[3]}\"` ({count} keys); "
          f"molstamp: `molstamp -n IN OUT`; {pairs} alternating pairs, medians "
          "(ratios: the median of the pairs' ratios).")


def postgresql_table(build, tool, crosscheck, work, pairs, rows=800_000):
    """The PostgreSQL extension against the tool: SELECT count(inchikey(inchi))
    over rows real InChI strings in one backend, and with two parallel
    workers, against molstamp -n on the same strings; wall seconds of psql
    (its connection included), alternating runs. The cluster is the tests'
    throwaway one (tests/sql/pg_cluster.sh), started and loaded before
    anything is timed and removed after."""
    pg_dir = os.path.join(build, "postgresql")
    if not os.path.exists(os.path.join(pg_dir, "molstamp.so")):
        print("| PostgreSQL extension | not built (postgresql-server-dev-15 missing) | |")
        return
    config = {k: subprocess.run(["pg_config", f"--{k}"], capture_output=True, text=True,
                                check=True).stdout.strip()
              for k in ["bindir", "sharedir", "pkglibdir"]}
    cluster = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "sql",
                           "pg_cluster.sh")
    state = os.path.join(work, "pg.state")
    subprocess.run([cluster, "start", state, build, config["bindir"], config["sharedir"],
                    config["pkglibdir"]], check=True, stdout=subprocess.DEVNULL)
    try:
        env = dict(os.environ)
        with open(state) as f:
            for line in f:
                name, _, value = line.rstrip("\n").partition("=")
                if name.startswith("PG"):
                    env[name] = value
        with gzip.open(crosscheck, "rt", encoding="utf-8") as f:
            strings = [line.split("\t")[0] for line in f if not line.startswith("#")]
        lines = os.path.join(work, "pg-inchi.txt")
        with open(lines, "w", encoding="utf-8") as f:
            for i in range(rows):
                f.write(strings[i % len(strings)] + "\n")
        psql = ["psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1"]
        subprocess.run(psql + ["-c", "CREATE EXTENSION molstamp", "-c", "CREATE TABLE t(inchi text)",
                               "-c", f"\\copy t FROM '{lines}'", "-c", "VACUUM ANALYZE t"],
                       env=env, check=True)
        query = "SELECT count(inchikey(inchi)) FROM t"
        serial = psql + ["-c", "SET max_parallel_workers_per_gather = 0", "-c", query]
        parallel = psql + ["-c", "SET max_parallel_workers_per_gather = 2", "-c", query]
        plan = subprocess.run(psql + ["-c", "SET max_parallel_workers_per_gather = 2", "-c",
                                      "EXPLAIN (ANALYZE, COSTS OFF) " + query],
                              env=env, capture_output=True, text=True, check=True).stdout
        if "Workers Launched: 2" not in plan:
            sys.exit(f"bench: no two parallel workers in the plan:\n{plan}")
        out = os.path.join(work, "pg-keys.txt")
        keyed = [tool, "-n", lines, out]
        counts = {subprocess.run(cmd, env=env, capture_output=True, text=True,
                                 check=True).stdout.strip() for cmd in (serial, parallel)}
        subprocess.run(keyed, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(out, "rb") as f:
            tool_count = sum(1 for _ in f)
        if counts != {str(tool_count)}:
            sys.exit(f"bench: the extension counts {counts} keys, the tool writes {tool_count}")

        def wall(cmd, remove=None):
            if remove and os.path.exists(remove):
                os.unlink(remove)
            start = time.monotonic()
            subprocess.run(cmd, env=env, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            return time.monotonic() - start

        # What two cores give at the same moments (the machine is shared):
        # the tool's own -j2 against its -j1.
        keyed2 = [tool, "-j2", "-n", lines, out]
        one, two, cli, cli2 = [], [], [], []
        for i in range(pairs):
            runs = [(serial, None, one), (parallel, None, two), (keyed, out, cli),
                    (keyed2, out, cli2)]
            if i % 2:
                runs.reverse()
            for cmd, remove, into in runs:
                into.append(wall(cmd, remove))
        w_one, w_two, w_cli, w_cli2 = (statistics.median(x) for x in (one, two, cli, cli2))
        print(f"| {rows:,} InChIs | PostgreSQL | against | its wall | ratio | goal |")
        print("|---|---|---|---|---|---|")
        print(f"| one backend | {w_one:.3f} s | molstamp -n | {w_cli:.3f} s | "
              f"{statistics.median(a / b for a, b in zip(one, cli)):.3f} | <= 1.3 |")
        print(f"| two parallel workers | {w_two:.3f} s | one backend | {w_one:.3f} s | "
              f"{statistics.median(a / b for a, b in zip(two, one)):.3f} | <= 0.6 |")
        print(f"| the machine: molstamp -j2 -n | {w_cli2:.3f} s | molstamp -n | {w_cli:.3f} s | "
              f"{statistics.median(a / b for a, b in zip(cli2, cli)):.3f} | report |")
        print()
        print(f"PostgreSQL {config['bindir'].split('/')[-2]}: `psql -c \"SET "
              f"max_parallel_workers_per_gather = 0|2\" -c \"{query}\"` ({tool_count} keys; "
              f"EXPLAIN ANALYZE: Gather, Workers Launched: 2); molstamp: `molstamp -n IN OUT`; "
              f"{pairs} alternating rounds, medians (ratios: the median of the rounds' ratios).")
    finally:
        subprocess.run([cluster, "stop", state], check=False)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True, help="release build directory")
    ap.add_argument("--seed", required=True, help="file of real InChI lines")
    ap.add_argument("--lines", type=int, default=1_000_000)
    ap.add_argument("--pairs", type=int, default=7)
    ap.add_argument("--peers", default="", help="folder with node_modules/@rdkit/rdkit")
    ap.add_argument("--sections",
                    default="plain,table,check,csv,streams,decoders,parallel,edges,qa,sqlite,"
                            "postgresql,peers",
                    help="which tables to measure, comma-separated")
    args = ap.parse_args()
    sections = args.sections.split(",")

    tool = os.path.join(args.build, "molstamp")
    floor = os.path.join(args.build, "molstamp_floor")
    work = tempfile.mkdtemp(prefix="molstamp-bench-")
    try:
        inchi, lower, long_line, table, table_lower = make_inputs(args.seed, work, args.lines)
        out = os.path.join(work, "out.txt")
        # Let the new files reach the disk now, not while a run is measured,
        # and warm the page cache for both sides.
        os.sync()
        for path in (inchi, lower):
            measure(["cat", path])
        n = args.lines

        t_tool = None
        if "plain" in sections:
            def tool_on(path):
                return lambda: measure([tool, path, out], remove=out)

            t_tool, t_floor, r_inchi = paired(
                tool_on(inchi), lambda: measure([floor, inchi]), args.pairs)
            t_copy, t_tr, r_copy = paired(
                tool_on(lower), lambda: measure(["tr", "\r", "\n"], stdin=lower, stdout=out),
                args.pairs)
            rss_inchi = peak_rss([tool, inchi, out])
            rss_copy = peak_rss([tool, lower, out])
            rss_long = peak_rss([tool, long_line, out])

            print(f"{n} lines, {args.pairs} alternating pairs, medians of CPU time (user + system)\n")
            print("| workload | molstamp | reference | ratio | goal |")
            print("|---|---|---|---|---|")
            print(f"| InChI lines vs floor (read all, key per line) | {t_tool:.3f} s "
                  f"| {t_floor:.3f} s | {r_inchi:.3f} | <= 1.05 |")
            print(f"| non-candidate lines vs tr | {t_copy:.3f} s | {t_tr:.3f} s "
                  f"| {r_copy:.3f} | <= 1.20 |")
            print()
            print("| peak resident memory | molstamp | goal |")
            print("|---|---|---|")
            print(f"| InChI file, {n} lines | {rss_inchi / 1024:.1f} MiB | <= 8 MiB |")
            print(f"| non-candidate file, {n} lines | {rss_copy / 1024:.1f} MiB | <= 8 MiB |")
            print(f"| one 100 MB line | {rss_long / 1024:.1f} MiB | <= 200 MB |")
            print()
        if "table" in sections:
            t_table, t_tfloor, r_table = paired(
                lambda: measure([tool, "-t", "2", table, out], remove=out),
                lambda: measure([floor, inchi]), args.pairs)
            t_tcopy, t_ttr, r_tcopy = paired(
                lambda: measure([tool, "-t", "2", table_lower, out], remove=out),
                lambda: measure(["tr", "\r", "\n"], stdin=table_lower, stdout=out), args.pairs)
            print("| table workload (-t 2) | molstamp | reference | ratio | goal |")
            print("|---|---|---|---|---|")
            print(f"| id, InChI, text vs floor on the bare InChI lines | {t_table:.3f} s "
                  f"| {t_tfloor:.3f} s | {r_table:.3f} | <= 1.05 |")
            print(f"| no candidate in field 2 vs tr | {t_tcopy:.3f} s | {t_ttr:.3f} s "
                  f"| {r_tcopy:.3f} | <= 1.20 |")
            print(f"| peak resident memory, table | "
                  f"{peak_rss([tool, '-t', '2', table, out]) / 1024:.1f} MiB | | | <= 8 MiB |")
            print()
        if "check" in sections:
            check_table(tool, args.seed, work, args.lines, args.pairs)
            print()
        if "csv" in sections:
            csv_tables(tool, args.build, args.seed, work, args.lines, args.pairs)
            print()
        if "streams" in sections:
            streams_table(tool, inchi, out, work, args.pairs)
            print()
        if "decoders" in sections:
            decoders_table(tool, inchi, out, args.pairs)
            print()
        if "parallel" in sections:
            print()
            parallel_table(tool, os.path.join(args.build, "molstamp_stages"), inchi, out, work,
                           args.pairs)
        if "edges" in sections:
            print()
            edges_table(tool, inchi, out, work, args.pairs)
            print()
        if "qa" in sections:
            crosscheck = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                      "data", "crosscheck.tsv.gz")
            qa_table(tool, inchi, crosscheck, work, args.pairs)
            print()
        if "sqlite" in sections:
            crosscheck = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                      "data", "crosscheck.tsv.gz")
            sqlite_table(args.build, tool, crosscheck, work, args.pairs)
            print()
        if "postgresql" in sections:
            crosscheck = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                      "data", "crosscheck.tsv.gz")
            postgresql_table(args.build, tool, crosscheck, work, args.pairs)
            print()
        if "peers" in sections and t_tool is not None:
            print("| peer (one run, same InChI file) | CPU time | per line |")
            print("|---|---|---|")
            print(f"| molstamp (median above) | {t_tool:.2f} s | {t_tool / n * 1e6:.2f} us |")
            if shutil.which("obabel"):
                t = measure(["obabel", "-iinchi", inchi, "-oinchikey", "-O", out], remove=out)
                print(f"| Open Babel obabel -iinchi -oinchikey | {t:.2f} s | {t / n * 1e6:.2f} us |")
            else:
                print("| Open Babel | not installed | |")
            script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "rdkit_keys.js")
            if args.peers and shutil.which("node"):
                env_path = os.path.join(args.peers, "node_modules")
                t = measure(["env", f"NODE_PATH={env_path}", "node", script, inchi])
                print(f"| RDKit MinimalLib get_inchikey_for_inchi (Node.js) | {t:.2f} s "
                      f"| {t / n * 1e6:.2f} us |")
            else:
                print("| RDKit MinimalLib | Node.js or the package missing | |")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
