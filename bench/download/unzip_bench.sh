#!/usr/bin/env bash
# Extraction benchmark: one 200 MB Zip file (2,000 small members of about
# 60 KiB and one member of 100 MiB, deflated, made once with python's
# zipfile and kept under $CACHE) extracted by `vrk unzip`, side by side in
# the same run with `bsdtar -xf` and python3's zipfile, each into a fresh
# directory. Prints the best wall and CPU time of each, their ratios to
# bsdtar and the peak memory, and the peak memory of vrk unzip on a one-member archive: what
# the 200 MB take beyond that is what the extraction itself holds.
#
# Builds nothing: uses an existing vrk, $BUILD/bin/vrk (BUILD as in
# bench/lib.sh, a Release build) unless a path is given.
#   bench/download/unzip_bench.sh [path/to/vrk]
# Environment: RUNS (default 3).
. "$(dirname "$0")/../lib.sh"

vrk=${1:-$BIN/vrk}
runs=${RUNS:-3}
[ -x "$vrk" ] || { echo "no vrk at $vrk (build the 'vrk' target first)" >&2; exit 1; }
py=/usr/bin/python3
[ -x "$py" ] || py=$(command -v python3) || { echo "python3 is not installed" >&2; exit 1; }
command -v bsdtar >/dev/null || { echo "bsdtar is not installed (libarchive-tools)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is not installed" >&2; exit 1; }

zip=$CACHE/unzip-200mb.zip
if [ ! -f "$zip" ]; then
  mkdir -p "$CACHE"
  "$py" - "$zip.part" <<'PY'
import base64, os, random, sys, zipfile
rng = random.Random(20)
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(2000):
        size = rng.randrange(40 * 1024, 84 * 1024)
        z.writestr("small/m%04d.bin" % i, rng.randbytes(size))
    # 100 MiB of text: base64 lines of random bytes, which deflate to about 3/4.
    with z.open("big/large.txt", "w") as f:
        left = 100 * 1024 * 1024
        while left > 0:
            line = base64.b64encode(rng.randbytes(57 * 1024))
            chunk = line[:left]
            f.write(chunk)
            left -= len(chunk)
PY
  mv "$zip.part" "$zip"
fi

work=$(mktemp -d /tmp/vrkbench-XXXXXX)
trap 'rm -rf "$work"' EXIT
now_ns() { date +%s%N; }

# run NAME CMD…: extracts into a fresh $work/NAME; prints "<ns> <peak KiB>
# <CPU ms>" (CPU: user and system time, less disturbed than wall time by
# other work on the machine).
run() {
  local name=$1 t0 t1
  shift
  rm -rf "$work/$name"
  mkdir -p "$work/$name"
  sync
  t0=$(now_ns)
  /usr/bin/time -f '%M %U %S' -o "$work/$name.mem" "$@" >/dev/null 2>"$work/$name.err" || {
    echo "$name failed:" >&2
    cat "$work/$name.err" >&2
    exit 1
  }
  t1=$(now_ns)
  echo "$((t1 - t0)) $(tail -n 1 "$work/$name.mem" | awk '{ printf "%d %d", $1, ($2 + $3) * 1000 }')"
}

# The member files land flat (vrk junks stored directories) or under small/
# and big/ (the others); the bytes must be the same.
check() {
  local files
  files=$(find "$work/$1" -type f | wc -l)
  [ "$files" -eq 2001 ] || { echo "$1: $files files instead of 2001" >&2; exit 1; }
  cmp -s "$(find "$work/$1" -name large.txt)" "$(find "$work/bsdtar" -name large.txt)" || {
    echo "$1: large.txt differs from bsdtar's" >&2
    exit 1
  }
}

declare -A best mem cpu
for i in $(seq "$runs"); do
  # Alternate the order so that no tool always runs on a warmer cache.
  order=(bsdtar vrk python)
  [ $((i % 2)) -eq 0 ] && order=(python vrk bsdtar)
  for tool in "${order[@]}"; do
    case $tool in
      bsdtar) read -r t m c < <(run bsdtar bsdtar -xf "$zip" -C "$work/bsdtar") ;;
      vrk) read -r t m c < <(run vrk "$vrk" unzip "$zip" "$work/vrk") ;;
      python) read -r t m c < <(run python "$py" -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$work/python") ;;
    esac
    if [ -z "${best[$tool]:-}" ] || [ "$t" -lt "${best[$tool]}" ]; then best[$tool]=$t; fi
    if [ -z "${cpu[$tool]:-}" ] || [ "$c" -lt "${cpu[$tool]}" ]; then cpu[$tool]=$c; fi
    mem[$tool]=$m
  done
  check vrk
  check python
done

# Flat memory: the same command on a one-member archive of a few bytes.
tiny=$work/tiny.zip
"$py" -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1], "w").writestr("t.txt", "tiny\n")' "$tiny"
read -r _ tiny_mem _ < <(run tiny "$vrk" unzip "$tiny" "$work/tiny")

echo "archive: $(du -m "$zip" | cut -f1) MB, 2001 members (2000 of 40-84 KiB, one of 100 MiB); $runs runs each, best times"
printf '%-26s %10s %10s %12s %10s %16s\n' "" "wall (s)" "vs bsdtar" "CPU (s)" "vs bsdtar" "peak RSS (KiB)"
for tool in bsdtar vrk python; do
  label=$tool
  [ "$tool" = bsdtar ] && label="bsdtar -xf"
  [ "$tool" = vrk ] && label="vrk unzip"
  [ "$tool" = python ] && label="python3 zipfile"
  printf '%-26s %10s %10s %12s %10s %16s\n' "$label" \
    "$(awk -v t="${best[$tool]}" 'BEGIN { printf "%.2f", t / 1e9 }')" "$(ratio "${best[$tool]}" "${best[bsdtar]}")" \
    "$(awk -v t="${cpu[$tool]}" 'BEGIN { printf "%.2f", t / 1e3 }')" "$(ratio "${cpu[$tool]}" "${cpu[bsdtar]}")" \
    "${mem[$tool]}"
done
printf '%-26s %10s %10s %12s %10s %16s\n' "vrk unzip, one tiny member" "" "" "" "" "$tiny_mem"
