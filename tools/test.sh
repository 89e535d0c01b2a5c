#!/usr/bin/env bash
# Installs what Tarnlight needs, then builds and runs the whole test suite:
# once under AddressSanitizer and UndefinedBehaviorSanitizer, then both fuzz
# targets for a minute each, then the Release build, then the Debian packages
# built, checked, installed and removed again, and the Release build's tests,
# whose ctest summary closes the output. Warnings are errors here (and only
# here: a user's build never fails on a new compiler's warnings).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

echo "== Sanitizer build (AddressSanitizer, UndefinedBehaviorSanitizer)"
tools/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DTARNLIGHT_SANITIZE=ON -DTARNLIGHT_WERROR=ON >/dev/null
# Dead stack frames are kept poisoned, so that a pointer into a test's
# finished frame is reported where it is used rather than corrupting
# whatever frame reuses the memory.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp" \
    ctest --test-dir build-asan --output-on-failure -j "$(nproc)"

echo "== Fuzz targets, 60 seconds each"
tools/fuzz.sh 60

echo "== Release build"
tools/build.sh build -DCMAKE_BUILD_TYPE=Release -DTARNLIGHT_WERROR=ON >/dev/null

echo "== Debian packages: build, check, install, use, remove"
tools/package-test.sh

ctest --test-dir build --output-on-failure -j "$(nproc)"
