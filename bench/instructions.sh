#!/bin/bash
# Instruction counts (valgrind callgrind), which other load on the machine
# does not change, for the ratios that bench/run measures in CPU seconds:
# 50,000 real InChI lines, plain, as a table, through standard input and a
# pipe, compressed, and with two threads. Run after bench/run, which builds
# build/release.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/release
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work" <<'PY'
import sys
seed = open("bench/data/nci-5k.inchi", "rb").read().splitlines()
with open(sys.argv[1] + "/in.txt", "wb") as f, open(sys.argv[1] + "/table.tsv", "wb") as t:
    for i in range(50000):
        f.write(seed[i % len(seed)] + b"\n")
        t.write(b"%d\t%s\tcompound %d\n" % (i + 1, seed[i % len(seed)], i + 1))
PY
gzip -c "$work/in.txt" > "$work/in.gz"
zstd -q -c "$work/in.txt" > "$work/in.zst"
# Instructions of the command given as arguments; standard input is the
# caller's.
count() {
  valgrind --tool=callgrind --callgrind-out-file="$work/cg" "$@" > /dev/null 2> "$work/err"
  grep -o 'Collected : [0-9]*' "$work/err" | grep -o '[0-9]*$'
}
floor=$(count "$build/molstamp_floor" "$work/in.txt")
plain=$(count "$build/molstamp" "$work/in.txt" "$work/out.txt")
table=$(count "$build/molstamp" -t 2 "$work/table.tsv" "$work/out.txt")
stdin=$(count "$build/molstamp" - "$work/out.txt" < "$work/in.txt")
piped=$(cat "$work/in.txt" | count "$build/molstamp" - "$work/out.txt")
gz=$(count "$build/molstamp" "$work/in.gz" "$work/out.txt")
gunzip=$(count gzip -dc "$work/in.gz")
zst=$(count "$build/molstamp" "$work/in.zst" "$work/out.txt")
unzstd=$(count zstd -q -dc "$work/in.zst")
two=$(count "$build/molstamp" -j2 "$work/in.txt" "$work/out.txt")
ratio() { python3 -c "print(f'{$1 / $2:.3f}')"; }
echo "| 50,000 lines | instructions | reference | ratio | goal |"
echo "|---|---|---|---|---|"
echo "| molstamp in out vs floor | $plain | $floor | $(ratio "$plain" "$floor") | <= 1.05 |"
echo "| molstamp -t 2 table vs floor | $table | $floor | $(ratio "$table" "$floor") | <= 1.05 |"
echo "| molstamp - out < in vs molstamp in out | $stdin | $plain | $(ratio "$stdin" "$plain") | <= 1.03 |"
echo "| cat in pipe to molstamp - out | $piped | $plain | $(ratio "$piped" "$plain") | <= 1.03 |"
echo "| molstamp in.gz vs plain + gzip -dc | $gz | $((plain + gunzip)) | $(ratio "$gz" "$((plain + gunzip))") | <= 1.05 |"
echo "| molstamp -j2 vs -j1 (all threads) | $two | $plain | $(ratio "$two" "$plain") | <= 1.05 |"
echo "| molstamp in.zst vs plain + zstd -dc | $zst | $((plain + unzstd)) | $(ratio "$zst" "$((plain + unzstd))") | <= 1.05 |"
