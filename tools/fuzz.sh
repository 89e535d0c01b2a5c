#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for a while
# on its seed corpus and past findings: tools/fuzz.sh [SECONDS] [TARGET...]
# (targets: image container harddisk decoders; 60 seconds each by default). A crash or broken
# invariant is copied to tests/fuzz/regressions/TARGET/, where the ordinary
# test suite replays it, and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(image container harddisk decoders)

CC=clang-14 CXX=clang++-14 tools/build.sh build-fuzz -DTARNLIGHT_FUZZ=ON -DTARNLIGHT_WERROR=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

status=0
for target in "${targets[@]}"; do
    corpus=build-fuzz/corpus-$target
    findings=build-fuzz/findings-$target
    # (A target with no past findings has no folder of them in git.)
    mkdir -p "$corpus" "$findings" "tests/fuzz/regressions/$target"
    echo "== fuzz_$target for ${seconds}s"
    if ! LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp" build-fuzz/fuzz_$target "$corpus" "tests/fuzz/seeds/$target" \
        "tests/fuzz/regressions/$target" -max_total_time="$seconds" -timeout=20 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
        2>build-fuzz/fuzz-$target.log; then
        status=1
        tail -40 build-fuzz/fuzz-$target.log
        for crash in "$findings"/*; do
            [ -f "$crash" ] && cp "$crash" "tests/fuzz/regressions/$target/" &&
                echo "kept $(basename "$crash") in tests/fuzz/regressions/$target/"
        done
    fi
    grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)' \
        build-fuzz/fuzz-$target.log || true
    grep -E '^#[0-9]+' build-fuzz/fuzz-$target.log | tail -1 || true
done
exit $status
