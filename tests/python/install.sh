#!/bin/bash
# A pip user's install: a fresh virtual environment that sees Debian's
# packages, the module built and installed from a copy of the source tree
# without the network or build isolation, imported from there, a key computed
# and the tool run.
set -euo pipefail
python=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset PYTHONPATH
# A copy of what the module's CMake build reads: pip builds in the tree,
# which stays as it was; without what an earlier build left there.
mkdir "$work/tree"
cp -r "$source_dir/CMakeLists.txt" "$source_dir/cmake" "$source_dir/src" "$source_dir/python" \
  "$work/tree"
rm -rf "$work/tree/python/build" "$work/tree/python/"*.egg-info
"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --quiet --no-build-isolation --no-index --no-cache-dir \
  "$work/tree/python"
cd "$work"
"$work/venv/bin/python" - "$work/venv" <<'PYTHON'
import sys
import molstamp
assert molstamp.__file__.startswith(sys.argv[1]), molstamp.__file__
key = molstamp.inchikey("InChI=1S/C6H6/c1-2-4-6-5-3-1/h1-6H")
assert key == "UHOVQNZJYSORNB-UHFFFAOYSA-N", key
PYTHON
version=$("$work/venv/bin/python" -m molstamp --version)
grep -q "project(molstamp VERSION ${version#molstamp } " "$source_dir/CMakeLists.txt"
echo "install: $version from a fresh venv, benzene keyed"
