#!/usr/bin/env bash
# Runs every fuzz target for a bounded time, starting from its seed corpus; stops at the first
# finding (crash, sanitizer report, broken invariant, leak or time-out) and shows it.
# Usage: fuzz/run_fuzzers.sh BUILD_DIR [SECONDS_EACH] [TARGET...]
set -uo pipefail

build=$(cd "$1" && pwd)
seconds=${2:-30}
shift $(($# < 2 ? $# : 2))
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(device_link settings_line rtf_reader app_config)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:check_initialization_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/lsan.supp:print_suppressions=0}

status=0
for target in "${targets[@]}"; do
    bin=$build/fuzz/fuzz_$target
    runs=$build/fuzz-runs/$target
    # New inputs go to the build tree; the seeds in the repository stay as they are.
    mkdir -p "$runs/corpus" "$runs/artifacts"
    args=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1
          -artifact_prefix="$runs/artifacts/")
    [ -f "$here/$target.dict" ] && args+=(-dict="$here/$target.dict")
    start=$(date +%s)
    "$bin" "${args[@]}" "$runs/corpus" "$here/corpus/$target" >"$runs/log" 2>&1
    rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$runs/log" | tail -1)
    corpus=$(ls "$runs/corpus" | wc -l)
    printf '%-14s %s executions in %ss, %s inputs in the corpus: ' \
        "$target" "${execs:-?}" "$(($(date +%s) - start))" "$corpus"
    if [ $rc -eq 0 ]; then
        echo ok
    else
        echo "FAILED (exit $rc)"
        tail -n 60 "$runs/log"
        ls -l "$runs/artifacts"
        status=1
        break
    fi
done
exit $status
