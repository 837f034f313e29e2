#!/usr/bin/env bash
# check_core_links.sh PROBE: fails when the probe that links every core
# library needs Qt Widgets or Qt Gui, and when it does not need what the
# core libraries are known to use (then the probe saw nothing).
set -euo pipefail
needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
status=0
for lib in libQt6Widgets libQt6Gui; do
  if grep -q "^$lib\." <<<"$needed"; then
    echo "a core library brings in $lib" >&2
    status=1
  fi
done
for lib in libQt6Core libQt6Network libsqlite3 libzip; do
  if ! grep -q "^$lib\." <<<"$needed"; then
    echo "the probe does not need $lib: it did not link the core libraries" >&2
    status=1
  fi
done
[ $status -eq 0 ] && echo "core libraries: $(wc -l <<<"$needed") shared libraries, none of Qt Widgets or Qt Gui"
exit $status
