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
w = sys.argv[1]
with open(w + "/in.txt", "wb") as f, open(w + "/table.tsv", "wb") as t, \
        open(w + "/one.csv", "wb") as c1, open(w + "/two.csv", "wb") as c2:
    for i in range(50000):
        inchi = seed[i % len(seed)]
        f.write(inchi + b"\n")
        t.write(b"%d\t%s\tcompound %d\n" % (i + 1, inchi, i + 1))
        c1.write(b'%d,"%s",compound %d\n' % (i + 1, inchi, i + 1))
        c2.write(b'%d,"%s","compound\n%d"\n' % (i + 1, inchi, i + 1))
PY
gzip -c "$work/in.txt" > "$work/in.gz"
zstd -q -c "$work/in.txt" > "$work/in.zst"
bzip2 -c "$work/in.txt" > "$work/in.bz2"
xz -c "$work/in.txt" > "$work/in.xz"
lz4 -q -c "$work/in.txt" > "$work/in.lz4"
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
"$build/molstamp" -t 2 "$work/table.tsv" "$work/keyed.tsv" > /dev/null 2>&1
annotate_keyed=$(count "$build/molstamp" -t 2 "$work/keyed.tsv" "$work/out.txt")
check_keyed=$(count "$build/molstamp" -c -t 2 -k 4 "$work/keyed.tsv" "$work/out.txt")
csv_one=$(count "$build/molstamp" -d , -t 2 "$work/one.csv" "$work/out.txt")
csv_two=$(count "$build/molstamp" -d , -t 2 "$work/two.csv" "$work/out.txt")
csv_j2=$(count "$build/molstamp" -j2 -d , -t 2 "$work/one.csv" "$work/out.txt")
bz2=$(count "$build/molstamp" "$work/in.bz2" "$work/out.txt")
unbz2=$(count bzip2 -dc "$work/in.bz2")
xz=$(count "$build/molstamp" "$work/in.xz" "$work/out.txt")
unxz=$(count xz -dc "$work/in.xz")
lz4=$(count "$build/molstamp" "$work/in.lz4" "$work/out.txt")
unlz4=$(count lz4 -dc "$work/in.lz4")
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
echo "| molstamp -c -t 2 -k 4 vs -t 2 on the same keyed table | $check_keyed | $annotate_keyed | $(ratio "$check_keyed" "$annotate_keyed") | <= 1.05 |"
echo "| molstamp -d , -t 2 CSV vs -t 2 the same TSV | $csv_one | $table | $(ratio "$csv_one" "$table") | <= 1.05 |"
echo "| the same, every record over two lines | $csv_two | $table | $(ratio "$csv_two" "$table") | <= 1.10 |"
echo "| molstamp -j2 vs -j1 on CSV (all threads) | $csv_j2 | $csv_one | $(ratio "$csv_j2" "$csv_one") | |"
echo "| molstamp in.bz2 vs plain + bzip2 -dc | $bz2 | $((plain + unbz2)) | $(ratio "$bz2" "$((plain + unbz2))") | <= 1.05 |"
echo "| molstamp in.xz vs plain + xz -dc | $xz | $((plain + unxz)) | $(ratio "$xz" "$((plain + unxz))") | <= 1.05 |"
echo "| molstamp in.lz4 vs plain + lz4 -dc | $lz4 | $((plain + unlz4)) | $(ratio "$lz4" "$((plain + unlz4))") | <= 1.05 |"
