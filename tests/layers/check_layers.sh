#!/bin/bash
# Includes only look down. Each folder of src/ has a rank; a file may include
# its own folder and folders of a lower rank. The features (config, diag,
# calib, co2, flash) share a rank and never include one another, and neither
# do the two front ends. The simulator restates the unit: it may use the
# platform seams and the link it is wired to, nothing of the tool above them.
# Usage: check_layers.sh SRC_DIR
src=${1:?source folder}
declare -A rank=(
  [platform]=0 [link]=1 [app]=2 [unit]=3
  [config]=4 [diag]=4 [calib]=4 [co2]=4 [flash]=4
  [report]=5 [site]=6 [gui]=7 [cli]=7 [programs]=8
  [sim]=2
)
status=0
while IFS= read -r line; do
  file=${line%%:*}
  inc=${line#*#include \"}
  inc=${inc%%\"*}
  from=${file#"$src"/}; from=${from%%/*}
  to=${inc%%/*}
  [ "$inc" = "$to" ] && continue          # a file of the same folder, named alone
  [ "$from" = "$to" ] && continue
  if [ -z "${rank[$from]+x}" ] || [ -z "${rank[$to]+x}" ]; then
    echo "$file: includes $inc: the folder has no place in the layer order"; status=1; continue
  fi
  if [ "$from" = sim ] && [ "$to" != platform ] && [ "$to" != link ]; then
    echo "$file: includes $inc: the simulator uses only the platform and the link"; status=1
  elif [ "$to" = sim ] && [ "$from" != cli ] && [ "$from" != gui ] && [ "$from" != programs ]; then
    echo "$file: includes $inc: only the front ends start a simulated unit"; status=1
  elif [ "$from" != sim ] && [ "$to" != sim ] && [ "${rank[$to]}" -ge "${rank[$from]}" ]; then
    echo "$file: includes $inc: $from may not include $to (same or higher layer)"; status=1
  fi
done < <(grep -rn '^#include "' "$src" --include='*.h' --include='*.cpp' | sed 's/:[0-9]*:/:/')
[ $status -eq 0 ] && echo "layers: every include looks down"
exit $status
