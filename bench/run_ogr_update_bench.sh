#!/usr/bin/env bash
# Benchmark of the GDAL adapter's update pass on large polygon layers.
# Usage: bench/run_ogr_update_bench.sh [build-dir] [feature counts...]
#   build-dir: a configured and built tree holding bin/VARK_fuzzy.so and bin/VARK_fuzzy_ogr.so
#              (default: build/default); counts default to 10000 100000.
# For each format (shapefile, GeoPackage) and count, writes the layer, then
# runs the pass once under /usr/bin/time -v and prints wall time and peak
# resident memory. Memory must not grow with the number of features.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(dirname "$here")"
build="$(cd "${1:-$repo/build/default}" && pwd)"
shift || true
counts=("$@")
[ "${#counts[@]}" -gt 0 ] || counts=(10000 100000)

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
exe="$work/ogr_update_bench"
# shellcheck disable=SC2046
c++ -std=c++20 -O2 -Wall -Wextra -o "$exe" "$here/ogr_update_bench.cpp" \
    -I"$repo/src" $(gdal-config --cflags) \
    "$build/bin/VARK_fuzzy_ogr.so" "$build/bin/VARK_fuzzy.so" $(gdal-config --libs) -Wl,-rpath,"$build/bin"

printf '%-10s %8s %10s %10s  %s\n' format features wall_s peak_MiB pass
for n in "${counts[@]}"; do
    for ext in shp gpkg; do
        dir="$work/$ext-$n"
        mkdir -p "$dir"
        "$exe" create "$dir/parcels.$ext" "$n"
        /usr/bin/time -v -o "$dir/time.txt" "$exe" update "$dir/parcels.$ext" > "$dir/out.txt"
        wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$dir/time.txt")
        rss=$(awk -F': ' '/Maximum resident set size/ {printf "%.1f", $2/1024}' "$dir/time.txt")
        printf '%-10s %8s %10s %10s  %s\n' "$ext" "$n" "$wall" "$rss" "$(cat "$dir/out.txt")"
        rm -rf "$dir"
    done
done
