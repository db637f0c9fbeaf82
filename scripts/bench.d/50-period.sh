#!/usr/bin/env bash
# Whole working periods of the real program, stage by stage, on the 2,000-file tree and on
# a 20,000-file tree of about the same 210 MB, the application changing one 1 MB file.
# Two PCs share one share: a PC's period after its own last one is "one user"; its period
# after the other PC's is "after another PC" (one file changed there). Medians of
# PERIOD_RUNS rounds after warm-up periods that copy the whole tree in. Beside them, in the
# same run: the floor (the bytes a period must write at this disk's write speed, dd) and
# `cp -a` of the tree. Prints the timeline and each goal as met or NOT met.
# PERIOD_PROGRAM names another Carvelund.exe to time (for example one of before).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../env.sh"
runs="${PERIOD_RUNS:-3}"
trees="${PERIOD_TREES:-2000 20000}"
bench="$BUILD_DIR/tests/period_bench.exe"
maker="$BUILD_DIR/tests/transfer_bench.exe"
helper="$BUILD_DIR/tests/cvhelper.exe"
program="${PERIOD_PROGRAM:-$BUILD_DIR/Carvelund.exe}"
for f in "$bench" "$maker" "$helper" "$program"; do [ -f "$f" ] || fail "missing $f: build first"; done

root="$(mktemp -d /tmp/carvelund-period.XXXXXX)"
trap 'rm -rf "$root"' EXIT
win() { echo "Z:${1//\//\\}"; }  # Wine maps / at Z:
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR ? v[int((NR + 1) / 2)] : "nan") }'; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

# Runs a command as a child subreaper (prctl PR_SET_CHILD_SUBREAPER, x86-64 syscall 157):
# Wine starts each program through a double fork, so the program and the application
# are reaped here, and their bytes written add up in this process's /proc io. Prints
# "write_bytes N" at the end, -1 when the kernel refused. The program may go on deleting
# its old save after the period's window closed: the wait covers that too.
reaped() {
  perl -MPOSIX=:sys_wait_h -e '
    my $reaper = syscall(157, 36, 1, 0, 0, 0) == 0;
    my $pid = fork() // die "fork: $!";
    if (!$pid) { exec { $ARGV[0] } @ARGV or die "exec: $!" }
    $SIG{ALRM} = sub { kill "KILL", $pid };  # a driver that hangs itself
    alarm 600;
    my $rc = 1;
    while ((my $p = wait()) != -1) { if ($p == $pid) { $rc = $? >> 8; last } }
    my $until = time + 30;
    while (time < $until) { my $p = waitpid(-1, WNOHANG); last if $p == -1; select(undef, undef, undef, 0.02) if $p == 0 }
    my $written = -1;
    if ($reaper && open(my $io, "<", "/proc/self/io")) { while (<$io>) { $written = $1 if /^write_bytes: (\d+)/ } }
    print "write_bytes $written\n";
    exit $rc;' -- "$@"
}

# One period of a PC; its figures go to $root/results as
# "tree scenario total token_in in_start in_end app_start app_end back_start back_end token_out written window_closed".
period() {
  local tree="$1" pc="$2" scenario="$3" out
  out="$(mktemp)"
  sync  # each period starts with nothing of the one before still to be written
  # PERIOD_TRACE=FOLDER keeps each period's trace of its stages there.
  local trace=""
  [ -z "${PERIOD_TRACE:-}" ] || trace="$PERIOD_TRACE/$tree-$pc-$scenario-$(date +%s%N).trace"
  CARVELUND_TRACE="${trace:+$(win "$trace")}" reaped wine "$bench" run "$(win "$root/$tree")" "$pc" "$tree-$pc" \
    >"$out" 2>&1 </dev/null || true
  tr -d '\r' <"$out" >"$out.lf"; mv "$out.lf" "$out"
  grep -q "^period bench done 0" "$out" || { cat "$out" >&2; rm -f "$out"; fail "a period of $pc on the $tree-file tree did not finish"; }
  [ "$scenario" = warmup ] || awk -v tree="$tree" -v scenario="$scenario" '
    /^period .* seconds:/ { for (i = 4; i < NF; i += 2) v[$i] = $(i + 1) }
    /^write_bytes / { w = $2 }
    END { print tree, scenario, v["total"], v["token_in"], v["in_start"], v["in_end"], v["app_start"], v["app_end"],
                v["back_start"], v["back_end"], v["token_out"], w, v["window_closed"] }' "$out" >>"$root/results"
  rm -f "$out"
}

# The disk's write speed, flushed, on the disk the periods run on.
dd_speeds=()
for i in 1 2 3; do
  dd_speeds+=("$(LC_ALL=C dd if=/dev/zero of="$root/dd.bin" bs=1M count=256 conv=fsync 2>&1 |
    sed -n 's/^\([0-9]*\) bytes.* copied, \([0-9.e+-]*\) s,.*/\1 \2/p' | awk '{ printf "%.0f", $1 / $2 }')")
  rm -f "$root/dd.bin"
done
disk_speed="$(printf '%s\n' "${dd_speeds[@]}" | median)"
: >"$root/results"
: >"$root/trees"

for tree in $trees; do
  many=""; [ "$tree" = 2000 ] || many=many
  echo "the $tree-file tree:"
  mkdir -p "$root/$tree/share"
  bash "$CARVELUND_ROOT/scripts/wine-run.sh" "$maker" make "$(win "$root/$tree/share/data")" $many | tr -d '\r'
  tree_bytes="$(du -sb "$root/$tree/share/data" | awk '{ print $1 }')"
  changed_bytes="$(stat -c %s "$root/$tree/share/data/group 0/one megabyte.dat")"
  cat "$root/$tree/share/data"/*/* >/dev/null 2>&1 || true  # warm cache, as the periods find it
  cp_times=()
  for i in 1 2 3; do
    sync
    start=$(date +%s.%N)
    cp -a "$root/$tree/share/data" "$root/$tree/cp-copy"
    cp_times+=("$(elapsed "$start" "$(date +%s.%N)")")
    rm -rf "$root/$tree/cp-copy"
  done
  echo "$tree $tree_bytes $changed_bytes $(printf '%s\n' "${cp_times[@]}" | median)" >>"$root/trees"
  for pc in pc pc2; do
    out="$(bash "$CARVELUND_ROOT/scripts/wine-run.sh" "$bench" layout "$(win "$root/$tree")" "$pc" \
      "$(win "$program")" "$(win "$helper")" | tr -d '\r')" || { echo "$out"; fail "no layout for $pc"; }
  done
  # Each PC copies the whole tree in once; then both hold a copy and a save.
  for pc in pc pc2 pc pc2; do period "$tree" "$pc" warmup; done
  for i in $(seq 1 "$runs"); do
    period "$tree" pc2 warmup
    period "$tree" pc other
    period "$tree" pc one
    echo "  round $i of $runs done"
  done
done

echo
echo "each period, seconds from the program's start (-1: not seen):"
printf '%-6s %-6s %7s %7s %7s %7s %7s %7s %7s %7s %7s %7s %9s\n' files case total lock in_start in_end app_start \
  app_end bk_start bk_end release window MB_written
awk '{ printf "%-6s %-6s %7.3f %7.3f %7.3f %7.3f %7.3f %7.3f %7.3f %7.3f %7.3f %7.3f %9.1f\n", $1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $13, $12 / 1e6 }' "$root/results"
echo
echo "disk write speed (dd 256 MB, fsync, median of 3): $(awk -v s="$disk_speed" 'BEGIN { printf "%.0f", s / 1e6 }') MB/s"
echo "program: $program"
echo
echo "timeline, medians of $runs periods, seconds (copy in / copy back: while the copy being built is seen on disk;"
echo "'-' where none was built because nothing had changed; window: from the release until the period's window"
echo "closed; end: from then until the program ended, deleting old saves meanwhile):"
printf '%-6s %-14s %6s %8s %9s %12s %10s %8s %7s %6s %7s | %9s %11s %13s %8s\n' "files" "scenario" "lock" "copy in" \
  "app start" "app->copy bk" "copy back" "release" "window" "end" "total" "start->app" "app end->end" \
  "app end->win." "MB writ."
scenario_median() {  # tree scenario awk-expression
  awk -v t="$1" -v s="$2" '$1 == t && $2 == s { v = '"$3"'; if (v != "skip") print v }' "$root/results" | median
}
for tree in $trees; do
  for scenario in one other; do
    lock=$(scenario_median "$tree" "$scenario" '$4')
    copy_in=$(scenario_median "$tree" "$scenario" '($5 < 0 || $6 < 0) ? 0 : $6 - $5')
    built_in=$(awk -v t="$tree" -v s="$scenario" '$1 == t && $2 == s && $5 >= 0 { n++ } END { print n + 0 }' "$root/results")
    app_start=$(scenario_median "$tree" "$scenario" '$7')
    to_back=$(scenario_median "$tree" "$scenario" '$9 < 0 ? "skip" : $9 - $8')
    back=$(scenario_median "$tree" "$scenario" '($9 < 0 || $10 < 0) ? "skip" : $10 - $9')
    release=$(scenario_median "$tree" "$scenario" '$10 < 0 ? "skip" : $11 - $10')
    closing=$(scenario_median "$tree" "$scenario" '$13 - $11')
    ending=$(scenario_median "$tree" "$scenario" '$3 - $13')
    to_window=$(scenario_median "$tree" "$scenario" '$13 - $8')
    total=$(scenario_median "$tree" "$scenario" '$3')
    after_app=$(scenario_median "$tree" "$scenario" '$3 - $8')
    written=$(scenario_median "$tree" "$scenario" '$12')
    label="one user"; [ "$scenario" = one ] || label="after other PC"
    [ "$built_in" -gt 0 ] || copy_in="-"
    printf '%-6s %-14s %6.3f %8s %9.3f %12.3f %10.3f %8.3f %7.3f %6.3f %7.3f | %9.3f %11.3f %13.3f %8.1f\n' "$tree" \
      "$label" "$lock" "$copy_in" "$app_start" "$to_back" "$back" "$release" "$closing" "$ending" "$total" \
      "$app_start" "$after_app" "$to_window" "$(awk -v b="$written" 'BEGIN { print b / 1e6 }')"
    echo "$tree $scenario $app_start $after_app" >>"$root/goals"
  done
done

echo
awk -v speed="$disk_speed" '
  FNR == NR { bytes[$1] = $2; changed[$1] = $3; cp[$1] = $4; next }
  { start[$1 " " $2] = $3; after[$1 " " $2] = $4; trees[$1] = 1 }
  function verdict(ok) { return ok ? "met" : "NOT met" }
  END {
    for (t in bytes)
      printf "%s files: %.0f MB; cp -a %.3f s; every byte of the tree at disk speed %.3f s; floor of a copy back " \
             "or of a copy in after another PC (the changed %.2f MB at disk speed) %.3f s\n",
             t, bytes[t] / 1e6, cp[t], bytes[t] / speed, changed[t] / 1e6, changed[t] / speed
    print ""
    print "goals:"
    # A goal is judged only on the trees this run measured (PERIOD_TREES may leave one out).
    if (!("2000" in trees)) print "  (the 2,000-file tree was not measured: no goal can be judged)"
    else {
      s = start["2000 one"]; a = after["2000 one"]
      printf "  one user, 2,000 files: start to application %.3f s (at most 1.0): %s\n", s, verdict(s <= 1.0)
      printf "  one user, 2,000 files: application end to program end %.3f s (at most 1.5): %s\n", a, verdict(a <= 1.5)
      # What must be written locally after another PC changed one file: that file.
      o = start["2000 other"]; limit = 2 * changed[2000] / speed + 1
      printf "  after another PC, 2,000 files: start to application %.3f s (at most 2 x %.3f + 1 = %.3f): %s\n",
             o, changed[2000] / speed, limit, verdict(o <= limit)
    }
    if (("20000" in trees) && ("2000" in trees)) {
      split("one other", sc, " ")
      for (k = 1; k <= 2; k++) {
        c = sc[k]; name = c == "one" ? "one user" : "after another PC"
        printf "  20,000 files, %s: start to application %.3f s against %.3f s (at most 3 x): %s\n",
               name, start["20000 " c], start["2000 " c], verdict(start["20000 " c] <= 3 * start["2000 " c])
        printf "  20,000 files, %s: application end to program end %.3f s against %.3f s (at most 3 x): %s\n",
               name, after["20000 " c], after["2000 " c], verdict(after["20000 " c] <= 3 * after["2000 " c])
      }
    }
  }' "$root/trees" "$root/goals"
