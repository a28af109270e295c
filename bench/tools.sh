# Sourced by the benchmark scripts: finds the programs of the build tree
# "$build" (sets build to its absolute path, vark and maker) and checks that
# every other tool named exists.
bench_tools() {
    build="$(cd "$build" && pwd)"
    vark="$build/bin/vark-fuzzy"
    maker="$build/bin/make_bench_layers"
    for tool in "$vark" "$maker"; do
        [ -x "$tool" ] || { echo "missing $tool: build the tree first" >&2; exit 1; }
    done
    for tool in "$@"; do
        command -v "$tool" > /dev/null || { echo "missing $tool (scripts/install-deps --bench)" >&2; exit 1; }
    done
}
