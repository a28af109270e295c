#!/usr/bin/env bash
# Times vark-fuzzy compute on a PostGIS table against the least the server
# itself needs for the same field (psql: ALTER TABLE ADD COLUMN + one UPDATE
# ... CASE in one transaction) and against QGIS's field calculator reading
# the same table, and measures vark-fuzzy's peak memory at every size.
#
# Usage: bench/run_pg.sh [-b BUILD_DIR] [-w WORK_DIR] [-r RUNS] [-q QGIS_MAX] [COUNT...]
#   BUILD_DIR  a built tree holding bin/vark-fuzzy and bin/make_bench_layers
#              (default: build/default)
#   WORK_DIR   where the layers and results are written (default: a
#              temporary folder, removed at the end)
#   RUNS       hyperfine runs per command (default 3)
#   QGIS_MAX   the largest COUNT at which QGIS's field calculator takes part
#              in the timed runs (default: every COUNT); above it QGIS runs
#              once, after the timed runs, and its row says so
#   COUNT      polygons in the table (default: 10000 100000 1000000)
#
# Starts its own throw-away PostgreSQL 15 + PostGIS cluster (pg_virtualenv,
# loopback only, removed at the end) and needs hyperfine, GNU time, ogr2ogr
# and psql (scripts/install-deps --bench, postgresql-15-postgis-3); QGIS
# takes part when qgis_process.bin is installed. For every COUNT it loads the
# parcels of make_bench_layers into public.parcels (primary key fid, GiST
# index on geom, as ogr2ogr creates them), then times in ONE hyperfine run,
# every run after the same --prepare (the added column and the criterion
# record dropped, the table rewritten with VACUUM FULL, a CHECKPOINT):
#   floor       psql: BEGIN; ALTER TABLE ADD COLUMN double precision;
#               UPDATE ... SET ... = CASE ... END; COMMIT;
#   vark        vark-fuzzy compute 'PG:...' nature --layer parcels --name FZY_nature --grades
#               (left out, with the reason, while compute refuses the table)
#   qgis        qgis_process native:fieldcalculator on the postgres layer,
#               writing a new table of the same database
# Each command's result is checked against the floor's (the number of rows
# of every degree) before it is timed. Then peak resident memory of
# vark-fuzzy compute and values (/usr/bin/time -v). Targets at the largest
# count: vark <= 1.1 x the floor; memory under 64 MiB at every count.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
repo="$(dirname "$here")"

# Everything below runs inside the throw-away cluster, which sets PGHOST,
# PGPORT, PGUSER, PGPASSWORD and PGDATABASE.
if [ -z "${VARK_PG_BENCH_CLUSTER:-}" ]; then
    command -v pg_virtualenv > /dev/null || {
        echo "missing pg_virtualenv (postgresql-common)" >&2
        exit 1
    }
    # -t: the cluster's files in a temporary folder even for root, so that
    # it meets no other throw-away cluster of this machine.
    VARK_PG_BENCH_CLUSTER=1 exec pg_virtualenv -t -v 15 "$0" "$@"
fi

build="$repo/build/default"
work=""
runs=3
qgis_max=""
while getopts "b:w:r:q:" option; do
    case "$option" in
        b) build="$OPTARG" ;;
        w) work="$OPTARG" ;;
        r) runs="$OPTARG" ;;
        q) qgis_max="$OPTARG" ;;
        *) sed -n '7,17p' "$0" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
counts=("$@")
[ "${#counts[@]}" -gt 0 ] || counts=(10000 100000 1000000)

. "$here/tools.sh"
bench_tools hyperfine ogr2ogr psql /usr/bin/time

if [ -z "$work" ]; then
    work="$(mktemp -d)"
    trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"
work="$(cd "$work" && pwd)"
results="$work/results.md"
: > "$results"

export PGPORT="${PGPORT:-5432}"
# The server's notices (DROP ... IF EXISTS on what is not there) are noise.
export PGOPTIONS="-c client_min_messages=warning"
# The password stays in the environment (libpq reads PGPASSWORD): it is in
# no command line and no result.
conninfo="dbname=$PGDATABASE host=$PGHOST port=$PGPORT user=$PGUSER"
pg="PG:$conninfo"
sql() { psql -X -q -v ON_ERROR_STOP=1 "$@"; }
sql -c "CREATE EXTENSION IF NOT EXISTS postgis"

field=nature
column=FZY_nature
"$maker" grades "$work/grades.txt"
# The maker's CASE names the field unquoted, which the server folds to the
# lower-case column ogr2ogr made.
case_sql="$("$maker" sql)"

# The floor's degrees are double precision literals: numeric ones would cost
# the floor a conversion per row that the column does not need.
floor_case="$(printf '%s' "$case_sql" | sed -E "s/ (THEN|ELSE) ([0-9.]+)/ \1 float8 '\2'/g")"
cat > "$work/floor.sql" <<EOF
BEGIN;
ALTER TABLE public.parcels ADD COLUMN "$column" double precision;
UPDATE public.parcels SET "$column" = $floor_case;
COMMIT;
EOF
# The degrees the floor writes, as (degree, rows) lines: every command's
# result must be the same.
cat > "$work/expected.sql" <<EOF
SELECT ($case_sql)::double precision AS d, count(*) FROM public.parcels GROUP BY d ORDER BY d;
EOF

qgis_bin="$(command -v qgis_process.bin || true)"
if [ -n "$qgis_bin" ]; then
    # QGIS's expression: a searched CASE on the quoted field name.
    printf '%s' "$case_sql" | sed -e "s/^CASE NATURE WHEN /CASE WHEN \"$field\" = /" \
        -e "s/ WHEN '/ WHEN \"$field\" = '/g" > "$work/qgis_formula.txt"
    cat > "$work/qgis.sh" <<EOF
#!/bin/sh
# The postgres provider's layer in, a new table of the same database out.
QT_QPA_PLATFORM=offscreen exec "$qgis_bin" run native:fieldcalculator \\
    --INPUT="postgres://$conninfo key='fid' table=\"public\".\"parcels\" (geom)" \\
    --FIELD_NAME=$column --FIELD_TYPE=0 --FIELD_LENGTH=24 --FIELD_PRECISION=15 \\
    --FORMULA="\$(cat "$work/qgis_formula.txt")" \\
    --OUTPUT="postgis:$conninfo table=\"public\".\"parcels_qgis\" (geom)" > "$work/qgis.log" 2>&1
EOF
    chmod +x "$work/qgis.sh"
fi

# Tables of the schema, one name a line.
tables() {
    sql -At -c "SELECT tablename FROM pg_tables WHERE schemaname = 'public' ORDER BY 1"
}

# The rows of every degree in COLUMN of TABLE.
degrees_of() {
    sql -At -c "SELECT \"$2\" AS d, count(*) FROM public.\"$1\" GROUP BY d ORDER BY d"
}

# The reset before every timed run. record_tables: the tables compute made
# for its criterion records; their rows go too.
record_tables=()
write_reset() {
    {
        echo "DROP TABLE IF EXISTS public.parcels_qgis;"
        echo "ALTER TABLE public.parcels DROP COLUMN IF EXISTS \"$column\";"
        local table
        for table in "${record_tables[@]}"; do
            echo "DELETE FROM public.\"$table\";"
        done
        # Without the rewrite every UPDATE would leave a million dead rows
        # and index entries to the next run.
        echo "VACUUM (FULL, ANALYZE) public.parcels;"
        echo "VACUUM public.parcels;"
        echo "CHECKPOINT;"
    } > "$work/reset.sql"
}
reset="psql -X -q -v ON_ERROR_STOP=1 -f $work/reset.sql"

# mean and standard deviation (seconds) of command NAME in a hyperfine CSV.
stat_of() {
    awk -F, -v name="$2" 'NR > 1 && $1 == name { printf "%s %s", $2, $3 }' "$1"
}

# Peak resident memory (MiB) of a command under /usr/bin/time -v, and its
# exit status when it failed.
peak_mib() {
    local status=0
    /usr/bin/time -v -o "$work/time.txt" "$@" > /dev/null 2> "$work/peak.err" || status=$?
    awk -F': ' -v s="$status" '/Maximum resident set size/ {
        printf "%.1f%s", $2 / 1024, (s == 0) ? "" : " (exit " s ")" }' "$work/time.txt"
}

vark_compute=("$vark" compute "$pg" "$field" --layer parcels --name "$column"
    --grades "$work/grades.txt" --quiet)
vark_values=("$vark" values "$pg" "$field" --layer parcels --quiet)

{
    echo "| rows | psql floor (s) | vark-fuzzy compute (s) | vark / floor | target | QGIS field calculator (s) | QGIS / floor | vark / QGIS |"
    echo "|---:|---:|---:|---:|---|---:|---:|---:|"
} >> "$results"
rss_rows=()
notes=()
for count in "${counts[@]}"; do
    echo "== $count rows: loading" >&2
    sql -c "DROP TABLE IF EXISTS public.parcels, public.parcels_qgis"
    rm -f "$work/parcels.gpkg"
    "$maker" layer "$work/parcels.gpkg" "$count"
    ogr2ogr -f PostgreSQL "$pg" "$work/parcels.gpkg" parcels -nln public.parcels \
        -lco GEOMETRY_NAME=geom -lco FID=fid -lco SPATIAL_INDEX=GIST --config PG_USE_COPY YES
    rm -f "$work/parcels.gpkg"
    sql -At -f "$work/expected.sql" > "$work/expected.txt"

    # Each command once, checked, before it is timed.
    record_tables=()
    write_reset
    sql -f "$work/reset.sql"
    sql -f "$work/floor.sql"
    degrees_of parcels "$column" > "$work/floor.txt"
    cmp -s "$work/expected.txt" "$work/floor.txt" || {
        echo "the floor's degrees differ from the expected ones" >&2
        exit 1
    }
    commands=(-n floor "psql -X -q -v ON_ERROR_STOP=1 -f $work/floor.sql")

    sql -f "$work/reset.sql"
    tables > "$work/tables-before.txt"
    vark_ok=0
    if "${vark_compute[@]}" --verbose > "$work/vark.out" 2> "$work/vark.err"; then
        degrees_of parcels "$column" > "$work/vark.txt" || true
        if cmp -s "$work/expected.txt" "$work/vark.txt"; then
            vark_ok=1
            commands+=(-n vark "$(printf '%q ' "${vark_compute[@]}")")
            mapfile -t record_tables < <(tables | comm -13 "$work/tables-before.txt" -)
            write_reset
        else
            notes+=("$count rows: vark-fuzzy compute wrote other degrees than the floor (see $work/vark.txt); left out")
        fi
    else
        status=$?
        # --verbose puts the cause on the second line.
        why="$(sed -n '2s/^ *//p' "$work/vark.err")"
        [ -n "$why" ] || why="$(head -n 1 "$work/vark.err")"
        notes+=("$count rows: vark-fuzzy compute refused the table (exit $status: $why); left out")
    fi

    qgis_timed=0
    if [ -n "$qgis_bin" ]; then
        sql -f "$work/reset.sql"
        start=$(date +%s.%N)
        if "$work/qgis.sh"; then
            qgis_once=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.2f", e - s }')
            degrees_of parcels_qgis "$column" > "$work/qgis.txt" || true
            if ! cmp -s "$work/expected.txt" "$work/qgis.txt"; then
                notes+=("$count rows: QGIS wrote other degrees than the floor (see $work/qgis.txt)")
            elif [ -z "$qgis_max" ] || [ "$count" -le "$qgis_max" ]; then
                qgis_timed=1
                commands+=(-n qgis "$work/qgis.sh")
            fi
        else
            notes+=("$count rows: QGIS's field calculator failed (see $work/qgis.log); left out")
            qgis_bin_failed=1
        fi
    fi

    echo "== $count rows: timing" >&2
    csv="$work/pg-$count.csv"
    hyperfine --runs "$runs" --prepare "$reset" --export-csv "$csv" --style basic \
        "${commands[@]}" > "$work/pg-$count.log" 2>&1 || {
        cat "$work/pg-$count.log" >&2
        exit 1
    }
    read -r mean_f sd_f <<< "$(stat_of "$csv" floor)"
    mean_v="" sd_v="" mean_q="" sd_q="" qgis_how=""
    [ "$vark_ok" = 0 ] || read -r mean_v sd_v <<< "$(stat_of "$csv" vark)"
    if [ "$qgis_timed" = 1 ]; then
        read -r mean_q sd_q <<< "$(stat_of "$csv" qgis)"
    elif [ -n "$qgis_bin" ] && [ -z "${qgis_bin_failed:-}" ]; then
        # Above QGIS_MAX: its one checked run stands, marked as one run.
        mean_q="$qgis_once" sd_q="" qgis_how=" (1 run)"
    fi
    judged=0
    [ "$count" = "${counts[-1]}" ] && judged=1
    awk -v n="$count" -v mf="$mean_f" -v sf="$sd_f" -v mv="$mean_v" -v sv="$sd_v" \
        -v mq="$mean_q" -v sq="$sd_q" -v how="$qgis_how" -v judged="$judged" 'BEGIN {
            v = (mv == "") ? "left out" : sprintf("%.2f ± %.2f", mv, sv)
            rv = (mv == "") ? "-" : sprintf("%.2f", mv / mf)
            met = (mv == "" || !judged) ? "<= 1.1" : ((mv / mf <= 1.1) ? "<= 1.1, met" : "<= 1.1, not met")
            q = (mq == "") ? "-" : ((sq == "") ? sprintf("%.2f%s", mq, how) : sprintf("%.2f ± %.2f", mq, sq))
            rq = (mq == "") ? "-" : sprintf("%.2f", mq / mf)
            vq = (mq == "" || mv == "") ? "-" : sprintf("%.3f", mv / mq)
            printf "| %d | %.2f ± %.2f | %s | %s | %s | %s | %s | %s |\n", n, mf, sf, v, rv, met, q, rq, vq
        }' >> "$results"

    echo "== $count rows: peak memory" >&2
    sql -f "$work/reset.sql"
    row="| $count | $(peak_mib "${vark_compute[@]}")"
    sql -f "$work/reset.sql"
    row+=" | $(peak_mib "${vark_values[@]}") |"
    rss_rows+=("$row")
done
sql -c "DROP TABLE IF EXISTS public.parcels, public.parcels_qgis"

{
    echo
    echo "Peak resident memory of vark-fuzzy (MiB; target: under 64 and flat in the rows):"
    echo
    echo "| rows | compute | values |"
    echo "|---:|---:|---:|"
    printf '%s\n' "${rss_rows[@]}"
    if [ "${#notes[@]}" -gt 0 ]; then
        echo
        printf -- '- %s\n' "${notes[@]}"
    fi
} >> "$results"
cat "$results"
