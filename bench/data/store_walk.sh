#!/usr/bin/env bash
# Walk of tbFiles on 100,000 and 1,000,000 rows against sqlite3 printing the
# same table to /dev/null, in the same run, after checking that the walk
# sees every row. Each time is the best of $RUNS (default 3) whole processes.
. "$(dirname "$0")/../lib.sh"
RUNS=${RUNS:-3}
printf '%-9s %-22s %-12s %-12s %-8s\n' rows first-row vrk-walk-s sqlite3-s ratio
for n in ${ROWS:-100000 1000000}; do
  dir=$(catalogue "$n")
  out=$("$BIN/bench_store_walk" "$dir")
  first=$(sed -E 's/.*first-row ([0-9.]+ ms).*/\1/' <<<"$out")
  walked=$(awk '{ print $2 }' <<<"$out")
  theirs_rows=$(sqlite3 "$dir/db/FILES.DB" "SELECT count(*) FROM FILES")
  [ "$walked" = "$theirs_rows" ] || { echo "row counts differ: $walked vs $theirs_rows" >&2; exit 1; }
  ours=$(best_seconds "$BIN/bench_store_walk" "$dir")
  theirs=$(best_seconds sqlite3 "$dir/db/FILES.DB" "SELECT * FROM FILES")
  printf '%-9s %-22s %-12s %-12s %-8s\n' "$n" "$first" "$ours" "$theirs" "$(ratio "$ours" "$theirs")"
done
