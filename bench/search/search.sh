#!/usr/bin/env bash
# The whole search through the main window (click to total shown) on 100,000
# and 1,000,000 rows, against sqlite3 printing the rows of the equivalent
# query to /dev/null, in the same run; then the start-up time to the first
# painted window on the 1,000,000-row catalogue against a bare Qt window.
# Each time is the best of $RUNS; memory is the peak resident size.
# click-s is the search as the user waits for it (click to total shown);
# process-s adds the program's start-up and the window; ratio is click-s
# over sqlite3-s, the whole sqlite3 process.
. "$(dirname "$0")/../lib.sh"
RUNS=${RUNS:-3}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
modes=(all ticked text)
queries=(
  "SELECT * FROM FILES"
  "SELECT * FROM FILES WHERE (D40=1 OR D50=1) AND Free=1"
  "SELECT * FROM FILES WHERE upper(Description) LIKE '%GRID%'"
)
# best CMD…: best of $RUNS as "<seconds> <peak KiB>" (peak of the best run).
best() {
  local b="" m=""
  for _ in $(seq "$RUNS"); do
    read -r s k < <(measure "$@")
    if [ -z "$b" ] || awk -v a="$s" -v b="$b" 'BEGIN { exit !(a < b) }'; then b=$s; m=$k; fi
  done
  echo "$b $m"
}
# bestclick DIR MODE: best click-to-total time of $RUNS and the total.
bestclick() {
  local b="" total=""
  for _ in $(seq "$RUNS"); do
    read -r s total < <("$BIN/bench_search_click" "$1" "$2")
    b=$(awk -v a="$s" -v b="$b" 'BEGIN { print (b == "" || a < b) ? a : b }')
  done
  echo "$b $total"
}
printf '%-8s %-7s %-8s %-9s %-9s %-10s %-9s %-10s %-6s\n' \
  rows search total click-s process-s peak-MiB sqlite3-s sqlite-MiB ratio
for n in ${ROWS:-100000 1000000}; do
  dir=$(catalogue "$n")
  for i in "${!modes[@]}"; do
    read -r click total < <(bestclick "$dir" "${modes[$i]}")
    theirs_rows=$(sqlite3 "$dir/db/FILES.DB" "SELECT count(*) FROM (${queries[$i]})")
    [ "$total" = "$theirs_rows" ] || { echo "row counts differ: $total vs $theirs_rows (${modes[$i]})" >&2; exit 1; }
    read -r ours ourk < <(best "$BIN/bench_search_click" "$dir" "${modes[$i]}")
    read -r theirs theirk < <(best sqlite3 "$dir/db/FILES.DB" "${queries[$i]}")
    printf '%-8s %-7s %-8s %-9s %-9s %-10s %-9s %-10s %-6s\n' "$n" "${modes[$i]}" "$total" "$click" "$ours" \
      "$((ourk / 1024))" "$theirs" "$((theirk / 1024))" "$(ratio "$click" "$theirs")"
  done
done
echo
n=${STARTUP_ROWS:-1000000}
dir=$(catalogue "$n")
bestof() {
  local b=""
  for _ in $(seq "$RUNS"); do
    s=$("$@" | head -n 1)
    b=$(awk -v a="$s" -v b="$b" 'BEGIN { print (b == "" || a < b) ? a : b }')
  done
  echo "$b"
}
# The settings file of a run lands in the catalogue's program directory.
ours=$(bestof "$BIN/bench_startup" "$dir")
bare=$(bestof "$BIN/bench_startup" --bare)
printf 'start-up to first paint: vrksearch on %s rows %ss, bare Qt window %ss, ratio %s\n' \
  "$n" "$ours" "$bare" "$(ratio "$ours" "$bare")"
