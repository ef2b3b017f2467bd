"""main and python -m molstamp: the command-line tool's run, isolated from
the interpreter, against the built binary where the tests know it."""
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

import pytest

import molstamp

BINARY = os.environ.get("MOLSTAMP_BINARY")

# Each case: the arguments (IN: a small input, TABLE: a table, OUT: an
# output name) and the exit status.
MAIN_CASES = {
    "annotate": (["IN", "OUT"], 0),
    "keys only": (["-n", "IN", "OUT"], 0),
    "table": (["-t", "2", "TABLE", "OUT"], 0),
    "two threads": (["-j", "2", "IN", "OUT"], 0),
    "check without keys": (["-c", "IN", "OUT"], 6),
    "output to standard output": (["IN", "-"], 0),
    "missing input": (["NOWHERE", "OUT"], 2),
    "bad switch": (["-x"], 1),
    "version": (["--version"], 0),
}


def lay_out(directory, source_dir):
    directory.mkdir()
    shutil.copy(source_dir / "examples/compounds.txt", directory / "IN")
    shutil.copy(source_dir / "examples/pubchem-like.tsv", directory / "TABLE")


def without_times(text):
    return re.sub(r"Elapsed time: \d+", "Elapsed time: ?", text)


@pytest.mark.parametrize("case", MAIN_CASES)
def test_main_runs_the_tool(case, tmp_path, source_dir, capfd, monkeypatch):
    args, status = MAIN_CASES[case]
    lay_out(tmp_path / "py", source_dir)
    monkeypatch.chdir(tmp_path / "py")
    capfd.readouterr()
    assert molstamp.main(args) == status
    out, err = capfd.readouterr()
    if case == "version":
        assert out == f"molstamp {molstamp.__version__}\n"
    if not BINARY:
        return
    lay_out(tmp_path / "tool", source_dir)
    tool = subprocess.run([BINARY] + args, cwd=tmp_path / "tool", capture_output=True, text=True)
    assert tool.returncode == status
    assert (without_times(out), err) == (without_times(tool.stdout), tool.stderr)
    made = sorted(p.name for p in (tmp_path / "py").iterdir())
    assert made == sorted(p.name for p in (tmp_path / "tool").iterdir())
    for name in made:
        assert (tmp_path / "py" / name).read_bytes() == (tmp_path / "tool" / name).read_bytes()


# Python's buffered text before the run, then the tool's, then Python's again,
# all through the same (piped, so block-buffered) standard streams.
AROUND_THE_RUN = """
import os, sys, molstamp
sys.stdout.write("before:")
sys.stderr.write("err before:")
status = molstamp.main(["-n", sys.argv[1], "-"])
print("after", status)
sys.stderr.write("err after\\n")
for fd in (0, 1, 2):
    os.fstat(fd)
"""


def test_interpreter_streams_stay(source_dir):
    env = {k: v for k, v in os.environ.items() if k != "PYTHONUNBUFFERED"}
    run = subprocess.run(
        [sys.executable, "-c", AROUND_THE_RUN, source_dir / "examples/compounds.txt"],
        capture_output=True, text=True, stdin=subprocess.DEVNULL, env=env)
    assert run.returncode == 0, run.stderr
    assert run.stdout.startswith("before:InChIKey=") and run.stdout.endswith("\nafter 0\n")
    assert run.stderr.startswith("err before:Processing") and run.stderr.endswith("\nerr after\n")


def test_python_dash_m(tmp_path):
    run = [sys.executable, "-m", "molstamp"]
    version = subprocess.run(run + ["--version"], capture_output=True, text=True)
    assert (version.returncode, version.stdout) == (0, f"molstamp {molstamp.__version__}\n")
    missing = subprocess.run(run + [str(tmp_path / "nowhere"), str(tmp_path / "out")],
                             capture_output=True, text=True)
    assert missing.returncode == 2
    assert "could not open input file" in missing.stdout


def children():
    """The process ids of this process's children."""
    found = []
    for task in pathlib.Path("/proc/self/task").iterdir():
        found += (task / "children").read_text().split()
    return [int(pid) for pid in found]


def test_killed_tool_gives_128_plus_signal(tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    result = []
    before = set(children())
    runner = threading.Thread(target=lambda: result.append(
        molstamp.main([fifo, tmp_path / "out"])))
    runner.start()
    deadline = time.monotonic() + 30
    while not set(children()) - before and time.monotonic() < deadline:
        time.sleep(0.01)
    for pid in set(children()) - before:
        os.kill(pid, signal.SIGTERM)
    runner.join(30)
    assert result == [128 + signal.SIGTERM]


@pytest.mark.parametrize("args", ["IN OUT", b"IN", ["IN", 3]])
def test_args_must_be_a_list_of_strings(args):
    with pytest.raises(TypeError):
        molstamp.main(args)
