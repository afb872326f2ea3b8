#!/usr/bin/env bash
# Writes the registry book and the FRDO table of a 100,000-document registry with orvane-export, and
# the same cells and formats with python3-xlsxwriter, timing each and reading its peak memory.
#   bench/exports/run.sh [BUILD_DIR]        (default: build; needs scripts/install-deps.sh --all)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/bin/dbgen" "$work/Orvane.db" >/dev/null
# One run first, to warm the file cache.
"$build/bin/orvane-export" --db "$work/Orvane.db" --book "$work/warm.xlsx"

measure() {
    local label=$1
    shift
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err"; exit 1; }
    read -r seconds kilobytes <"$work/time"
    printf '%-36s %7.2f s  peak %6.1f MB\n' "$label" "$seconds" "$(echo "$kilobytes / 1024" | bc -l)"
    echo "$seconds" >"$work/last"
}

for kind in book frdo; do
    measure "orvane-export --$kind" "$build/bin/orvane-export" --db "$work/Orvane.db" "--$kind" "$work/$kind.xlsx"
    ours=$(cat "$work/last")
    measure "python3-xlsxwriter $kind" /usr/bin/python3 bench/exports/xlsxwriter_same.py "$work/Orvane.db" \
        "$kind" "$work/$kind-py.xlsx"
    theirs=$(cat "$work/last")
    printf '%-36s %7.1f x\n' "  faster than the Python writer" "$(echo "$theirs / $ours" | bc -l)"
done
