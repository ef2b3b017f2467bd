#!/bin/bash
# Beyond one machine, molstamp runs inside an existing engine: GNU parallel
# cutting a table at line ends into blocks, one molstamp per block, the key
# columns kept in order (-k). Locally, with blocks far smaller than the
# 64M of docs/more-than-one-machine.md so that there are many, it must give
# the key column of one molstamp run over the whole table.
set -euo pipefail
tool=$1
seed=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk -v rows=200000 '{ inchi[n++] = $0 }
  END { for (i = 0; i < rows; i++) printf "%d\t%s\tcompound %d\n", i + 1, inchi[i % n], i + 1 }' \
  "$seed" > "$work/table.tsv"
"$tool" -t 2 -n "$work/table.tsv" "$work/one.txt" > /dev/null 2>&1
parallel --will-cite --pipe -k --block 1M "$tool" -t 2 -n - - \
  < "$work/table.tsv" > "$work/parallel.txt" 2> "$work/consoles.txt"
cmp "$work/one.txt" "$work/parallel.txt"
test "$(wc -l < "$work/parallel.txt")" -eq 200000
blocks=$(grep -c '^Completed processing' "$work/consoles.txt")
test "$blocks" -gt 10
echo "gnu_parallel: 200000 keys in $blocks blocks, the same column as one run"
