#!/usr/bin/env bash
# ImportRows(tbFiles, 0, ImportReplace) on 100,000 and 1,000,000 catalogue
# rows against sqlite3 printing the same rows to /dev/null, in the same run.
# Time: wall seconds and CPU seconds (user + system; steadier on a busy
# machine). Memory: the heap the result table holds and the growth of the
# peak resident size during the import, each against the rows' own data
# (their packed values); sqlite3's peak resident size for reference.
. "$(dirname "$0")/../lib.sh"
field() { sed -E "s/.* $1 ([0-9.]+).*/\1/" <<<"$2"; }
printf '%-8s %-8s %-8s %-6s %-8s %-8s %-6s %-8s %-8s %-8s %-8s %-8s %-10s\n' \
  rows wall-s sql-wall ratio cpu-s sql-cpu ratio own-MiB held-MiB held/own peak+MiB peak/own sql-peakKiB
for n in ${ROWS:-100000 1000000}; do
  dir=$(catalogue "$n")
  out=$("$BIN/bench_memtable_import" "$dir")
  wall=$(field import "$out"); cpu=$(field cpu "$out"); own=$(field own-data "$out")
  held=$(field heap-held "$out"); peak=$(field peak-growth "$out")
  f=$(mktemp)
  /usr/bin/time -o "$f" -f '%e %U %S %M' sqlite3 "$dir/db/FILES.DB" "SELECT * FROM FILES" >/dev/null 2>&1
  read -r swall suser ssys speak < <(tail -n 1 "$f"); rm -f "$f"
  scpu=$(awk -v a="$suser" -v b="$ssys" 'BEGIN { printf "%.2f", a + b }')
  printf '%-8s %-8s %-8s %-6s %-8s %-8s %-6s %-8s %-8s %-8s %-8s %-8s %-10s\n' "$n" "$wall" "$swall" \
    "$(ratio "$wall" "$swall")" "$cpu" "$scpu" "$(ratio "$cpu" "$scpu")" "$own" "$held" \
    "$(ratio "$held" "$own")" "$peak" "$(ratio "$peak" "$own")" "$speak"
done
