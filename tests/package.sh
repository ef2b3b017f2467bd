#!/bin/bash
# Builds the Debian package from the build tree, unpacks it into a scratch
# root and runs the installed binary on the sample input; also checks that
# the man page renders without warnings.
set -euo pipefail
build=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" > cpack.log)
deb=$(ls "$work"/molstamp_*_amd64.deb)
depends=$(dpkg-deb --field "$deb" Depends)
for lib in libinchi1 libisal2 libzstd1 libbz2-1.0 liblzma5 liblz4-1; do grep -q "$lib" <<< "$depends"; done
dpkg -x "$deb" "$work/root"
test -f "$work/root/usr/share/man/man1/molstamp.1"
"$work/root/usr/bin/molstamp" "$source_dir/examples/compounds.txt" "$work/out.txt" \
  > "$work/console.txt" 2> "$work/log.txt"
grep -qx 'InChIKey: added 13, failed 1.' "$work/console.txt"
grep -qx 'InChIKey=UHOVQNZJYSORNB-UHFFFAOYSA-N' "$work/out.txt"
if command -v groff > /dev/null; then
  warnings=$(groff -man -Tutf8 -ww -z "$work/root/usr/share/man/man1/molstamp.1" 2>&1)
  test -z "$warnings" || { echo "$warnings" >&2; exit 1; }
fi
# The PostgreSQL extension's package, when the build made one: its three
# parts where the server looks, and what it needs.
pg_deb=$(ls "$work"/postgresql-*-molstamp_*_amd64.deb 2> /dev/null || true)
if [ -n "$pg_deb" ]; then
  major=$(basename "$pg_deb" | sed 's/^postgresql-\([0-9]*\)-.*/\1/')
  depends=$(dpkg-deb --field "$pg_deb" Depends)
  for dependency in "postgresql-$major" libinchi1; do grep -q "$dependency" <<< "$depends"; done
  files=$(dpkg-deb --contents "$pg_deb" | awk '{print $6}')
  for part in "lib/postgresql/$major/lib/molstamp.so" \
      "share/postgresql/$major/extension/molstamp.control" \
      "share/postgresql/$major/extension/molstamp--"; do
    grep -q "^\./usr/$part" <<< "$files" || { echo "$part is not in $pg_deb" >&2; exit 1; }
  done
  echo "package: $(basename "$pg_deb") holds the extension"
fi
echo "package: $(basename "$deb") installs and runs"
