#!/usr/bin/env bash
# Times vark-fuzzy's batch subcommands against the GDAL command-line ways of
# doing the same work, on generated parcel layers, and reports the ratios and
# the peak memory of every command.
#
# Usage: bench/run.sh [-b BUILD_DIR] [-w WORK_DIR] [-r RUNS] [COUNT...]
#   BUILD_DIR  a built tree holding bin/vark-fuzzy and bin/make_bench_layers
#              (default: build/default)
#   WORK_DIR   where the layers are written (default: a temporary folder,
#              removed at the end; the 1,000,000-feature layers take 1 GB)
#   RUNS       hyperfine runs per command that writes (default 3); commands
#              that only read run at least 10 times, after one warm-up
#   COUNT      features per layer (default: 10000 100000 1000000)
#
# Needs hyperfine, GNU time (/usr/bin/time) and ogrinfo (scripts/install-deps
# --bench). Every timed run of a command that writes starts from a fresh copy
# of the layer (hyperfine --prepare). Cases:
#   compute  shapefile   vark-fuzzy compute    vs ogrinfo ALTER TABLE + SQLite-dialect UPDATE
#   compute  GeoPackage  vark-fuzzy compute    vs ogrinfo ALTER TABLE + native UPDATE
#            (both compute cases also against QGIS's field calculator,
#            qgis_process native:fieldcalculator with a CASE WHEN formula,
#            writing a new layer, when qgis_process.bin is installed)
#   values   shapefile   vark-fuzzy values     vs ogrinfo SELECT DISTINCT
#   values   GeoPackage  vark-fuzzy values     vs ogrinfo SELECT DISTINCT (native SQL)
#   refusal  shapefile   vark-fuzzy values on a field of one value per
#                        feature (refused, exit 3) vs ogrinfo SELECT DISTINCT
# Targets (at the largest count): shapefile compute <= 0.10 x the
# alternative, GeoPackage compute <= 1.0 x, shapefile values <= 1 x, the
# refusal as fast at every count, and a peak RSS under 64 MiB for every
# vark-fuzzy subcommand.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
repo="$(dirname "$here")"
build="$repo/build/default"
work=""
runs=3
while getopts "b:w:r:" option; do
    case "$option" in
        b) build="$OPTARG" ;;
        w) work="$OPTARG" ;;
        r) runs="$OPTARG" ;;
        *) sed -n '2,16p' "$0" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
counts=("$@")
[ "${#counts[@]}" -gt 0 ] || counts=(10000 100000 1000000)

. "$here/tools.sh"
bench_tools hyperfine ogrinfo /usr/bin/time

if [ -z "$work" ]; then
    work="$(mktemp -d)"
    trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"
work="$(cd "$work" && pwd)"
results="$work/results.md"
: > "$results"

"$maker" grades "$work/grades.txt"
case_sql="$("$maker" sql)"

# The alternatives, as scripts: the SQL holds quotes.
cat > "$work/alt_compute_shp.sh" <<EOF
#!/bin/sh
set -e
ogrinfo -q "\$1/parcels.shp" -sql "ALTER TABLE parcels ADD COLUMN FZY_NATURE float" > /dev/null
ogrinfo -q "\$1/parcels.shp" -dialect SQLite -sql "UPDATE parcels SET FZY_NATURE = $case_sql" > /dev/null
EOF
cat > "$work/alt_compute_gpkg.sh" <<EOF
#!/bin/sh
set -e
ogrinfo -q "\$1/parcels.gpkg" -sql "ALTER TABLE parcels ADD COLUMN FZY_NATURE REAL" > /dev/null
ogrinfo -q "\$1/parcels.gpkg" -sql "UPDATE parcels SET FZY_NATURE = $case_sql" > /dev/null
EOF
cat > "$work/alt_distinct.sh" <<'EOF'
#!/bin/sh
ogrinfo -q "$1" -sql "SELECT DISTINCT $2 FROM parcels" > /dev/null
EOF
# QGIS's field calculator: the same CASE as a QGIS expression (a searched
# CASE on the quoted field name), run by the binary itself (the wrapper
# script passes an option the binary refuses), without a display.
qgis_bin="$(command -v qgis_process.bin || true)"
if [ -n "$qgis_bin" ]; then
    printf '%s' "$case_sql" | sed -e 's/^CASE NATURE WHEN /CASE WHEN "NATURE" = /' \
        -e "s/ WHEN '/ WHEN \"NATURE\" = '/g" > "$work/qgis_formula.txt"
    cat > "$work/alt_qgis.sh" <<EOF
#!/bin/sh
# \$1: the input layer, \$2: the new layer to write
QT_QPA_PLATFORM=offscreen exec "$qgis_bin" run native:fieldcalculator --INPUT="\$1" \\
    --FIELD_NAME=FZY_NATURE --FIELD_TYPE=0 --FIELD_LENGTH=24 --FIELD_PRECISION=15 \\
    --FORMULA="\$(cat "$work/qgis_formula.txt")" --OUTPUT="\$2" > /dev/null 2>&1
EOF
fi
chmod +x "$work"/alt_*.sh

# mean and standard deviation (seconds) of command NAME in a hyperfine CSV.
stat_of() {
    awk -F, -v name="$2" 'NR > 1 && $1 == name { printf "%s %s", $2, $3 }' "$1"
}

# Peak resident memory of a command, in MiB.
peak_mib() {
    /usr/bin/time -f "%M" -o "$work/time.txt" "$@" > /dev/null 2>&1 || true
    awk '{ printf "%.1f", $1 / 1024 }' "$work/time.txt"
}

# bench_pair CASE COUNT TARGET NAME_A CMD_A NAME_B CMD_B [PREPARE [CMD_QGIS]]
# Without PREPARE the commands only read: more runs, after a warm-up. With
# CMD_QGIS, QGIS's way of doing it runs in the same hyperfine run.
bench_pair() {
    local label="$1" count="$2" target="$3" a="$4" cmd_a="$5" b="$6" cmd_b="$7" prepare="${8:-}"
    local cmd_q="${9:-}"
    local csv="$work/$label-$count.csv"
    local args=(--ignore-failure --export-csv "$csv" --style basic)
    if [ -n "$prepare" ]; then
        args+=(--runs "$runs" --prepare "$prepare")
    else
        args+=(--runs "$((runs > 10 ? runs : 10))" --warmup 1)
    fi
    local commands=(-n "$a" "$cmd_a" -n "$b" "$cmd_b")
    [ -z "$cmd_q" ] || commands+=(-n qgis "$cmd_q")
    hyperfine "${args[@]}" "${commands[@]}" > "$work/$label-$count.log" 2>&1
    read -r mean_a sd_a <<< "$(stat_of "$csv" "$a")"
    read -r mean_b sd_b <<< "$(stat_of "$csv" "$b")"
    local mean_q="" sd_q=""
    [ -z "$cmd_q" ] || read -r mean_q sd_q <<< "$(stat_of "$csv" qgis)"
    # The targets hold at the largest count; below it the start of the
    # programs weighs more than their work.
    local judged=0
    [ "$count" = "${counts[-1]}" ] && judged=1
    awk -v l="$label" -v n="$count" -v ma="$mean_a" -v sa="$sd_a" -v mb="$mean_b" -v sb="$sd_b" \
        -v t="$target" -v judged="$judged" -v mq="$mean_q" -v sq="$sd_q" 'BEGIN {
            r = ma / mb
            met = (t == "-" || !judged) ? "-" : ((r <= t) ? "yes" : "no")
            q = (mq == "") ? "| - | -" : sprintf("| %.2f ± %.2f | %.2f", mq, sq, ma / mq)
            printf "| %s | %d | %.2f ± %.2f | %.2f ± %.2f | %.2f | %s | %s %s |\n",
                   l, n, ma, sa, mb, sb, r, (t == "-") ? "-" : "<= " t, met, q
        }' >> "$results"
}

echo "| case | features | vark-fuzzy (s) | GDAL alternative (s) | ratio | target | met | QGIS field calculator (s) | ratio to QGIS |" >> "$results"
echo "|---|---:|---:|---:|---:|---|---|---:|---:|" >> "$results"
rss_rows=()
for count in "${counts[@]}"; do
    echo "== $count features: writing the layers" >&2
    data="$work/data-$count"
    rm -rf "$data"
    mkdir -p "$data/shp" "$data/gpkg"
    "$maker" layer "$data/shp/parcels.shp" "$count"
    "$maker" layer "$data/gpkg/parcels.gpkg" "$count"
    run="$work/run-$count"
    fresh_shp="rm -rf $run && cp -r $data/shp $run"
    fresh_gpkg="rm -rf $run && cp -r $data/gpkg $run"

    echo "== $count features: timing" >&2
    qgis_shp="" qgis_gpkg=""
    if [ -n "$qgis_bin" ]; then
        qgis_shp="$work/alt_qgis.sh $run/parcels.shp $run/qgis.shp"
        qgis_gpkg="$work/alt_qgis.sh $run/parcels.gpkg $run/qgis.gpkg"
    fi
    bench_pair "compute shapefile" "$count" 0.10 \
        vark "$vark compute $run/parcels.shp NATURE --grades $work/grades.txt --quiet" \
        gdal "$work/alt_compute_shp.sh $run" "$fresh_shp" "$qgis_shp"
    bench_pair "compute GeoPackage" "$count" 1.0 \
        vark "$vark compute $run/parcels.gpkg NATURE --grades $work/grades.txt --quiet" \
        gdal "$work/alt_compute_gpkg.sh $run" "$fresh_gpkg" "$qgis_gpkg"
    bench_pair "values shapefile" "$count" 1.0 \
        vark "$vark values $data/shp/parcels.shp NATURE --quiet" \
        gdal "$work/alt_distinct.sh $data/shp/parcels.shp NATURE"
    bench_pair "values GeoPackage" "$count" - \
        vark "$vark values $data/gpkg/parcels.gpkg NATURE --quiet" \
        gdal "$work/alt_distinct.sh $data/gpkg/parcels.gpkg NATURE"
    bench_pair "refusal shapefile (>100 values)" "$count" - \
        vark "$vark values $data/shp/parcels.shp CODE --quiet" \
        gdal "$work/alt_distinct.sh $data/shp/parcels.shp CODE"

    echo "== $count features: peak memory" >&2
    for format in shp gpkg; do
        layer="$data/$format/parcels.$format"
        row="| $count | $format"
        row+=" | $(peak_mib "$vark" fields "$layer" --unit-interval --quiet)"
        row+=" | $(peak_mib "$vark" values "$layer" NATURE --quiet)"
        rm -rf "$run" && cp -r "$data/$format" "$run"
        row+=" | $(peak_mib "$vark" compute "$run/parcels.$format" NATURE --grades "$work/grades.txt" --quiet)"
        row+=" | $(peak_mib "$vark" describe "$run/parcels.$format" FZY_NATURE --quiet)"
        rm -rf "$run" && cp -r "$data/$format" "$run"
        row+=" | $(peak_mib "$work/alt_compute_$format.sh" "$run")"
        row+=" | $(peak_mib "$work/alt_distinct.sh" "$layer" NATURE) |"
        rss_rows+=("$row")
    done
    rm -rf "$run"
    [ "$count" = "${counts[-1]}" ] || rm -rf "$data"
done

{
    echo
    echo "Peak resident memory (MiB; target: under 64 for every vark-fuzzy subcommand):"
    echo
    echo "| features | format | fields --unit-interval | values | compute | describe | GDAL compute | GDAL distinct |"
    echo "|---:|---|---:|---:|---:|---:|---:|---:|"
    printf '%s\n' "${rss_rows[@]}"
} >> "$results"
cat "$results"
