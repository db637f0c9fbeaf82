#!/usr/bin/env bash
# Lock race between PCs as they really are: each taker runs in a Wine prefix of its own (a
# wine server of its own, as each PC has its own system) and reaches the lock folder
# through a mount of its own of the share through slowfs (scripts/tools/slowfs.c): every
# request a round trip, and each PC with its own kernel caches of names and attributes,
# kept for a second, as a Windows client keeps its own for ten. Takers are released
# together by a go file; each tries the lock once (TakeTokenLock). Prints the rounds with
# more than one holder and the rounds with none, over LOCK_RACE_PC_ROUNDS rounds (200) of
# LOCK_RACE_PC_TAKERS takers (8), each request costing LOCK_RACE_PC_US microseconds (1000);
# LOCK_RACE_PC_PROTOCOLS="check-create take" puts the bare look-then-create beside it.
# A taker that Wine would not start is left out of its round, which counts those that ran.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../env.sh"
rounds="${LOCK_RACE_PC_ROUNDS:-200}"
takers="${LOCK_RACE_PC_TAKERS:-8}"
latency="${LOCK_RACE_PC_US:-1000}"
# TakeTokenLock; "check-create take" also shows the bare look-then-create beside it.
protocols="${LOCK_RACE_PC_PROTOCOLS:-take}"
taker="$BUILD_DIR/tests/lock_taker.exe"
[ -f "$taker" ] || fail "missing $taker: build first"
[ -e /dev/fuse ] || { echo "lock race between PCs: skipped, no FUSE device"; exit 0; }
build_slowfs

work="$BUILD_DIR/race-pcs"
back="$work/share-back"
mkdir -p "$work" "$back"
slowfs="$SLOWFS"

mounts=()
prefixes=()
cleanup() {
  local prefix mount
  for prefix in "${prefixes[@]}"; do WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true; done
  for mount in "${mounts[@]}"; do fusermount3 -u "$mount" 2>/dev/null || umount -l "$mount" 2>/dev/null || true; done
}
trap cleanup EXIT

# One PC: a prefix made from the project's (its system files shared as hard links, its
# registry its own), a mount of the share, and \\net\share pointing at that mount.
make_pc() {
  local k="$1" pc="$work/pc$1"
  local prefix="$pc/prefix" mount="$pc/share"
  if [ ! -f "$prefix/system.reg" ]; then
    rm -rf "$prefix"
    mkdir -p "$prefix/dosdevices"
    cp -al "$WINEPREFIX/drive_c" "$prefix/drive_c"
    cp "$WINEPREFIX"/*.reg "$WINEPREFIX/.update-timestamp" "$prefix/"
    ln -s ../drive_c "$prefix/dosdevices/c:"
    ln -s / "$prefix/dosdevices/z:"
  fi
  mkdir -p "$mount" "$prefix/dosdevices/unc/net"
  mountpoint -q "$mount" && fusermount3 -u "$mount"
  SLOWFS_US="$latency" "$slowfs" "$back" "$mount" || fail "cannot mount slowfs at $mount"
  mounts+=("$mount")
  ln -sfn "$mount" "$prefix/dosdevices/unc/net/share"
  WINEPREFIX="$prefix" wineserver -p 2>/dev/null || true
  WINEPREFIX="$prefix" wine cmd /c exit >/dev/null 2>&1 </dev/null || fail "Wine cannot run programs in $prefix"
  prefixes+=("$prefix")
}

step "setting up $takers PCs (prefixes, servers, slowfs mounts at $latency us a request)"
for k in $(seq 1 "$takers"); do make_pc "$k"; done

# One protocol's race: prints its line, then every odd round.
race_protocol() {
  local protocol="$1" r k rc holders ran tokens ms
  local double=0 none=0 stray=0 counted=0 notrun=0 notcounted=0 total=0 tries=0 longest=0
  local problems=()
  for r in $(seq 1 "$rounds"); do
    local round="$work/round"
    rm -rf "$round"
    mkdir -p "$round" "$back/race/r$r"
    local start_dir
    start_dir="$(winepath -w "$round" 2>/dev/null)" || start_dir="Z:${round//\//\\}"
    for k in $(seq 1 "$takers"); do
      (
        rc=0
        WINEPREFIX="${prefixes[$((k - 1))]}" wine "$taker" "\\\\net\\share\\race\\r$r" "pc$k" "file:$start_dir" \
          "$protocol" "$start_dir\\pc$k.ms" >/dev/null 2>&1 </dev/null || rc=$?
        echo "$rc" >"$round/pc$k.rc"
      ) &
    done
    # Go once every taker has said it is ready, or has ended without (Wine would not start it).
    local waiting
    for _ in $(seq 1 6000); do
      waiting=0
      for k in $(seq 1 "$takers"); do
        [ -e "$round/pc$k.ready" ] || [ -e "$round/pc$k.rc" ] || waiting=1
      done
      ((waiting)) || break
      sleep 0.01
    done
    : >"$round/go"
    wait
    holders=0; ran=0
    for k in $(seq 1 "$takers"); do
      rc="$(cat "$round/pc$k.rc" 2>/dev/null || echo none)"
      case "$rc" in
        10) holders=$((holders + 1)); ran=$((ran + 1)) ;;
        11) ran=$((ran + 1)) ;;
        *) notrun=$((notrun + 1)); problems+=("round $r: pc$k did not run (exit $rc)"); continue ;;
      esac
      ms="$(cut -d. -f1 "$round/pc$k.ms" 2>/dev/null || echo 0)"
      total=$((total + ms)); tries=$((tries + 1)); ((ms > longest)) && longest=$ms
    done
    if ((ran == 0)); then notcounted=$((notcounted + 1)); continue; fi
    counted=$((counted + 1))
    ((holders > 1)) && { double=$((double + 1)); problems+=("round $r: $holders holders"); }
    ((holders == 0)) && { none=$((none + 1)); problems+=("round $r: no holder"); }
    tokens="$(find "$back/race/r$r" -maxdepth 1 -name '*.tokenlockforcarvelund' | wc -l)"
    ((tokens == holders)) || { stray=$((stray + 1)); problems+=("round $r: $holders holder(s), $tokens token(s) left"); }
  done
  rm -rf "$back/race"
  printf '%-13s %6d %6d %10d %10d %12d %12d %12d %12d %11d\n' "$protocol" "$takers" "$counted" "$double" "$none" \
    "$stray" "$notrun" "$notcounted" "$((tries ? total / tries : 0))" "$longest"
  local line shown=0
  for line in "${problems[@]}"; do
    ((shown++ < 20)) && echo "    $line"
  done
  ((${#problems[@]} > 20)) && echo "    ... and $((${#problems[@]} - 20)) more"
  if [ "$protocol" = take ]; then
    if ((counted == 0)); then
      echo "goal: no round could be counted"
    elif ((double == 0 && none == 0)); then
      echo "goal: 0 rounds with more than one holder and 0 without one: met"
    else
      echo "goal: 0 rounds with more than one holder and 0 without one: NOT met"
    fi
  fi
}

step "racing: $rounds rounds of $takers takers, each its own PC"
printf '%-13s %6s %6s %10s %10s %12s %12s %12s %12s %11s\n' "protocol" "takers" "rounds" ">1 holder" "no holder" \
  "stray token" "not started" "not counted" "mean try ms" "max try ms"
for protocol in $protocols; do race_protocol "$protocol"; done
echo "lock race between PCs done"
