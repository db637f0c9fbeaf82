#!/usr/bin/env bash
# Benchmarks: prints figures; asserts nothing. Each scripts/bench.d/*.sh is one benchmark,
# run with the build, the Wine prefix and the display already set up.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
prepare_run
for bench in "$CARVELUND_ROOT"/scripts/bench.d/*.sh; do
  [ -e "$bench" ] || continue
  step "benchmark: $(basename "$bench" .sh)"
  bash "$bench"
done
