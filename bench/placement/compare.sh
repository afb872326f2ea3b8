#!/bin/bash
# Compares where two builds put every printed word: the eight shipped templates rendered raw (as
# the designer shows them) and the eight report types filled from documents of a registry, each
# through mzrpt-render, then `pdftotext -bbox` word boxes side by side.
#   bench/placement/compare.sh BEFORE_BIN AFTER_BIN REGISTRY.db [DOC_ID ...]
# BEFORE_BIN and AFTER_BIN are folders holding an mzrpt-render each (make a registry with dbgen).
# Exit status 0 when every word box is identical, 1 when any differs, 2 on bad arguments.
set -u
if [ $# -lt 3 ]; then
    sed -n '2,7p' "$0" >&2
    exit 2
fi
before=$1
after=$2
registry=$3
shift 3
docs=("$@")
[ ${#docs[@]} -eq 0 ] && docs=(1 2 3)
here=$(cd "$(dirname "$0")/../.." && pwd)
templates="$here/src/resources/default_reports"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A data folder of its own for each build: the registry, its templates, no settings of the user.
for side in before after; do
    mkdir -p "$work/$side/reports" "$work/$side/home"
    cp "$registry" "$work/$side/prof.db"
    cp "$templates"/*.mzrpt "$work/$side/reports/"
done

render() { # side, output, arguments...
    local side=$1 out=$2
    shift 2
    local bin=$before
    [ "$side" = after ] && bin=$after
    XDG_CONFIG_HOME="$work/$side/home" XDG_DATA_HOME="$work/$side/home" QT_QPA_PLATFORM=offscreen \
        "$bin/mzrpt-render" "$@" "$out" 2>>"$work/$side.log" >/dev/null
}

status=0
compare() { # name, arguments for both builds (DB stands for the side's registry)
    local name=$1
    shift
    for side in before after; do
        local args=()
        for a in "$@"; do args+=("${a//DB/$work/$side/prof.db}"); done
        if ! render "$side" "$work/$side-$name.pdf" "${args[@]}"; then
            echo "$name: the $side build failed (see below)"
            cat "$work/$side.log"
            status=1
            return
        fi
        pdftotext -bbox "$work/$side-$name.pdf" - 2>/dev/null | grep '<word' >"$work/$side-$name.words"
    done
    local words
    words=$(wc -l <"$work/after-$name.words")
    if cmp -s "$work/before-$name.words" "$work/after-$name.words"; then
        echo "$name: identical ($words words)"
    else
        echo "$name: DIFFERENT"
        diff "$work/before-$name.words" "$work/after-$name.words" | head -20
        status=1
    fi
}

for file in "$templates"/*.mzrpt; do
    name=$(basename "$file" .mzrpt)
    compare "template-$name" --raw "$file"
done
doc_args=()
for id in "${docs[@]}"; do doc_args+=(--doc "$id"); done
for type in 701 702 703 704 705 706 707 708; do
    compare "type-$type" --db DB --type "$type" "${doc_args[@]}"
done
exit $status
