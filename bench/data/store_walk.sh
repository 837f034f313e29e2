#!/usr/bin/env bash
# Walk of tbFiles on 100,000 and 1,000,000 rows against sqlite3 printing the
# same table to /dev/null, in the same run.
. "$(dirname "$0")/../lib.sh"
printf '%-9s %-22s %-12s %-12s %-8s\n' rows first-row vrk-walk-s sqlite3-s ratio
for n in ${ROWS:-100000 1000000}; do
  dir=$(catalogue "$n")
  first=$("$BIN/bench_store_walk" "$dir" | sed -E 's/.*first-row ([0-9.]+ ms).*/\1/')
  read -r ours _ < <(measure "$BIN/bench_store_walk" "$dir")
  read -r theirs _ < <(measure sqlite3 "$dir/db/FILES.DB" "SELECT * FROM FILES")
  printf '%-9s %-22s %-12s %-12s %-8s\n' "$n" "$first" "$ours" "$theirs" "$(ratio "$ours" "$theirs")"
done
