#!/usr/bin/env bash
# A whole working period of the real program on the 2,000-file, 210 MB tree, the
# application changing one 1 MB file: the program of now against the program of before
# the flushes, links, change-time check and wait for the application's processes
# (commit db0bf8d, built on demand into build/bench-before/), in turns, each on its own
# share and PC after PERIOD_WARMUPS untimed periods; medians of PERIOD_RUNS runs. Beside
# them the floor: the bytes the period must write at this disk's write speed (dd), and
# `cp -a` of the tree. Prints figures only.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../env.sh"
runs="${PERIOD_RUNS:-5}"
warmups="${PERIOD_WARMUPS:-2}"
before_commit=db0bf8d
before_dir="$BUILD_DIR/bench-before"
bench="$BUILD_DIR/tests/period_bench.exe"
maker="$BUILD_DIR/tests/transfer_bench.exe"
helper="$BUILD_DIR/tests/cvhelper.exe"
for f in "$bench" "$maker" "$helper" "$BUILD_DIR/Carvelund.exe"; do [ -f "$f" ] || fail "missing $f: build first"; done

root="$(mktemp -d /tmp/carvelund-period.XXXXXX)"
source_copy=""
cleanup() { rm -rf "$root"; [ -z "$source_copy" ] || rm -rf "$source_copy"; }
trap cleanup EXIT
win() { echo "Z:${1//\//\\}"; }  # Wine maps / at Z:
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR ? v[int((NR + 1) / 2)] : "nan") }'; }

build_before() {
  [ -f "$before_dir/Carvelund.exe" ] && return
  echo "building the program of $before_commit into $before_dir"
  source_copy="$(mktemp -d /tmp/carvelund-before.XXXXXX)"
  git -C "$CARVELUND_ROOT" archive "$before_commit" | tar -x -C "$source_copy" ||
    fail "cannot take commit $before_commit out of the repository"
  { cmake -S "$source_copy" -B "$source_copy/build" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$source_copy/cmake/mingw-w64-x86_64.cmake" &&
    cmake --build "$source_copy/build" --target Carvelund -j "$(nproc)"; } >"$source_copy/build.log" 2>&1 ||
    { tail -n 30 "$source_copy/build.log" >&2; fail "the program of $before_commit did not build"; }
  mkdir -p "$before_dir"
  cp "$source_copy/build/Carvelund.exe" "$before_dir/Carvelund.exe"
  rm -rf "$source_copy"; source_copy=""
}

# Runs a command as a child subreaper (prctl PR_SET_CHILD_SUBREAPER, x86-64 syscall 157):
# Wine starts each program through a double fork, so the program and the application
# are reaped here, and their bytes written add up in this process's /proc io. Prints
# "write_bytes N" at the end, -1 when the kernel refused.
reaped() {
  perl -MPOSIX=:sys_wait_h -e '
    my $reaper = syscall(157, 36, 1, 0, 0, 0) == 0;
    my $pid = fork() // die "fork: $!";
    if (!$pid) { exec { $ARGV[0] } @ARGV or die "exec: $!" }
    $SIG{ALRM} = sub { kill "KILL", $pid };  # a driver that hangs itself
    alarm 600;
    my $rc = 1;
    while ((my $p = wait()) != -1) { if ($p == $pid) { $rc = $? >> 8; last } }
    # The program may end a moment after its driver has seen it end.
    my $until = time + 10;
    while (time < $until) { my $p = waitpid(-1, WNOHANG); last if $p == -1; select(undef, undef, undef, 0.02) if $p == 0 }
    my $written = -1;
    if ($reaper && open(my $io, "<", "/proc/self/io")) { while (<$io>) { $written = $1 if /^write_bytes: (\d+)/ } }
    print "write_bytes $written\n";
    exit $rc;' -- "$@"
}

# One period of a variant, its figures added to the results; stops the benchmark on a problem.
period() {
  local variant="$1" label="$2" out
  out="$(mktemp)"
  sync  # each period starts with nothing of the one before still to be written
  reaped wine "$bench" run "$(win "$root/$variant")" "$label" >"$out" 2>&1 </dev/null || true
  tr -d '\r' <"$out" >"$out.lf"; mv "$out.lf" "$out"
  grep -q "^period bench done 0" "$out" || { cat "$out" >&2; rm -f "$out"; fail "period $label did not finish"; }
  awk -v variant="$variant" '
    /^period .* seconds:/ { for (i = 4; i < NF; i += 2) v[$i] = $(i + 1) }
    /^write_bytes / { w = $2 }
    END { printf "%s %s %s %s %s %s %s\n", variant, v["total"], v["token_in"], v["app_start"], v["app_end"], v["token_out"], w }' \
    "$out" | tee -a "$root/results.$label" >>"$root/results"
  rm -f "$out"
}

build_before

echo "making the bench tree"
bash "$CARVELUND_ROOT/scripts/wine-run.sh" "$maker" make "$(win "$root/tree")" | tr -d '\r'
tree_bytes="$(du -sb "$root/tree" | awk '{ print $1 }')"
changed_bytes="$(stat -c %s "$root/tree/group 0/one megabyte.dat")"

# The disk's write speed, flushed, on the disk the periods run on.
dd_speeds=()
for i in 1 2 3; do
  dd_speeds+=("$(LC_ALL=C dd if=/dev/zero of="$root/dd.bin" bs=1M count=256 conv=fsync 2>&1 |
    sed -n 's/^\([0-9]*\) bytes.* copied, \([0-9.e+-]*\) s,.*/\1 \2/p' | awk '{ printf "%.0f", $1 / $2 }')")
  rm -f "$root/dd.bin"
done
disk_speed="$(printf '%s\n' "${dd_speeds[@]}" | median)"

cat "$root"/tree/*/* >/dev/null 2>&1 || true  # warm cache, as the periods find it
cp_times=()
for i in $(seq 1 "$runs"); do
  sync
  start=$(date +%s.%N)
  cp -a "$root/tree" "$root/cp-copy"
  end=$(date +%s.%N)
  cp_times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")
  rm -rf "$root/cp-copy"
done
cp_median="$(printf '%s\n' "${cp_times[@]}" | median)"

declare -A program=([now]="$BUILD_DIR/Carvelund.exe" [before]="$before_dir/Carvelund.exe")
for variant in now before; do
  mkdir -p "$root/$variant/share"
  cp -a "$root/tree" "$root/$variant/share/data"
  out="$(bash "$CARVELUND_ROOT/scripts/wine-run.sh" "$bench" layout "$(win "$root/$variant")" \
    "$(win "${program[$variant]}")" "$(win "$helper")" | tr -d '\r')" || { echo "$out"; fail "no layout for $variant"; }
done
rm -rf "$root/tree"

echo "warm-up: $warmups periods each (the first copies the whole tree in)"
for w in $(seq 1 "$warmups"); do
  for variant in now before; do period "$variant" "$variant-warmup-$w" >/dev/null; done
done
: >"$root/results"

row='%-10s %8.3f %9.3f %10.3f %8.3f %10.3f %11.1f\n'
printf '%-10s %8s %9s %10s %8s %10s %11s\n' "run" "total" "token in" "app start" "app end" "token out" "MB written"
for i in $(seq 1 "$runs"); do
  order="now before"; ((i % 2)) || order="before now"  # neither always goes first
  for variant in $order; do
    period "$variant" "$variant-$i" >/dev/null
    read -r _ total token_in app_start app_end token_out written <"$root/results.$variant-$i"
    printf "$row" "$variant-$i" "$total" "$token_in" "$app_start" "$app_end" "$token_out" \
      "$(awk -v b="$written" 'BEGIN { print b / 1e6 }')"
  done
done

column_median() { awk -v v="$1" -v c="$2" '$1 == v { print $c }' "$root/results" | median; }
echo
echo "medians of $runs periods, seconds from the program's start:"
printf '%-10s %8s %9s %10s %8s %10s %11s\n' "program" "total" "token in" "app start" "app end" "token out" "MB written"
for variant in now before; do
  # shellcheck disable=SC2046
  printf "$row" "$variant" $(for c in 2 3 4 5 6; do column_median "$variant" "$c"; done) \
    "$(awk -v b="$(column_median "$variant" 7)" 'BEGIN { print b / 1e6 }')"
done

# The same periods as lengths of their stages.
awk '{ print $1, $3, $4 - $3, $5 - $4, $6 - $5, $2 - $6 }' "$root/results" >"$root/stages"
stage_median() { awk -v v="$1" -v c="$2" '$1 == v { print $c }' "$root/stages" | median; }
echo
echo "median length of each stage, seconds:"
printf '%-10s %12s %11s %11s %16s %13s\n' "program" "to the lock" "copy in" "application" "to the release" "to the end"
for variant in now before; do
  # shellcheck disable=SC2046
  printf '%-10s %12.3f %11.3f %11.3f %16.3f %13.3f\n' "$variant" $(for c in 2 3 4 5 6; do stage_median "$variant" "$c"; done)
done

now_median="$(column_median now 2)"
before_median="$(column_median before 2)"
awk -v now="$now_median" -v before="$before_median" -v speed="$disk_speed" -v cp="$cp_median" \
  -v tree="$tree_bytes" -v changed="$changed_bytes" -v nowb="$(column_median now 7)" -v beforeb="$(column_median before 7)" 'BEGIN {
  floor = changed  # to the share; the copy in has nothing new to write: the share holds the last copy back
  printf "\n"
  printf "disk write speed (dd 256 MB, fsync, median of 3): %.0f MB/s\n", speed / 1e6
  printf "floor: %.2f MB must be written (the changed file to the share; nothing new to copy in): %.3f s\n", floor / 1e6, floor / speed
  if (nowb >= 0 && beforeb >= 0)
    printf "written at disk speed: now %.1f MB %.3f s, before %.1f MB %.3f s\n", nowb / 1e6, nowb / speed, beforeb / 1e6, beforeb / speed
  printf "cp -a of the tree (%.0f MB, median): %.3f s\n", tree / 1e6, cp
  printf "whole period, median: now %.3f s, before %.3f s, floor %.3f s, cp -a %.3f s\n", now, before, floor / speed, cp
  printf "now / before: %.2f x; goal at most 1.5 x: %s\n", now / before, (now <= 1.5 * before ? "met" : "not met")
}'
