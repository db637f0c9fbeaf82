#!/usr/bin/env bash
# Installs what is missing, builds, and runs one whole demo working period under Wine:
# a shared folder with sample data, a local copy, a lock folder, and a demo program as
# the run command that changes the data and ends after a few seconds.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
prepare_run

WS="$BUILD_DIR/demo-workspace"
winpath() { local p="Z:$1"; echo "${p//\//\\}"; }
crlf() { printf '%s\r\n' "$@"; }

step "setting up the demo workspace in $WS"
rm -rf "$WS"
mkdir -p "$WS/share/locks" "$WS/share/data/records" "$WS/pc/data" "$WS/pc/prog"
crlf "2026-01-05 09:00:00  data created" >"$WS/share/data/journal.txt"
crlf "0" >"$WS/share/data/counter.txt"
crlf "id;name" "1;Ada" "2;Brendan" >"$WS/share/data/records/customers.csv"
crlf "an old local copy" >"$WS/pc/data/journal.txt"
cp "$BUILD_DIR/Carvelund.exe" "$BUILD_DIR/demo/DemoApp.exe" "$WS/pc/prog/"
{
  crlf "[RunTime]"
  crlf "RemoteLockFolder=$(winpath "$WS/share/locks")"
  crlf "RemoteSharedDataFolder=$(winpath "$WS/share/data")"
  crlf "LocalDataFolder=$(winpath "$WS/pc/data")"
  crlf "RunCommand=$(winpath "$WS/pc/prog/DemoApp.exe")"
  crlf "RunCommandOptions=\"$(winpath "$WS/pc/data")\" 3"
} >"$WS/pc/prog/Carvelund.Ini"

USER_NAME="Demo"
TOKEN="$WS/share/locks/$USER_NAME.tokenlockforcarvelund"
step "starting Carvelund.exe $USER_NAME"
wine "$WS/pc/prog/Carvelund.exe" "$USER_NAME" >/dev/null 2>&1 </dev/null &
CARVELUND=$!

say() { printf '  %(%H:%M:%S)T  %s\n' -1 "$*"; }
seen=()
once() { # once KEY MESSAGE: says MESSAGE the first time KEY is seen
  local k
  for k in "${seen[@]+"${seen[@]}"}"; do [ "$k" = "$1" ] && return; done
  seen+=("$1"); say "$2"
}
# Each stage as it shows on disk; called once more after the end, since the last stages can
# come and go between two looks.
look() {
  [ -f "$TOKEN" ] && once lock "lock taken: $(basename "$TOKEN") in the lock folder"
  if [ -d "$WS/pc/data.saved" ] && grep -q "data created" "$WS/pc/data/journal.txt" 2>/dev/null; then
    once copyin "data copied in: shared data -> local data (previous local copy kept as data.saved)"
  fi
  if grep -q "working session" "$WS/pc/data/journal.txt" 2>/dev/null; then
    once started "application started: DemoApp.exe is working on the local data"
    [ -n "$(tr -d '\r\n0' <"$WS/pc/data/counter.txt")" ] && once ended "application ended"
    [ -f "$WS/share/data.saved/journal.txt" ] && once confirmed "lock confirmed: the token is still $USER_NAME's"
  fi
  if [ -d "$WS/share/data.saved" ] && grep -q "working session" "$WS/share/data/journal.txt" 2>/dev/null; then
    once copyback "data copied back: local data -> shared data (previous shared data kept as data.saved)"
  fi
  if [ -z "${shot:-}" ] && [ -f "$TOKEN" ] && grep -q "working session" "$WS/pc/data/journal.txt" 2>/dev/null; then
    mkdir -p "$BUILD_DIR/screenshots"
    import -window root "$BUILD_DIR/screenshots/demo-screen.png" 2>/dev/null && shot=1 || shot=0
  fi
}
deadline=$((SECONDS + 120))
while kill -0 "$CARVELUND" 2>/dev/null; do
  look
  ((SECONDS < deadline)) || { kill "$CARVELUND" 2>/dev/null; fail "the demo period did not end within two minutes"; }
  sleep 0.05
done
wait "$CARVELUND" || true
look
[ -f "$TOKEN" ] && fail "the lock token is still there: $TOKEN"
say "lock released: the lock folder is empty"

echo
step "what the period did"
echo "  shared data journal (now):"; sed 's/\r$//; s/^/    /' "$WS/share/data/journal.txt"
echo "  backup of the shared data before copy back (share/data.saved/journal.txt):"
sed 's/\r$//; s/^/    /' "$WS/share/data.saved/journal.txt"
echo "  backup of the local data before copy in (pc/data.saved/journal.txt):"
sed 's/\r$//; s/^/    /' "$WS/pc/data.saved/journal.txt"
grep -q "working session 1" "$WS/share/data/journal.txt" || fail "the shared data did not receive the session"
step "demo working period complete (workspace: $WS)"
