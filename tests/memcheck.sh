#!/bin/bash
# Runs the tool under valgrind memcheck over a few thousand real InChI lines,
# a 1 MB line ended by a lone CR and the mixed sample: any memory error or
# definite leak fails the test.
set -euo pipefail
tool=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{
  cat "$source_dir/bench/data/nci-5k.inchi"
  head -c 1000000 /dev/zero | tr '\0' 'x'
  printf '\r'
  cat "$source_dir/examples/compounds.txt"
} > "$work/in.txt"
valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
  "$tool" "$work/in.txt" "$work/out.txt" "$work/log.txt" > "$work/console.txt"
grep -q 'InChIKey: added 5012, failed 1\.' "$work/console.txt"
echo "memcheck: no errors, no leaks"
