#!/usr/bin/env bash
# What the worker thread costs: the same transfer in place and on a worker while the
# calling thread handles its messages, in turns. Prints figures only.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../env.sh"
bench="$BUILD_DIR/tests/worker_bench.exe"
[ -f "$bench" ] || fail "missing $bench: build first"
folder="$(mktemp -d /tmp/carvelund-worker-XXXXXX)"
trap 'rm -rf "$folder"' EXIT
bash "$CARVELUND_ROOT/scripts/wine-run.sh" "$bench" "Z:$(echo "$folder" | tr / '\\')\\bench" "${WORKER_FILES:-2000}" "${WORKER_ROUNDS:-7}"
