#!/usr/bin/env bash
# Renders every shipped template filled from a generated registry, with its background, at 100 dpi,
# into docs/templates/typeNNN.png (both sides, one above the other).
#   scripts/make-template-previews.sh [BUILD_DIR]     (needs imagemagick and poppler-utils)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/dbgen" "$work/Orvane.db" --docs 5 --templates 0 >/dev/null
sqlite3 "$work/Orvane.db" "UPDATE ProfDocuments SET fio1='Иванов', fio2='Иван', fio3='Иванович', isExcellent=0, \
    addInfo='Производственная практика пройдена на АО «Тверской вагоностроительный завод».' WHERE profId=1"
mkdir "$work/reports"
cp src/resources/default_reports/*.mzrpt "$work/reports/"
mkdir -p docs/templates
for type in 701 702 703 704 705 706 707 708; do
    "$build/bin/mzrpt-render" --db "$work/Orvane.db" --type "$type" --doc 1 --background "$work/$type.pdf" 2>/dev/null
    pdftoppm -r 100 -png "$work/$type.pdf" "$work/$type"
    convert "$work/$type-1.png" "$work/$type-2.png" -append -colors 128 -define png:compression-level=9 \
        "docs/templates/type$type.png"
done
