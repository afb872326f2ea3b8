#!/usr/bin/env bash
# Builds the whole suite with AddressSanitizer and UndefinedBehaviorSanitizer in build-sanitize/ and
# runs it offscreen; the first report of either sanitizer ends the test that ran into it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build-sanitize -G Ninja -DORVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-sanitize
export QT_QPA_PLATFORM=offscreen
# Leak checking is off: Qt, fontconfig and the print system keep process-wide caches until exit,
# which LeakSanitizer would report in every test without pointing at a fault of ours.
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=0:detect_stack_use_after_return=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --test-dir build-sanitize --output-on-failure "$@"
