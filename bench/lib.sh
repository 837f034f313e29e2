# Shared helpers of the benchmark drivers. Source it from a driver:
#   . "$(dirname "$0")/../lib.sh"
# BUILD: the build directory holding bin/ (default: build, a Release build).
set -euo pipefail
BENCH_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$BENCH_ROOT/build}
BIN=$BUILD/bin
CACHE=${VRK_BENCH_CACHE:-/tmp/vrk-bench}

# catalogue N: prints the program directory of an N-row catalogue (made once,
# seeded, kept under $CACHE); its aliases.ini points at N/db.
catalogue() {
  local n=$1 dir=$CACHE/cat-$1
  if [ ! -f "$dir/db/FILES.DB" ]; then
    mkdir -p "$dir"
    "$BIN/demogen" --out "$dir/db" --rows "$n" --aliases "$dir/aliases.ini" >/dev/null
  fi
  echo "$dir"
}

# run_timed CMD…: runs CMD once, its output to /dev/null, and prints its
# wall time in seconds from start to end, read to the microsecond and
# printed with four decimals (time(1) counts in 10 ms steps, too coarse for
# runs of a few hundredths of a second).
run_timed() {
  python3 - "$@" <<'PY'
import os, shutil, sys, time
null = os.open(os.devnull, os.O_WRONLY)
prog = shutil.which(sys.argv[1]) or sys.argv[1]
actions = [(os.POSIX_SPAWN_DUP2, null, 1), (os.POSIX_SPAWN_DUP2, null, 2)]
t = time.perf_counter()
pid = os.posix_spawn(prog, sys.argv[1:], os.environ, file_actions=actions)
os.waitpid(pid, 0)
print(f"{time.perf_counter() - t:.4f}")
PY
}

# measure CMD…: runs CMD once under time(1); prints "<seconds> <peak KiB>",
# the seconds as run_timed gives them (time(1)'s own start, about a
# millisecond, included), the peak CMD's largest resident size.
measure() {
  local f s
  f=$(mktemp)
  s=$(run_timed /usr/bin/time -o "$f" -f '%M' "$@")
  echo "$s $(tail -n 1 "$f")"
  rm -f "$f"
}

# best_seconds CMD…: the best wall time in seconds of $RUNS (default 3) runs.
best_seconds() {
  local b="" s
  for _ in $(seq "${RUNS:-3}"); do
    s=$(run_timed "$@")
    b=$(awk -v a="$s" -v b="$b" 'BEGIN { print (b == "" || a < b) ? a : b }')
  done
  echo "$b"
}

# require PROGRAM…: stops with a message at the first one not installed.
require() {
  local p
  for p in "$@"; do
    command -v "$p" >/dev/null || [ -x "/usr/sbin/$p" ] || { echo "$p is not installed" >&2; exit 1; }
  done
}

# make_work: a fresh $work directory, removed on exit together with the
# nginx that start_nginx started there.
make_work() {
  work=$(mktemp -d /tmp/vrkbench-XXXXXX)
  nginx_pid=
  trap 'cleanup_work' EXIT
}
cleanup_work() {
  [ -n "${nginx_pid:-}" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
  rm -rf "$work"
}

# ratio A B: A / B with two decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "inf"; else printf "%.2f", a / b }'; }

# start_nginx ROOT DIR [https]: serves ROOT with nginx on a free 127.0.0.1
# port, its configuration and logs in DIR; sets nginx_port and nginx_pid (the
# caller kills nginx_pid when done) and returns once the server answers.
# With https it also serves ROOT over TLS on nginx_tls_port, with a
# certificate from a CA of its own (scripts/certs) whose file it sets as
# nginx_ca and exports as SSL_CERT_FILE, so that vrk trusts it.
start_nginx() {
  local root=$1 dir=$2 nginx_bin user_line= tls_server=
  free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
  nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
  nginx_port=$(free_port)
  mkdir -p "$dir/logs" "$dir/tmp"
  [ "$(id -u)" -eq 0 ] && user_line="user root;"
  if [ "${3:-}" = https ]; then
    nginx_tls_port=$(free_port)
    "$BENCH_ROOT/scripts/certs" ca "$dir/tls" bench-ca
    "$BENCH_ROOT/scripts/certs" server "$dir/tls" bench-ca server IP:127.0.0.1,DNS:localhost
    nginx_ca=$dir/tls/bench-ca.pem
    export SSL_CERT_FILE=$nginx_ca
    tls_server="server { listen 127.0.0.1:$nginx_tls_port ssl; ssl_certificate $dir/tls/server.pem;
    ssl_certificate_key $dir/tls/server.key; root $root; }"
  fi
  "$BENCH_ROOT/scripts/peer-conf" nginx.conf.in DIR="$dir" USER="$user_line" ACCESS_LOG=off \
    SERVERS="  server { listen 127.0.0.1:$nginx_port; root $root; }
  $tls_server" > "$dir/nginx.conf"
  "$nginx_bin" -p "$dir" -c "$dir/nginx.conf" -e "$dir/logs/error.log" &
  nginx_pid=$!
  for _ in $(seq 100); do curl -s -o /dev/null "http://127.0.0.1:$nginx_port/" && return 0; sleep 0.05; done
  echo "nginx did not answer on port $nginx_port (see $dir/logs)" >&2
  return 1
}
