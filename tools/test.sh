#!/usr/bin/env bash
# Installs what Tarnlight needs, then builds and runs the whole test suite:
# once under AddressSanitizer and UndefinedBehaviorSanitizer, then both fuzz
# targets for a minute each, then the ordinary build with its Debian package
# installed and removed again, and its tests, whose ctest summary closes the
# output.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

echo "== Sanitizer build (AddressSanitizer, UndefinedBehaviorSanitizer)"
tools/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DTARNLIGHT_SANITIZE=ON >/dev/null
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp" \
    ctest --test-dir build-asan --output-on-failure -j "$(nproc)"

echo "== Fuzz targets, 60 seconds each"
tools/fuzz.sh 60

echo "== Release build"
tools/build.sh build >/dev/null

echo "== Debian package: install, use, remove"
tools/package-test.sh build

ctest --test-dir build --output-on-failure -j "$(nproc)"
