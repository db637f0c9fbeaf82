#!/usr/bin/env bash
# CPU time that watching a started program costs per second: a 100 ms timer alone,
# the same timer polling IsRunning, and one poll on its own in each phase of the watch
# (the program, a process it started, an earlier copy, the look at every process that
# sees the end). Prints figures only.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../env.sh"
bench="$BUILD_DIR/tests/watch_bench.exe"
[ -f "$bench" ] || fail "missing $bench: build first"
bash "$CARVELUND_ROOT/scripts/wine-run.sh" "$bench" "${WATCH_SECONDS:-10}"
