#!/usr/bin/env bash
# CPU time the program uses while it polls the simulator, over 30 s (set
# T5170_BENCH_SECONDS to change), as a percentage of one core. The program
# runs as a copy under build/bench-shell/ with its own configuration file, on
# the offscreen platform unless a display is set.
#
#   bench/shell/cpu_poll.sh [build-dir]       (default: build)
set -euo pipefail
cd "$(dirname "$0")/../.."
build="$(realpath -m "${1:-build}")"
seconds="${T5170_BENCH_SECONDS:-30}"
work="$build/bench-shell"
mkdir -p "$work"
cp -f "$build/bin/t5170" "$work/t5170"
link="$work/instrument"
printf '[Connection]\nComPort=%s\n' "$link" >"$work/t5170.INI"

"$build/bin/t5170-sim" --link "$link" </dev/null >/dev/null &
sim=$!
prog=""
cleanup() {
    [ -n "$prog" ] && kill "$prog" 2>/dev/null || true
    kill "$sim" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done

if [ -z "${DISPLAY:-}" ]; then export QT_QPA_PLATFORM=offscreen; fi
"$work/t5170" &
prog=$!
sleep 3 # connected and settled

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
p0=$(ticks "$prog"); s0=$(ticks "$sim"); t0=$(date +%s.%N)
sleep "$seconds"
p1=$(ticks "$prog"); s1=$(ticks "$sim"); t1=$(date +%s.%N)
awk -v p="$((p1 - p0))" -v s="$((s1 - s0))" -v hz="$hz" -v t0="$t0" -v t1="$t1" 'BEGIN {
    wall = t1 - t0
    printf "program CPU while polling: %.2f %% of a core (%.2f s in %.1f s; goal < 1 %%)\n", 100 * p / hz / wall, p / hz, wall
    printf "simulator CPU meanwhile:   %.2f %% of a core\n", 100 * s / hz / wall
}'
