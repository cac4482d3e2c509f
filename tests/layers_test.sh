#!/usr/bin/env bash
# The tool's folders are layers: a file includes the headers of its own folder
# and of the layers before it, never of a layer after it, so that (for one)
# what a function does never depends on the command line or the console.
#   bash tests/layers_test.sh TOOL_DIR
set -euo pipefail
tool=${1:?the tool folder}
layers=(common functions output map run)
status=0
for ((i = 0; i < ${#layers[@]}; ++i)); do
  for ((j = i + 1; j < ${#layers[@]}; ++j)); do
    for header in "$tool/${layers[j]}"/*.h; do
      name=$(basename "$header")
      if hits=$(grep -l "#include \"$name\"" "$tool/${layers[i]}"/* 2>/dev/null); then
        for hit in $hits; do
          echo "$hit includes $name from ${layers[j]}/, a later layer" >&2
          status=1
        done
      fi
    done
  done
done
[ $status -eq 0 ] && echo "every include of ${layers[*]} runs downwards"
exit $status
