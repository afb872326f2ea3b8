#!/usr/bin/env bash
# Writes the registry book and the FRDO table of a generated registry with orvane-export, and the same
# cells and formats with python3-xlsxwriter, timing each and reading its peak memory.
#   bench/exports/run.sh [BUILD_DIR]        (default: build; needs scripts/install-deps.sh --all)
# Environment:
#   DOCS=N         documents of the generated registry (default 100000), e.g. DOCS=1000000
#   KINDS="frdo"   which workbooks to write (default "book frdo")
#   PYTHON=0       leave out the Python writer (at a million documents it takes several minutes)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
docs=${DOCS:-100000}
kinds=${KINDS:-book frdo}
python=${PYTHON:-1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "registry of $docs documents"
"$build/bin/dbgen" --docs "$docs" "$work/Orvane.db" >/dev/null
# One run first, to warm the file cache.
first=${kinds%% *}
"$build/bin/orvane-export" --db "$work/Orvane.db" "--$first" "$work/warm.xlsx"
rm -f "$work/warm.xlsx"

measure() {
    local label=$1
    shift
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err"; exit 1; }
    read -r seconds kilobytes <"$work/time"
    printf '%-36s %7.2f s  peak %6.1f MB\n' "$label" "$seconds" "$(echo "$kilobytes / 1024" | bc -l)"
    echo "$seconds" >"$work/last"
}

for kind in $kinds; do
    measure "orvane-export --$kind" "$build/bin/orvane-export" --db "$work/Orvane.db" "--$kind" "$work/$kind.xlsx"
    ours=$(cat "$work/last")
    rm -f "$work/$kind.xlsx"
    [ "$python" = 0 ] && continue
    measure "python3-xlsxwriter $kind" /usr/bin/python3 bench/exports/xlsxwriter_same.py "$work/Orvane.db" \
        "$kind" "$work/$kind-py.xlsx"
    theirs=$(cat "$work/last")
    rm -f "$work/$kind-py.xlsx"
    printf '%-36s %7.1f x\n' "  faster than the Python writer" "$(echo "$theirs / $ours" | bc -l)"
done
