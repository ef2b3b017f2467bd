#!/bin/bash
# The house's rule: a wing includes only its own headers and those of the
# wings below it, each by its wing's path. Fails, naming the line, on an
# include that runs back up, and on a project header included by a bare name.
#
#     architecture.sh SOURCE_DIR
set -u
src="${1:?source dir}/src"
wings=(sys text io keys pipeline cli)  # from the ground up

rank() {
  local i
  for i in "${!wings[@]}"; do
    [ "${wings[$i]}" = "$1" ] && { echo "$i"; return; }
  done
  echo -1
}

bad=0
files=0
while IFS= read -r file; do
  files=$((files + 1))
  rel=${file#"$src"/}
  own=$(rank "${rel%%/*}")
  if [ "$own" -lt 0 ]; then
    echo "architecture: $rel stands in no wing"
    bad=1
    continue
  fi
  while IFS=: read -r line include; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/' <<<"$include")
    wing=${target%%/*}
    if [ "$wing" = "$target" ]; then
      echo "architecture: $rel:$line includes \"$target\" without its wing"
      bad=1
      continue
    fi
    if [ ! -f "$src/$target" ]; then
      echo "architecture: $rel:$line includes \"$target\", which is not there"
      bad=1
      continue
    fi
    theirs=$(rank "$wing")
    if [ "$theirs" -gt "$own" ]; then
      echo "architecture: $rel:$line includes \"$target\" from ${wing}, a wing above ${rel%%/*}"
      bad=1
    fi
  done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file")
done < <(find "$src" -name '*.h' -o -name '*.cpp' | sort)

[ "$files" -gt 0 ] || { echo "architecture: no source under $src"; exit 1; }
[ "$bad" = 0 ] && echo "architecture: $files units in ${#wings[@]} wings, no include runs up"
exit "$bad"
