#!/usr/bin/env bash
# Program race: eight instances of the real program started at once per round; prints
# the rounds with more or fewer than one holder, exits other than 0, and instances that
# ended silently (no lock, no dialog, no message). PROGRAM_RACE_ROUNDS sets the rounds;
# WINEDEBUG may be set (e.g. err+all) to see Wine's own error messages beside them.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../env.sh"
rounds="${PROGRAM_RACE_ROUNDS:-20}"
race="$BUILD_DIR/tests/program_race.exe"
[ -f "$race" ] || fail "missing $race: build first"
out="$(mktemp)"
cd "$BUILD_DIR/tests"  # the race finds Carvelund.exe and cvhelper.exe from here
"$CARVELUND_ROOT/scripts/wine-run.sh" "$race" "$rounds" >"$out" 2>&1 || true
cat "$out"
grep -q "^program race done" "$out" || { rm -f "$out"; fail "program race did not finish"; }
rm -f "$out"
