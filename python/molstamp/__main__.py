"""python -m molstamp ARGS: the molstamp command-line tool, exiting with its status."""
import sys

from . import main

sys.exit(main(sys.argv[1:]))
