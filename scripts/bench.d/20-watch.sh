#!/usr/bin/env bash
# CPU time that watching a started program costs per second: a 100 ms timer alone,
# the same timer polling IsRunning, and one poll on its own. Prints figures only.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../env.sh"
bench="$BUILD_DIR/tests/watch_bench.exe"
[ -f "$bench" ] || fail "missing $bench: build first"
bash "$CARVELUND_ROOT/scripts/wine-run.sh" "$bench" "${WATCH_SECONDS:-10}"
