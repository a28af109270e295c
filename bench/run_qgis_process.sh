#!/usr/bin/env bash
# Times the algorithm run through QGIS's command-line runner against
# `vark-fuzzy compute` on the same shapefile, in one hyperfine run, every
# run from a fresh copy of the layer; `qgis_process list` (the runner started,
# its plugins loaded, nothing run) is timed beside them as the runner's own
# start-up.
#
# Usage: bench/run_qgis_process.sh [-p PREFIX] [-b BUILD_DIR] [-r RUNS] [COUNT]
#   PREFIX     where the program and the plugin are installed (default /usr:
#              the Debian packages; another prefix: `cmake --install`)
#   BUILD_DIR  a built tree holding bin/make_bench_layers (default: build/default)
#   RUNS       hyperfine runs per command (default 3)
#   COUNT      features of the shapefile (default 1000000)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
prefix=/usr
build="$(dirname "$here")/build/default"
runs=3
while getopts "p:b:r:" option; do
    case "$option" in
        p) prefix="$OPTARG" ;;
        b) build="$OPTARG" ;;
        r) runs="$OPTARG" ;;
        *) sed -n '2,14p' "$0" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
count="${1:-1000000}"

. "$here/tools.sh"
bench_tools hyperfine
qp=qgis_process
command -v qgis_process.bin >/dev/null && qp=qgis_process.bin
program="$prefix/bin/vark-fuzzy"
[ -x "$program" ] || { echo "missing $program: install the packages or use -p" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$work/src" "$work/run-layer"
chmod 700 "$XDG_RUNTIME_DIR"
[ "$prefix" = /usr ] || export QGIS_PLUGINPATH="$prefix/share/qgis/python/plugins"
"$qp" plugins enable vark_fuzzy_processing >/dev/null 2>&1 || true

"$build/bin/make_bench_layers" layer "$work/src/parcels.shp" "$count" >/dev/null
"$build/bin/make_bench_layers" grades "$work/grades.txt" >/dev/null
matrix="GRADES=$(sed -E 's/->/,/' "$work/grades.txt" | paste -sd, -)"
prepare="rm -f $work/run-layer/* && cp $work/src/* $work/run-layer/"
layer="$work/run-layer/parcels.shp"
# The runner's command in a script of its own: the grades hold quotes.
printf '#!/bin/sh\nexec %q run vark:textcriterion -- %q FIELD=NATURE %q LEVELS=2 STYLE=0\n' \
    "$qp" "INPUT=$layer" "$matrix" > "$work/qgis-run.sh"
chmod +x "$work/qgis-run.sh"

hyperfine --runs "$runs" --export-markdown "$work/results.md" --prepare "$prepare" \
    -n "qgis_process list (start-up)" "$qp list" \
    -n "vark-fuzzy compute" \
    "$program compute $layer NATURE --grades $work/grades.txt --quiet" \
    -n "qgis_process run vark:textcriterion" \
    "$work/qgis-run.sh"
cat "$work/results.md"
