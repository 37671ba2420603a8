#!/usr/bin/env bash
# Installs what is missing, checks the include rules between the layers, builds with
# AddressSanitizer and UndefinedBehaviorSanitizer (warnings are errors), and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
./scripts/check-layers.sh
cmake --preset dev
cmake --build --preset dev
# LeakSanitizer reports Qt's own one-time allocations in some system libraries; leaks in our
# code are still caught by the suppressions being narrow.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$(pwd)/scripts/lsan.supp:print_suppressions=0}"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
ctest --preset dev -j2 "$@"
