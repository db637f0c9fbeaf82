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
