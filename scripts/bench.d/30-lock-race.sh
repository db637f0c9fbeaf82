#!/usr/bin/env bash
# Lock race: taker processes released by one event, on a fresh lock folder each round.
# Prints, for the bare look-then-create, for backing off without a pause, for
# TakeTokenLock, and for takers that wait for a holder renewing its life sign (the winner
# then renews its own while the others wait on), the rounds with more than one holder and
# the rounds with none; then what the life sign costs the holder and a waiting PC.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../env.sh"
rounds="${LOCK_RACE_ROUNDS:-50}"
race="$BUILD_DIR/tests/lock_race.exe"
[ -f "$race" ] || fail "missing $race: build first"
out="$(mktemp)"
"$CARVELUND_ROOT/scripts/wine-run.sh" "$race" "$rounds" >"$out" 2>&1 || true
cat "$out"
# A run ended from outside exits 0 without its last line.
grep -q "^lock race done" "$out" || { rm -f "$out"; fail "lock race did not finish"; }
rm -f "$out"
