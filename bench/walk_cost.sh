#!/bin/bash
# The cost of walking each registered published fuse map (and a PAL16R8 of
# 256 states) on the simulated module, board A: the modelled USB time of
# the walk, its ratio to the modelled time of the dump sweep, and the host
# time of walk plus fit. Builds nothing: it takes a build folder holding
# gatesweep, gatesweep-walk, gatesweep-fit and walk_maps.
#
#   bench/walk_cost.sh BUILD_FOLDER [FOLDER holding jedec/*.jed]
set -euo pipefail

if [ $# -lt 1 ] || [ ! -x "$1/gatesweep-walk" ]; then
    echo "usage: $0 BUILD_FOLDER [FOLDER holding jedec/*.jed]" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
maps=$(cd "${2:-$(dirname "$0")/../../shared/testdata}" && pwd)/jedec
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

# The modelled seconds that the simulated library prints at the end of a run.
modelled() {
    tr '\r' '\n' | sed -n 's/^Modelled USB time: \([0-9.]*\) s.*/\1/p' | tail -n 1
}

"$build/walk_maps" shift.jed
sweep=$( (FTD2XX_SIM_TIME=1 FTD2XX_SIM_CHIP=jedec:PAL16R8:shift.jed "$build/gatesweep" dump d.bin 2>&1 || true) | modelled)
echo "dump sweep of 2^18 conditions: $sweep s modelled"
printf '%-36s %8s %7s %10s %9s %7s\n' map states trans. modelled "x sweep" host
while read -r file device; do
    path=$maps/$file
    [ "$file" = shift.jed ] && path=shift.jed
    [ -f "$path" ] || continue
    rm -f w.walk w.jed
    start=$(date +%s%N)
    out=$(FTD2XX_SIM_TIME=1 FTD2XX_SIM_CHIP=jedec:$device:$path "$build/gatesweep-walk" w.walk 2>&1 || true)
    "$build/gatesweep-fit" w.walk w.jed > /dev/null 2>&1 || true
    end=$(date +%s%N)
    time=$(echo "$out" | modelled)
    walked=$(echo "$out" | sed -n 's/^Walked \([0-9]*\) states and \([0-9]*\) transitions.*/\1 \2/p')
    printf '%-36s %8s %7s %9ss %9s %5sms\n' "$file" ${walked:-? ?} "$time" \
        "$(awk -v a="$time" -v b="$sweep" 'BEGIN { printf "%.3f", a / b }')" $(((end - start) / 1000000))
done << 'LIST'
sun3_60_1564-02_pal16r4.jed PAL16R4
sun3_60_1599-01_pal16r4.jed PAL16R4
sun3_60_1580-01_pal16r6.jed PAL16R6
sun3_60_1594-01_pal16r8.jed PAL16R8
sun3_60_1580-01_gdj_gal16v8.jed GAL16V8
sun3_60_1599-01_gdj_gal16v8.jed GAL16V8
alphamission_15b_fixed_gal16v8.jed GAL16V8
shift.jed PAL16R8
LIST
