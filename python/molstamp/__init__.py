"""InChIKeys of InChI strings, many at once, and the molstamp tool, from Python.

A thin binding over molstamp's core library, the one the command-line tool is
built from: the same InChI library call, the same keys and statuses, the same
verdicts as ``molstamp -c``.

    df["inchikey"] = molstamp.inchikeys(df["inchi"])
    df["verdict"] = molstamp.check(df["inchi"], df["inchikey"])
    df["inchikey"] = molstamp.inchikeys(df["inchi"], standard=True, validate="structure")

``library_version`` names the InChI library the module was built against.
"""
import os
import sys

from . import _molstamp
from ._molstamp import __version__, library_version

__all__ = ["__version__", "check", "inchikey", "inchikeys", "library_version", "main"]


# The binding's functions, under functions of this module: a pybind11
# function does not pickle (its self is a capsule), and Dask, multiprocessing
# and concurrent.futures pickle the functions they send to other processes.
def inchikey(inchi, *, standard=False, validate=None):
    if standard is False and validate is None:
        return _molstamp.inchikey(inchi)  # pybind11's keyword arguments cost a quarter of a key
    return _molstamp.inchikey(inchi, standard=standard, validate=validate)


def inchikeys(inchis, threads=0, *, standard=False, validate=None):
    return _molstamp.inchikeys(inchis, threads, standard=standard, validate=validate)


def check(inchis, keys, threads=0, *, standard=False, validate=None, details=False):
    return _molstamp.check(inchis, keys, threads, standard=standard, validate=validate,
                           details=details)


for _wrapper in (inchikey, inchikeys, check):
    _wrapper.__doc__ = getattr(_molstamp, _wrapper.__name__).__doc__
del _wrapper


def main(args=None):
    """Runs the molstamp command-line tool and returns its exit status.

    args: the arguments, a list of str, bytes or path-like objects, without
    the program name; default sys.argv[1:]. ``main(["-n", "in.txt", "out.txt"])``
    does what ``molstamp -n in.txt out.txt`` does. The tool runs in a child
    process and writes to file descriptors 1 and 2 (sys.stdout and sys.stderr
    are flushed first); a tool killed by a signal gives 128 + the signal.
    SIGPIPE stays as the interpreter has it: Python ignores it, so a closed
    pipe ends the tool with status 5, as the tool under ``trap '' PIPE``.
    """
    if args is None:
        args = sys.argv[1:]
    if isinstance(args, (str, bytes)):
        raise TypeError("args: expected a list of arguments, got one string")
    argv = [os.fsencode(a) for a in args]
    for stream in (sys.stdout, sys.stderr):
        # A closed stream has nothing to flush; the tool writes to the
        # descriptors anyway.
        if stream is not None and not stream.closed:
            stream.flush()
    return _molstamp.run(argv)
