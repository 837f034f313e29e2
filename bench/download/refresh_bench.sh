#!/usr/bin/env bash
# The whole catalogue refresh of a ROWS-row catalogue (default 100,000):
# `vrk getdb` (fetch from nginx on 127.0.0.1, unpack, all-or-nothing
# install, flag normalisation) side by side, in the same run, with the
# pipeline a user would script instead:
#   curl -o + bsdtar -xf + cp + sqlite3 "UPDATE FILES SET D10=0 WHERE D10 IS NULL; …"
# (one UPDATE per flag column). Both start from the same installed catalogue
# of another seed each time; the best wall time of RUNS runs each.
#
# Builds nothing: uses $BUILD/bin/vrk and $BUILD/bin/demogen (BUILD as in
# bench/lib.sh, a Release build) unless a path to vrk is given.
#   bench/download/refresh_bench.sh [path/to/vrk]
# Environment: ROWS (default 100000), RUNS (default 3).
. "$(dirname "$0")/../lib.sh"

vrk=${1:-$BIN/vrk}
rows=${ROWS:-100000}
runs=${RUNS:-3}
[ -x "$vrk" ] || { echo "no vrk at $vrk (build the 'vrk' target first)" >&2; exit 1; }
[ -x "$BIN/demogen" ] || { echo "no demogen in $BIN" >&2; exit 1; }
require nginx curl bsdtar sqlite3 python3

make_work

# The installed catalogue (seed 1) and the mirror's catalogue Zip (seed 2).
"$BIN/demogen" --out "$work/old" --rows "$rows" --seed 1 >/dev/null
mkdir -p "$work/www/ftp/resource"
"$BIN/demogen" --out "$work/new" --rows "$rows" --seed 2 --zip "$work/www/ftp/resource/vrk_db.zip" >/dev/null
zip_bytes=$(stat -c %s "$work/www/ftp/resource/vrk_db.zip")

start_nginx "$work/www" "$work/nginx"
port=$nginx_port
url="http://127.0.0.1:$port/ftp/resource/vrk_db.zip"

# vrk's program directory: the program with its settings and alias.
mkdir -p "$work/prog"
cp "$vrk" "$work/prog/vrk"
printf '[Quorvane]\nPATH=%s\n' "$work/prog/db" > "$work/prog/aliases.ini"
printf '[Options]\nMirror=http://127.0.0.1:%s\nUseProxy=0\nAskConnect=0\nOverwriteData=1\nUnzipFile=1\nDeleteUnzip=1\n' \
  "$port" > "$work/prog/VRK.ini"

flags="D10 D20 D30 D40 D50 D60 C10 C30 C40 C50 J10 J20 K10 Free WithSource"
updates=
for f in $flags; do updates+="UPDATE FILES SET $f=0 WHERE $f IS NULL; "; done
nulls=
for f in $flags; do nulls+="${nulls:+ OR }$f IS NULL"; done

# The catalogue both start from, put back before every run (not timed).
reset_db() {
  rm -rf "$1"
  mkdir -p "$1"
  cp "$work/old/"*.DB "$1/"
  sync -f "$1"
}
now_ns() { date +%s%N; }
check() {
  local db=$1 what=$2
  [ "$(sqlite3 "$db/FILES.DB" "SELECT count(*) FROM FILES WHERE $nulls")" = 0 ] || { echo "$what: empty flags left" >&2; exit 1; }
  [ "$(sqlite3 "$db/FILES.DB" "SELECT sum(FileSize) FROM FILES")" = \
    "$(sqlite3 "$work/new/FILES.DB" "SELECT sum(FileSize) FROM FILES")" ] || { echo "$what: not the new catalogue" >&2; exit 1; }
}

run_vrk() {
  reset_db "$work/prog/db"
  rm -rf "$work/run" && mkdir -p "$work/run/Download"
  local t0 t1
  t0=$(now_ns)
  (cd "$work/run" && "$work/prog/vrk" getdb 2> "$work/vrk.err") || { cat "$work/vrk.err" >&2; exit 1; }
  t1=$(now_ns)
  check "$work/prog/db" "vrk getdb"
  echo $((t1 - t0))
}
run_pipeline() {
  reset_db "$work/pipe/db"
  rm -rf "$work/pipe/dl" && mkdir -p "$work/pipe/dl"
  local t0 t1
  t0=$(now_ns)
  curl -s -o "$work/pipe/dl/vrk_db.zip" "$url"
  bsdtar -xf "$work/pipe/dl/vrk_db.zip" -C "$work/pipe/dl"
  cp "$work/pipe/dl/FILES.DB" "$work/pipe/dl/MIRRORS.DB" "$work/pipe/dl/FILESCAT.DB" "$work/pipe/db/"
  sqlite3 "$work/pipe/db/FILES.DB" "$updates"
  t1=$(now_ns)
  check "$work/pipe/db" "pipeline"
  echo $((t1 - t0))
}

echo "catalogue: $rows rows, Zip $((zip_bytes / 1024)) KiB from nginx on 127.0.0.1; $runs runs each, best wall time"
vrk_best=; pipe_best=
for _ in $(seq "$runs"); do
  t=$(run_pipeline); [ -z "$pipe_best" ] || [ "$t" -lt "$pipe_best" ] && pipe_best=$t
  t=$(run_vrk); [ -z "$vrk_best" ] || [ "$t" -lt "$vrk_best" ] && vrk_best=$t
done
s() { python3 -c "print(f'{$1 / 1e9:.3f}')"; }
printf '%-44s %10s %8s\n' "" "seconds" "ratio"
printf '%-44s %10s %8s\n' "curl + bsdtar + cp + sqlite3 (15 UPDATEs)" "$(s "$pipe_best")" "1.00"
printf '%-44s %10s %8s\n' "vrk getdb (all-or-nothing install)" "$(s "$vrk_best")" "$(ratio "$vrk_best" "$pipe_best")"
