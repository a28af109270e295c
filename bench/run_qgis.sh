#!/usr/bin/env bash
# Times "vark:textcriterion" inside QGIS against `vark-fuzzy compute` on the
# same parcel layers, in one hyperfine run per format, every run from a fresh
# copy of the layer.
#
# Usage: bench/run_qgis.sh [-b BUILD_DIR] [-w WORK_DIR] [-r RUNS] [COUNT...]
#   BUILD_DIR  a tree built with -DVARK_WITH_QGIS=ON (default: build/default)
#   WORK_DIR   where the layers are written (default: a temporary folder)
#   RUNS       hyperfine runs per command (default 5)
#   COUNT      features per layer (default: 1000000)
#
# The QGIS side is bin/vark_qgis_compute: a headless QGIS that adds the layer
# to its project as a user does and runs the algorithm as processing.run
# does. Its start-up is timed on its own in the same hyperfine run
# (vark_qgis_compute open: QGIS started, the layer added, nothing run), and
# taken off: the algorithm's time is (compute - open). The program's own
# clock of the run alone (layer reload included) is printed as well.
# Target: the algorithm inside QGIS within 2x `vark-fuzzy compute`.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="$(dirname "$here")/build/default"
work=""
runs=5
while getopts "b:w:r:" option; do
    case "$option" in
        b) build="$OPTARG" ;;
        w) work="$OPTARG" ;;
        r) runs="$OPTARG" ;;
        *) sed -n '2,18p' "$0" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
counts=("$@")
[ "${#counts[@]}" -gt 0 ] || counts=(1000000)

. "$here/tools.sh"
bench_tools hyperfine
qgis="$build/bin/vark_qgis_compute"
[ -x "$qgis" ] || { echo "missing $qgis: build with -DVARK_WITH_QGIS=ON" >&2; exit 1; }

if [ -z "$work" ]; then
    work="$(mktemp -d)"
    trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"
work="$(cd "$work" && pwd)"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME"
"$maker" grades "$work/grades.txt"

mean() {  # mean seconds of command NAME in a hyperfine CSV
    awk -F, -v name="$2" '$1 == name { print $2 }' "$1"
}

echo "| features | format | vark-fuzzy compute | QGIS run (compute - start-up) | ratio | the run by QGIS's own clock |"
echo "|---:|---|---:|---:|---:|---:|"
for count in "${counts[@]}"; do
    for format in shp gpkg; do
        data="$work/data-$count-$format"
        if [ ! -d "$data" ]; then
            mkdir -p "$data"
            "$maker" layer "$data/parcels.$format" "$count"
        fi
        run="$work/run"
        fresh="rm -rf $run && cp -r $data $run"
        "$qgis" open "$data/parcels.$format" > /dev/null 2>&1  # QGIS's profile, made once
        hyperfine --runs "$runs" --prepare "$fresh" --export-csv "$work/$count-$format.csv" \
            -n cli "$build/bin/vark-fuzzy compute $run/parcels.$format NATURE --grades $work/grades.txt --quiet" \
            -n qgis "$qgis compute $run/parcels.$format NATURE --grades $work/grades.txt --quiet" \
            -n start "$qgis open $run/parcels.$format" > "$work/$count-$format.log" 2>&1
        cli=$(mean "$work/$count-$format.csv" cli)
        inside=$(awk -v a="$(mean "$work/$count-$format.csv" qgis)" \
                     -v b="$(mean "$work/$count-$format.csv" start)" 'BEGIN { print a - b }')
        own=()
        for _ in 1 2 3; do
            eval "$fresh"
            own+=("$("$qgis" compute "$run/parcels.$format" NATURE --grades "$work/grades.txt" 2>/dev/null | awk '/^ms / { print $2 / 1000 }')")
        done
        awk -v n="$count" -v f="$format" -v c="$cli" -v q="$inside" -v o="${own[*]}" 'BEGIN {
            printf "| %d | %s | %.2f s | %.2f s | %.2f | %s s |\n", n, f, c, q, q / c, o }'
    done
done
