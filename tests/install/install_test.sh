#!/usr/bin/env bash
# install_test.sh BUILD_DIR SAMPLE_DIR: installs the program of BUILD_DIR under
# a throw-away prefix, then runs it from there with a copy of the sample,
# away from the build tree: the texts come from the installed text database,
# the libraries through RPATH, and a failure's log goes to the user's state
# folder, not into the installed tree.
set -euo pipefail
build="$1"
sample="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "install_layout: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" --component program >/dev/null
program="$work/prefix/bin/vark-fuzzy"
[ -x "$program" ] || fail "no bin/vark-fuzzy"
for file in lib/vark-fuzzy/VARK_fuzzy.so share/vark-fuzzy/text.db share/man/man1/vark-fuzzy.1.gz \
  share/bash-completion/completions/vark-fuzzy; do
  [ -f "$work/prefix/$file" ] || fail "no $file"
done
# The libraries through the program's own RUNPATH, never the build tree's.
runpath=$(readelf -d "$program" | grep -E "RUNPATH|RPATH" || true)
[[ "$runpath" == *'[$ORIGIN/../lib/vark-fuzzy]'* ]] || fail "RUNPATH: $runpath"

mkdir "$work/data" "$work/home"
cp "$sample"/parcelles.* "$work/data/"
export HOME="$work/home" XDG_STATE_HOME="$work/home/state" XDG_CONFIG_HOME="$work/home/config"
unset LD_LIBRARY_PATH
cd "$work"
"$program" --about >/dev/null || fail "--about failed"
out=$("$program" compute data/parcelles.shp NATURE --grade 'Forêt->6' --quiet) || fail "compute failed"
[ "$(echo "$out" | sed -n 2p)" = "5	Forêt->6" ] || fail "unexpected counts: $out"
# French texts: the installed text database was found.
echo "$out" | grep -q "(valeurs non notées)" || fail "the texts are not those of text.db: $out"
# A failure (a damaged criterion file) is logged in the user's state folder,
# not beside the libraries.
printf 'tail' >> data/parcelles.fzy  # bytes after the counted records
if "$program" compute data/parcelles.shp NATURE --name FZY_2 --grade 'Forêt->6' --quiet 2>/dev/null; then
  fail "a damaged criterion file was accepted"
fi
[ -z "$(find "$work/prefix" -name '*.log')" ] || fail "a log was written into the installed tree"
[ -s "$XDG_STATE_HOME/VARK_fuzzy/VARK_fuzzy.log" ] || fail "no log in the user's state folder"
echo "install_layout: installed program ran from $work/prefix"
