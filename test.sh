#!/usr/bin/env bash
# Installs what is missing, checks the include rules between the layers, builds with
# AddressSanitizer and UndefinedBehaviorSanitizer (warnings are errors), and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
./scripts/check-layers.sh
# ccache, when present, only as the compiler launcher; an empty value clears an earlier one.
launcher=""
if command -v ccache >/dev/null 2>&1; then launcher=ccache; fi
cmake --preset dev -DCMAKE_CXX_COMPILER_LAUNCHER="$launcher" -DCMAKE_C_COMPILER_LAUNCHER="$launcher"
cmake --build --preset dev
# LeakSanitizer reports Qt's own one-time allocations in some system libraries; leaks in our
# code are still caught by the suppressions being narrow.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$(pwd)/scripts/lsan.supp:print_suppressions=0}"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
ctest --preset dev -j2 "$@"
