#!/bin/bash
# The cost of `gatesweep analyze' on the analysis benchmark's seeded random
# combinational device (or on the dumps given): instructions under callgrind
# (the whole process, and analyze_pal alone), the median time of 20
# interleaved runs against a `cat' of the same dump, and the peak resident
# set. Builds nothing: it takes a build folder holding gatesweep and
# analyze_bench.
#
#   bench/analyze_cost.sh BUILD_FOLDER [DUMP...]
set -euo pipefail

if [ $# -lt 1 ] || [ ! -x "$1/gatesweep" ]; then
    echo "usage: $0 BUILD_FOLDER [DUMP...]  (BUILD_FOLDER holds gatesweep and analyze_bench)" >&2
    exit 2
fi
build=$1
shift
gatesweep=$build/gatesweep
runs=20
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

dumps=("$@")
if [ ${#dumps[@]} -eq 0 ]; then
    "$build/analyze_bench" --write-dump "$scratch/random.bin"
    dumps=("$scratch/random.bin")
fi

# Instructions of one callgrind run, from its output file.
instructions() {
    local out=$scratch/callgrind.out
    rm -f "$out"
    valgrind --tool=callgrind --callgrind-out-file="$out" "$@" "$gatesweep" analyze "$dump" \
        > /dev/null 2>&1 || true
    sed -n 's/^totals: *\([0-9]*\).*/\1/p; s/^summary: *\([0-9]*\).*/\1/p' "$out" | head -n 1
}

# Nanoseconds of one run of the command, output to the null device.
nanoseconds() {
    local start end
    start=$(date +%s%N)
    "$@" > /dev/null 2>&1 || true
    end=$(date +%s%N)
    echo $((end - start))
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

mega() {
    awk -v n="$1" 'BEGIN { printf "%.2f M", n / 1e6 }'
}

for dump in "${dumps[@]}"; do
    echo "$(basename "$dump"):"
    if command -v valgrind > /dev/null; then
        whole=$(instructions)
        analysis=$(instructions --toggle-collect='analyze_pal*')
        echo "  instructions (callgrind): whole process $(mega "$whole"), analyze_pal $(mega "$analysis")"
    else
        echo "  instructions: valgrind not found"
    fi

    : > "$scratch/analyze.ns"
    : > "$scratch/cat.ns"
    for _ in $(seq "$runs"); do
        nanoseconds "$gatesweep" analyze "$dump" >> "$scratch/analyze.ns"
        nanoseconds cat "$dump" >> "$scratch/cat.ns"
    done
    a=$(median < "$scratch/analyze.ns")
    c=$(median < "$scratch/cat.ns")
    awk -v a="$a" -v c="$c" -v n="$runs" \
        'BEGIN { printf "  time (median of %d interleaved runs): analyze %.2f ms, cat %.2f ms, ratio %.2f\n", n, a / 1e6, c / 1e6, a / c }'

    if [ -x /usr/bin/time ]; then
        kib=$( (/usr/bin/time -f "%M" "$gatesweep" analyze "$dump" 2>&1 > /dev/null || true) | tail -n 1)
        awk -v k="$kib" 'BEGIN { printf "  peak RSS: %d KiB (%.2f MiB)\n", k, k / 1024 }'
    else
        echo "  peak RSS: /usr/bin/time not found"
    fi
done
