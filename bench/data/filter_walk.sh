#!/usr/bin/env bash
# Filtered walk of tbFiles with the search's typical texts on 100,000 and
# 1,000,000 rows, against sqlite3 printing the rows of the equivalent WHERE
# clause to /dev/null, in the same run. Each figure is the best of $RUNS.
. "$(dirname "$0")/../lib.sh"
RUNS=${RUNS:-3}
texts=(
  "(D40=Wahr OR D50=Wahr) AND Free=Wahr AND FileCatID=3"
  "D10=Wahr OR D20=Wahr OR K10=Wahr"
  "(Free=Wahr) AND FileCatID=12"
)
wheres=(
  "(D40=1 OR D50=1) AND Free=1 AND FileCatID=3"
  "D10=1 OR D20=1 OR K10=1"
  "Free=1 AND FileCatID=12"
)
printf '%-8s %-8s %-10s %-10s %-6s %s\n' rows passing vrk-s sqlite3-s ratio text
for n in ${ROWS:-100000 1000000}; do
  dir=$(catalogue "$n")
  for i in "${!texts[@]}"; do
    passing=$("$BIN/bench_filter_walk" "$dir" "${texts[$i]}" | awk '{ print $2 }')
    theirs_rows=$(sqlite3 "$dir/db/FILES.DB" "SELECT count(*) FROM FILES WHERE ${wheres[$i]}")
    [ "$passing" = "$theirs_rows" ] || { echo "row counts differ: $passing vs $theirs_rows" >&2; exit 1; }
    ours=$(best_seconds "$BIN/bench_filter_walk" "$dir" "${texts[$i]}")
    theirs=$(best_seconds sqlite3 "$dir/db/FILES.DB" "SELECT * FROM FILES WHERE ${wheres[$i]}")
    printf '%-8s %-8s %-10s %-10s %-6s %s\n' "$n" "$passing" "$ours" "$theirs" "$(ratio "$ours" "$theirs")" "${texts[$i]}"
  done
done
