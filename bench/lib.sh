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

# measure CMD…: runs CMD once; prints "<seconds> <peak KiB>".
measure() {
  local f
  f=$(mktemp)
  /usr/bin/time -o "$f" -f '%e %M' "$@" >/dev/null 2>&1
  tail -n 1 "$f"
  rm -f "$f"
}

# ratio A B: A / B with three decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "inf"; else printf "%.2f", a / b }'; }
