"""main and python -m molstamp: the tool's run, isolated from the
interpreter, against the built binary where the tests know it."""
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

# Each case: the arguments (IN: a small input, TABLE: a table, OUT: an
# output name) and the exit status.
MAIN_CASES = {
    "annotate": (["IN", "OUT"], 0),
    "keys only": (["-n", "IN", "OUT"], 0),
    "table, two threads": (["-j", "2", "-t", "2", "TABLE", "OUT"], 0),
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
    return directory


@pytest.mark.parametrize("case", MAIN_CASES)
def test_main_runs_the_tool(case, tmp_path, source_dir, capfd, monkeypatch):
    args, status = MAIN_CASES[case]
    monkeypatch.chdir(lay_out(tmp_path / "py", source_dir))
    capfd.readouterr()
    assert molstamp.main(args) == status
    out, err = capfd.readouterr()
    if case == "version":
        assert out.startswith(f"molstamp {molstamp.__version__}\nInChI library 1.03")
    if "MOLSTAMP_BINARY" not in os.environ:
        return
    tool = subprocess.run([os.environ["MOLSTAMP_BINARY"]] + args, capture_output=True, text=True,
                          cwd=lay_out(tmp_path / "tool", source_dir))
    assert tool.returncode == status
    no_time = re.compile(r"Elapsed time: \d+")
    assert (no_time.sub("", out), err) == (no_time.sub("", tool.stdout), tool.stderr)
    for made in (tmp_path / "py").iterdir():
        assert made.read_bytes() == (tmp_path / "tool" / made.name).read_bytes()


# Python's buffered text, the tool's, then Python's again, through the same
# piped (so block-buffered) standard streams.
AROUND_THE_RUN = """
import os, sys, molstamp
sys.stdout.write("before:")
sys.stderr.write("err before:")
status = molstamp.main(["-n", sys.argv[1], "-"])
print("after", status)
sys.stderr.write("err after\\n")
"""


def test_interpreter_streams_stay(source_dir):
    env = {k: v for k, v in os.environ.items() if k != "PYTHONUNBUFFERED"}
    run = subprocess.run(
        [sys.executable, "-c", AROUND_THE_RUN, source_dir / "examples/compounds.txt"],
        capture_output=True, text=True, stdin=subprocess.DEVNULL, env=env)
    assert run.returncode == 0, run.stderr
    assert run.stdout.startswith("before:InChIKey=") and run.stdout.endswith("\nafter 0\n")
    assert run.stderr.startswith("err before:Processing") and run.stderr.endswith("\nerr after\n")


def test_closed_interpreter_stdout_is_no_obstacle(source_dir):
    # The tool writes to descriptor 1, still open; Python's stream is closed.
    code = ("import sys, molstamp; sys.stdout.close(); "
            "sys.exit(molstamp.main(['-n', sys.argv[1], '-']))")
    run = subprocess.run([sys.executable, "-c", code, source_dir / "examples/compounds.txt"],
                         capture_output=True, text=True, stdin=subprocess.DEVNULL)
    assert run.returncode == 0, run.stderr
    assert run.stdout.startswith("InChIKey=")


@pytest.mark.parametrize("args, status, out", [(["--version"], 0, "molstamp "),
                                               (["NOWHERE", "OUT"], 2, "* Error")])
def test_python_dash_m(args, status, out, tmp_path):
    run = subprocess.run([sys.executable, "-m", "molstamp"] + args, cwd=tmp_path,
                         capture_output=True, text=True)
    assert (run.returncode, run.stdout[:len(out)]) == (status, out)


def test_library_version():
    assert re.fullmatch(r"InChI library \d+(\.\d+)+( \(Debian \S+\))?", molstamp.library_version)
    dpkg_query = shutil.which("dpkg-query")
    if dpkg_query is None:
        return
    # The installed package, as the build found it: its release first.
    debian = subprocess.run([dpkg_query, "-W", "-f=${Version}", "libinchi-dev"],
                            capture_output=True, text=True).stdout
    if debian:
        release = re.match(r"(?:\d+:)?(\d+(?:\.\d+)*)", debian).group(1)
        assert molstamp.library_version == f"InChI library {release} (Debian {debian})"


# Each case: the command (TOOL: the built binary), whether it starts with
# SIGPIPE ignored, and its status writing into a pipe without a reader.
PIPE_CASES = {
    "the tool, SIGPIPE ignored": (["TOOL"], True, 5),
    "python -m, SIGPIPE ignored": ([sys.executable, "-m", "molstamp"], True, 5),
    # Python ignores it whatever it was started with.
    "python -m, SIGPIPE default": ([sys.executable, "-m", "molstamp"], False, 5),
    "main after SIG_DFL": ([sys.executable, "-c", "import signal, sys, molstamp; "
                           "signal.signal(signal.SIGPIPE, signal.SIG_DFL); "
                           "sys.exit(molstamp.main(sys.argv[1:]))"], True, 128 + signal.SIGPIPE),
}


@pytest.mark.parametrize("case", PIPE_CASES)
def test_status_on_a_closed_pipe(case, source_dir):
    command, ignored, status = PIPE_CASES[case]
    if command == ["TOOL"]:
        if "MOLSTAMP_BINARY" not in os.environ:
            pytest.skip("the tool's binary is not known")
        command = [os.environ["MOLSTAMP_BINARY"]]
    reader, writer = os.pipe()
    os.close(reader)
    try:
        # The interpreter running the tests ignores SIGPIPE: kept, or reset
        # to the default as subprocess does by default.
        run = subprocess.run(command + [source_dir / "examples/compounds.txt", "-"],
                             stdout=writer, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                             text=True, restore_signals=not ignored)
    finally:
        os.close(writer)
    assert run.returncode == status, run.stderr
    assert run.stderr.endswith("* Error: could not write standard output!\n") == (status == 5)


def children():
    tasks = pathlib.Path("/proc/self/task").iterdir()
    return {int(pid) for task in tasks for pid in (task / "children").read_text().split()}


def test_killed_tool_gives_128_plus_signal(tmp_path):
    os.mkfifo(tmp_path / "fifo")  # the tool waits for a writer
    result, before = [], children()
    runner = threading.Thread(
        target=lambda: result.append(molstamp.main([tmp_path / "fifo", tmp_path / "out"])))
    runner.start()
    deadline = time.monotonic() + 30
    while not children() - before and time.monotonic() < deadline:
        time.sleep(0.01)
    for pid in children() - before:
        os.kill(pid, signal.SIGTERM)
    runner.join(30)
    assert result == [128 + signal.SIGTERM]
