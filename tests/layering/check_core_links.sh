#!/usr/bin/env bash
# check_core_links.sh PROBE "FORBIDDEN…" "REQUIRED…": fails when the probe,
# which links a set of libraries, needs one of the forbidden shared
# libraries, and when it does not need every required one (then the probe
# saw nothing). Names are sonames without their version (libQt6Gui).
set -euo pipefail
probe=$1
read -r -a forbidden <<<"$2"
read -r -a required <<<"$3"
needed=$(readelf -d "$probe" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
status=0
for lib in "${forbidden[@]}"; do
  if grep -q "^$lib\." <<<"$needed"; then
    echo "${probe##*/}: a library it links brings in $lib" >&2
    status=1
  fi
done
for lib in "${required[@]}"; do
  if ! grep -q "^$lib\." <<<"$needed"; then
    echo "${probe##*/}: does not need $lib: it did not link its libraries" >&2
    status=1
  fi
done
[ $status -eq 0 ] && echo "${probe##*/}: $(wc -l <<<"$needed") shared libraries, none of: ${forbidden[*]}"
exit $status
