#!/usr/bin/env bash
# Download benchmark of the HTTP component: a large file from nginx on
# 127.0.0.1 into a file, through `vrk fetch` (plain, and with a status-bar
# like handler on every packet), and through the data module's Http1 with the
# main window's indicators bound (bench_window_fetch, offscreen), and in the
# same window with none bound (what the indicators cost, apart from the
# window's start), side by side with `curl -o` in the same run; and the same
# file over HTTPS (TLS from nginx, a CA of the run's own), `vrk fetch`
# against `curl -o`. Last, the start-up of each: a 1,000-byte file.
# Prints throughput, the ratio to curl, the longest gap between two ticks of
# a 10 ms timer during the download, and the peak memory.
#
# Builds nothing: uses an existing vrk, $BUILD/bin/vrk (BUILD as in
# bench/lib.sh, a Release build) unless a path is given.
#   bench/net/fetch_bench.sh [path/to/vrk]
# Environment: SIZE_MIB (default 256), RUNS (default 3).
. "$(dirname "$0")/../lib.sh"

vrk=${1:-$BIN/vrk}
size_mib=${SIZE_MIB:-256}
runs=${RUNS:-3}
[ -x "$vrk" ] || { echo "no vrk at $vrk (build the 'vrk' target first)" >&2; exit 1; }
require nginx curl python3

make_work

mkdir -p "$work/www"
head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$work/www/big.bin"
start_nginx "$work/www" "$work/nginx" https
port=$nginx_port

url="http://127.0.0.1:$port/big.bin"
secure_url="https://127.0.0.1:$nginx_tls_port/big.bin"
bytes=$((size_mib * 1024 * 1024))
now_ns() { date +%s%N; }
mbps() { python3 -c "print(f'{$bytes / ($1 / 1e9) / 1e6:.1f}')"; }

window=$BIN/bench_window_fetch
declare -A best
# run_curl URL [curl options…]
run_curl() {
  local t0 t1 u=$1
  shift
  rm -f "$work/out.bin"
  sync -f "$work"
  t0=$(now_ns)
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f '%M' -o "$work/curl.mem" curl -s "$@" -o "$work/out.bin" "$u"
  else
    echo "-" > "$work/curl.mem"
    curl -s "$@" -o "$work/out.bin" "$u"
  fi
  t1=$(now_ns)
  [ "$(stat -c %s "$work/out.bin")" -eq "$bytes" ] || { echo "curl: short file" >&2; exit 1; }
  echo "$((t1 - t0)) $(cat "$work/curl.mem")"
}
# run_vrk URL [vrk fetch options…]
run_vrk() {
  local t0 t1 line u=$1
  shift
  rm -f "$work/out.bin"
  sync -f "$work"
  t0=$(now_ns)
  "$vrk" fetch --stats "$@" -o "$work/out.bin" "$u" 2> "$work/vrk.err"
  t1=$(now_ns)
  cmp -s "$work/out.bin" "$work/www/big.bin" || { echo "vrk: file differs" >&2; cat "$work/vrk.err" >&2; exit 1; }
  line=$(grep '^stats:' "$work/vrk.err")
  # wall_ns gap_ms peak_kib
  echo "$((t1 - t0)) $(sed -E 's/.*max_tick_gap_ms=([0-9.]+).*peak_rss_kib=([0-9]+).*/\1 \2/' <<<"$line")"
}

# run_window [--bare]
run_window() {
  local t0 t1 line
  rm -f "$work/out.bin"
  sync -f "$work"
  t0=$(now_ns)
  "$window" "$@" "$url" "$work/out.bin" 2> "$work/win.err"
  t1=$(now_ns)
  cmp -s "$work/out.bin" "$work/www/big.bin" || { echo "window: file differs" >&2; cat "$work/win.err" >&2; exit 1; }
  line=$(grep '^stats:' "$work/win.err")
  echo "$((t1 - t0)) $(sed -E 's/.*max_tick_gap_ms=([0-9.]+).*peak_rss_kib=([0-9]+).*/\1 \2/' <<<"$line")"
}

# What each side negotiates over TLS, from a small file.
head -c 1024 /dev/urandom > "$work/www/small.bin"
small_url="https://127.0.0.1:$nginx_tls_port/small.bin"
"$vrk" fetch --verbose -o "$work/small.out" "$small_url" 2> "$work/vrk.tls" || { cat "$work/vrk.tls" >&2; exit 1; }
curl_tls=$(curl -sv --cacert "$nginx_ca" -o /dev/null "$small_url" 2>&1 | sed -n 's/.*SSL connection using //p' | head -n 1)

echo "file: ${size_mib} MiB from nginx on 127.0.0.1, $runs runs each (each run in another order), best wall time (process start included)"
curl_best=; vrk_best=; vrkh_best=; win_best=; winb_best=; curls_best=; vrks_best=
curl_gap=0; curls_gap=0; vrk_gap=0; vrkh_gap=0; win_gap=0; winb_gap=0; vrks_gap=0
curl_mem=0; curls_mem=0; vrk_mem=0; vrkh_mem=0; win_mem=0; winb_mem=0; vrks_mem=0
# keep NAME TIME GAP PEAK: NAME's best time, its worst gap ("-": none) and
# the peak of its last run.
keep() {
  local -n best=${1}_best gap=${1}_gap mem=${1}_mem
  if [ -z "$best" ] || [ "$2" -lt "$best" ]; then best=$2; fi
  [ "$3" = - ] || gap=$(python3 -c "print(max($gap, $3))")
  mem=$4
}
# One run of one configuration.
measure() {
  local t g=- m
  case $1 in
    curl) read -r t m < <(run_curl "$url") ;;
    curls) read -r t m < <(run_curl "$secure_url" --cacert "$nginx_ca") ;;
    vrk) read -r t g m < <(run_vrk "$url") ;;
    vrks) read -r t g m < <(run_vrk "$secure_url") ;;
    vrkh) read -r t g m < <(run_vrk "$url" --status-handler) ;;
    win) read -r t g m < <(run_window) ;;
    winb) read -r t g m < <(run_window --bare) ;;
  esac
  keep "$1" "$t" "$g" "$m"
}
# Each run takes the configurations in another order: a configuration's
# place in the round (what ran just before it, the page cache and the
# server's state it leaves) moves its time by up to a tenth.
configs=(curl vrk curls vrks vrkh)
[ -x "$window" ] && configs+=(win winb)
for i in $(seq 0 $((runs - 1))); do
  for j in "${!configs[@]}"; do
    measure "${configs[$(((i + j) % ${#configs[@]}))]}"
  done
done

# Start-up and end of each process: the whole run on a 1,000-byte file.
head -c 1000 /dev/urandom > "$work/www/tiny.bin"
tiny_url="http://127.0.0.1:$port/tiny.bin"
start_best() {
  local best= t0 t1
  for _ in $(seq 5); do
    t0=$(now_ns)
    "$@" > /dev/null 2>&1 || { echo "start-up run failed: $*" >&2; exit 1; }
    t1=$(now_ns)
    [ -z "$best" ] || [ $((t1 - t0)) -lt "$best" ] && best=$((t1 - t0))
  done
  python3 -c "print(f'{$best / 1e6:.1f}')"
}
tiny_curl=$(start_best curl -s -o "$work/tiny.out" "$tiny_url")
tiny_vrk=$(start_best "$vrk" fetch -o "$work/tiny.out" "$tiny_url")
tiny_win=-
[ -x "$window" ] && tiny_win=$(start_best "$window" "$tiny_url" "$work/tiny.out")

printf '%-28s %10s %8s %14s %14s\n' "" "MB/s" "vs curl" "max gap (ms)" "peak RSS (KiB)"
printf '%-28s %10s %8s %14s %14s\n' "curl -o" "$(mbps "$curl_best")" "1.00" "-" "$curl_mem"
printf '%-28s %10s %8s %14s %14s\n' "vrk fetch" "$(mbps "$vrk_best")" \
  "$(python3 -c "print(f'{$curl_best / $vrk_best:.2f}')")" "$vrk_gap" "$vrk_mem"
printf '%-28s %10s %8s %14s %14s\n' "vrk fetch --status-handler" "$(mbps "$vrkh_best")" \
  "$(python3 -c "print(f'{$curl_best / $vrkh_best:.2f}')")" "$vrkh_gap" "$vrkh_mem"
if [ -n "$win_best" ]; then
  printf '%-28s %10s %8s %14s %14s\n' "Http1 + window indicators" "$(mbps "$win_best")" \
    "$(python3 -c "print(f'{$curl_best / $win_best:.2f}')")" "$win_gap" "$win_mem"
  printf '%-28s %10s %8s %14s %14s\n' "Http1, window, no indicator" "$(mbps "$winb_best")" \
    "$(python3 -c "print(f'{$curl_best / $winb_best:.2f}')")" "$winb_gap" "$winb_mem"
fi
printf '%-28s %10s %8s %14s %14s\n' "curl -o, HTTPS" "$(mbps "$curls_best")" "1.00" "-" "$curls_mem"
printf '%-28s %10s %8s %14s %14s\n' "vrk fetch, HTTPS" "$(mbps "$vrks_best")" \
  "$(python3 -c "print(f'{$curls_best / $vrks_best:.2f}')")" "$vrks_gap" "$vrks_mem"
echo "HTTPS: vrk $(grep -o 'protocol .*' "$work/vrk.tls" | head -n 1); curl ${curl_tls:-?}; ratio against curl over HTTPS"
echo "start-up and end, 1,000-byte file (best of 5, ms): curl $tiny_curl, vrk fetch $tiny_vrk, window $tiny_win"
echo "max gap: longest interval between two ticks of a 10 ms timer during the download (worst run)"
