#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine on a private display.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
prepare_run
mount_small_disk
step "running the tests"
cd "$BUILD_DIR"
ctest --output-on-failure --timeout 600 "$@"
