#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix (used by ctest).
# Wine may start its own services from this process; they must not inherit ctest's
# pipes, or ctest would wait for them. So the output goes through a file.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
out="$(mktemp)"
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
rm -f "$out"
exit $rc
