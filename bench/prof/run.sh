#!/usr/bin/env bash
# Fills and renders 100 certificates (type 701) and 100 appendices (type 702) of a 100,000-document
# registry through the render tool, one PDF each, and the same 100 certificates with reportlab.
#   bench/prof/run.sh [BUILD_DIR]        (default: build; needs scripts/install-deps.sh --all)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/bin/dbgen" "$work/Orvane.db" >/dev/null
mkdir "$work/reports"
cp src/resources/default_reports/*.mzrpt "$work/reports/"
docs=()
ids=()
for i in $(seq 1000 1000 100000); do
    docs+=(--doc "$i")
    ids+=("$i")
done
# One run first, to warm the file cache.
"$build/bin/mzrpt-render" --db "$work/Orvane.db" --type 701 --doc 1 "$work/warm.pdf" 2>/dev/null

measure() {
    local label=$1
    shift
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err"; exit 1; }
    read -r seconds kilobytes <"$work/time"
    printf '%-38s %7.2f s  %6.3f s/document  peak %6.1f MB\n' "$label" "$seconds" \
        "$(echo "$seconds / 100" | bc -l)" "$(echo "$kilobytes / 1024" | bc -l)"
    echo "$seconds" >"$work/last"
}

measure "mzrpt-render, 100 certificates (701)" \
    "$build/bin/mzrpt-render" --db "$work/Orvane.db" --type 701 "${docs[@]}" "$work/certificates.pdf"
ours=$(cat "$work/last")
measure "mzrpt-render, 100 appendices (702)" \
    "$build/bin/mzrpt-render" --db "$work/Orvane.db" --type 702 "${docs[@]}" "$work/appendices.pdf"
measure "reportlab, 100 certificates (701)" \
    /usr/bin/python3 bench/prof/reportlab_certificates.py "$work/reports/id130.mzrpt" "$work/Orvane.db" \
    "$work/reportlab.pdf" "${ids[@]}"
theirs=$(cat "$work/last")
printf 'ratio mzrpt-render / reportlab (certificates): %.2f\n' "$(echo "$ours / $theirs" | bc -l)"
pdfinfo "$work/certificates.pdf" | grep Pages
