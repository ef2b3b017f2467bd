#!/bin/bash
# Every key molstamp writes must equal the key that an independent
# implementation (RDKit MinimalLib, see tools/make_reference.js) computed for
# the same InChI string. The strings are interleaved with name lines and our
# own key lines read back, under rotating LF, CR LF and CR line ends.
set -euo pipefail
tool=$1
reference=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

gzip -dc "$reference" | grep -v '^#' > "$work/reference.tsv"
awk -F '\t' -v input="$work/in.txt" -v expected="$work/expected.txt" '
  function emit(line) {
    ends = NR % 3 == 0 ? "\n" : NR % 3 == 1 ? "\r\n" : "\r"
    printf "%s%s", line, ends > input
    printf "%s\n", line > expected
  }
  NR % 7 == 0 { emit("molecule " NR) }
  NR % 11 == 0 { emit("InChIKey=" $2); failed++ }
  { emit($1); printf "InChIKey=%s\n", $2 > expected; added++ }
  END { printf "InChIKey: added %d, failed %d.\n", added, failed > "/dev/stderr" }
' "$work/reference.tsv" 2> "$work/counts.txt"

"$tool" "$work/in.txt" "$work/out.txt" "$work/log.txt" > "$work/console.txt"
cmp "$work/out.txt" "$work/expected.txt"
grep -qxF "$(cat "$work/counts.txt")" "$work/console.txt"
if grep -q Warning "$work/log.txt"; then
  echo "unexpected warnings:" >&2
  cat "$work/log.txt" >&2
  exit 1
fi

# The same strings as a PubChem-like table (id, InChI, a third column) under
# -t 2: one row out per row in, each ending in the reference key.
awk -F '\t' '{ printf "%d\t%s\tcolumn three %d\n", NR, $1, NR }' "$work/reference.tsv" \
  > "$work/table.tsv"
"$tool" -t 2 "$work/table.tsv" "$work/table-out.tsv" "$work/table-log.txt" > /dev/null
test "$(wc -l < "$work/table-out.tsv")" -eq "$(wc -l < "$work/table.tsv")"
cut -f 4 "$work/table-out.tsv" > "$work/table-keys.txt"
cut -f 2 "$work/reference.tsv" | cmp - "$work/table-keys.txt"
cut -f 1-3 "$work/table-out.tsv" | cmp - "$work/table.tsv"

# Check mode: the annotated file and the reference table hold the right keys;
# with three keys altered, one removed and one InChI broken, exactly those
# five rows are reported, with their verdicts, and the check fails.
rows=$(wc -l < "$work/reference.tsv")
agree="InChIKey: checked $rows: agree $rows, differ 0, missing 0, failed 0."
"$tool" -c "$work/expected.txt" "$work/report.tsv" > "$work/console.txt" 2> /dev/null
grep -qxF "$agree" "$work/console.txt"
"$tool" -c -t 1 "$work/reference.tsv" "$work/report.tsv" > "$work/console.txt" 2> /dev/null
grep -qxF "$agree" "$work/console.txt"
test "$(cat "$work/report.tsv")" = "$(printf 'line\tverdict\tstored_key\tcomputed_key\tinchi')"
awk -F '\t' 'BEGIN { OFS = "\t" }
  NR == 100 || NR == 5000 || NR == 13000 { $2 = substr($2, 1, 26) "X" }
  NR == 200 { $2 = "" }
  NR == 300 { $1 = "InChI=1S/" }
  { print }' "$work/reference.tsv" > "$work/damaged.tsv"
status=0
"$tool" -c -t 1 -j2 "$work/damaged.tsv" "$work/report.tsv" > "$work/console.txt" 2> /dev/null \
  || status=$?
test "$status" -eq 6
grep -qxF "InChIKey: checked $rows: agree $((rows - 5)), differ 3, missing 1, failed 1." \
  "$work/console.txt"
cut -f 1,2 "$work/report.tsv" | tail -n +2 > "$work/verdicts.txt"
printf '100\tdiffers\n200\tmissing\n300\tfailed\n5000\tdiffers\n13000\tdiffers\n' \
  | cmp - "$work/verdicts.txt"
awk -F '\t' 'NR == 100 || NR == 200 || NR == 5000 || NR == 13000 { print NR "\t" $2 }' \
  "$work/reference.tsv" > "$work/computed.txt"
awk -F '\t' '$2 != "failed" { print $1 "\t" $4 }' "$work/report.tsv" | tail -n +2 \
  | cmp - "$work/computed.txt"

# Standard keys (-s): each non-standard InChI gets the standard key of its
# structure. The set holds that structure's standard InChI (the main layers,
# before the fixed-H layer /f, under InChI=1S/) with its own reference key.
awk -F '\t' -v inchis="$work/non-standard.txt" -v keys="$work/standard-keys.txt" '
  { key[$1] = $2; inchi[NR] = $1 }
  END {
    for (i = 1; i <= NR; i++) {
      s = inchi[i]
      if (substr(s, 1, 8) != "InChI=1/") continue
      standard = "InChI=1S/" substr(s, 9)
      sub(/\/f.*/, "", standard)
      if (!(standard in key)) { print "no standard InChI for " s > "/dev/stderr"; exit 1 }
      print s > inchis
      print key[standard] > keys
    }
  }' "$work/reference.tsv"
derived=$(wc -l < "$work/non-standard.txt")
for jobs in -j1 -j2; do
  "$tool" "$jobs" -s -n "$work/non-standard.txt" "$work/derived.txt" > "$work/console.txt" \
    2> "$work/log.txt"
  sed 's/^InChIKey=//' "$work/derived.txt" | cmp - "$work/standard-keys.txt"
  grep -qxF "Standard keys derived for $derived non-standard InChIs." "$work/console.txt"
done

echo "crosscheck: $rows keys agree, as lines and as a table; $(cat "$work/counts.txt");" \
  "check mode finds the five damaged rows; $derived standard keys derived with -s"
