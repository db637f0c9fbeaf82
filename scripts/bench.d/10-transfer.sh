#!/usr/bin/env bash
# TransferTree on a tree of about 2,000 files and 200 MB, against `cp -a` of the same tree
# on the same disk and against the bare shell copy (SHFileOperationA alone) beneath it.
# Warm cache; medians of TRANSFER_RUNS runs. Prints figures only.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../env.sh"
runs="${TRANSFER_RUNS:-3}"
bench="$BUILD_DIR/tests/transfer_bench.exe"
[ -f "$bench" ] || fail "missing $bench: build first"

root="$(mktemp -d /tmp/carvelund-transfer.XXXXXX)"
trap 'rm -rf "$root"' EXIT
win() { echo "Z:${1//\//\\}"; }  # Wine maps / at Z:

run_bench() {
  local out
  out="$(mktemp)"
  bash "$CARVELUND_ROOT/scripts/wine-run.sh" "$bench" "$@" >"$out" 2>&1 || true
  cat "$out"
  grep -q "^transfer bench done" "$out" || { rm -f "$out"; fail "transfer bench did not finish: $*"; }
  cat "$out" >>"$root/results"
  rm -f "$out"
}

run_bench make "$(win "$root/source")"
cat "$root"/source/*/* >/dev/null 2>&1 || true  # warm the cache, as the shell copies will find it

cp_times=()
for i in $(seq 1 "$runs"); do
  start=$(date +%s.%N)
  cp -a "$root/source" "$root/cp-copy"
  end=$(date +%s.%N)
  cp_times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")
  rm -rf "$root/cp-copy"
  echo "run $i: cp -a ${cp_times[-1]} s"
done
cp_median="$(printf '%s\n' "${cp_times[@]}" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')"

run_bench measure "$(win "$root/source")" "$(win "$root/work")" "$runs"
shell_median="$(awk '/^shell_copy_seconds/ { print $2 }' "$root/results")"
delete_median="$(awk '/^shell_delete_seconds/ { print $2 }' "$root/results")"
transfer_median="$(awk '/^transfer_seconds/ { print $2 }' "$root/results")"

awk -v cp="$cp_median" -v sh="$shell_median" -v de="$delete_median" -v tr="$transfer_median" 'BEGIN {
  printf "median seconds: cp -a %.3f, SHFileOperationA copy %.3f (delete %.3f), TransferTree %.3f\n", cp, sh, de, tr
  printf "TransferTree / cp -a:        %.1f x\n", tr / cp
  printf "TransferTree / shell copy:   %.2f x\n", tr / sh
  printf "TransferTree / (shell copy + shell delete): %.2f x\n", tr / (sh + de)
  printf "shell copy / cp -a:          %.1f x\n", sh / cp
}'

# Moving only what changed, against the full transfer of before, in one run.
run_bench changes "$(win "$root/source")" "$(win "$root/changes")"
awk '
  { sub(/\r$/, "") }
  /^before_seconds/ { before = $2 + 0 }
  /^(nothing|one|ten|every)_.*_seconds / { name = $1; sub(/_seconds$/, "", name); secs[name] = $2 + 0; order[++n] = name }
  /_source_bytes / { name = $1; sub(/_source_bytes$/, "", name); bytes[name] = $2 + 0 }
  /_ms_per_unchanged_file / { name = $1; sub(/_ms_per_unchanged_file$/, "", name); per[name] = sprintf("%.3f", $2) }
  END {
    printf "%-28s %9s %9s %14s %22s\n", "transfer", "seconds", "speed-up", "MB from source", "ms per unchanged file"
    printf "%-28s %9.3f %9s %14s %22s\n", "full (before)", before, "1.00", "all", "-"
    for (i = 1; i <= n; i++) { k = order[i]; printf "%-28s %9.3f %9.2f %14.3f %22s\n", k, secs[k], before / secs[k], bytes[k] / 1e6, (k in per ? per[k] : "-") }
    printf "goal: one 1 MB file changed reads at most 1.01 MB: %s\n", (bytes["one_1MB_file_changed"] <= 1.01 * 1048576 ? "met" : "NOT met")
    printf "goal: one file changed at least 3x faster than before: %s\n", (before / secs["one_1MB_file_changed"] >= 3 ? "met" : "NOT met")
    printf "goal: every file changed at most 5%% slower than before: %s\n", (secs["every_file_changed"] <= 1.05 * before ? "met" : "NOT met")
  }' "$root/results"

# What the safety checks of a period cost next to its two transfers.
run_bench safety "$(win "$root/source")" "$(win "$root/safety")"

# Putting the new tree on disk before the switch: full transfers, flushed and not.
run_bench flush "$(win "$root/source")" "$(win "$root/flush")" "$runs"
awk '
  { sub(/\r$/, "") }
  /^unflushed_seconds/ { u = $2 + 0 }
  /^flushed_seconds/ { f = $2 + 0 }
  END { printf "full transfer of the bench tree: unflushed %.3f s, flushed %.3f s (%.2f x)\n", u, f, f / u }' "$root/results"

# Whether parallel work pays for the local copy: every file of the tree copied and then
# flushed on 1, 2 and 4 threads; medians.
run_bench parallel "$(win "$root/source")" "$(win "$root/parallel")" "$runs"
awk '
  { sub(/\r$/, "") }
  /^parallel_run / { copy[$4] = copy[$4] " " $6; flush[$4] = flush[$4] " " $8; seen[$4] = 1 }
  function med(list,    n, v, i, j, t) {
    n = split(list, v, " ")
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (v[j] + 0 < v[i] + 0) { t = v[i]; v[i] = v[j]; v[j] = t }
    return v[int((n + 1) / 2)]
  }
  END {
    printf "local copy of every file, then its flush, by threads (median seconds):\n"
    for (t = 1; t <= 4; t *= 2) if (t in seen) printf "  %d thread%s: copy %.3f, flush %.3f\n", t, (t > 1 ? "s" : ""), med(copy[t]), med(flush[t])
  }' "$root/results"
