#!/usr/bin/env bash
# Times orvane-import as a whole process on group lists of 1,000 and 10,000 rows: a CSV made here and
# the .xlsx, .ods and .xls LibreOffice (or Gnumeric) saves from it, each checked (--check) and imported
# with a 12-subject template into a fresh registry made by dbgen (no documents, one template). Prints seconds
# and peak memory of each run.
#   bench/import/tool.sh [BUILD_DIR]     (default: build; needs soffice or ssconvert, sqlite3)
# Environment: ROWS="1000 10000"  the group sizes
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
rows_list=${ROWS:-1000 10000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The tool's settings stay in the scratch folder.
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"

"$build/bin/dbgen" --docs 0 --templates 1 "$work/empty.db" >/dev/null
template=$(sqlite3 "$work/empty.db" "SELECT profId FROM ProfDocuments WHERE isTemplate = 1 LIMIT 1")

# A group list as a clerk keeps it: a title, the header, one person a row.
make_csv() {
    /usr/bin/python3 - "$1" "$2" <<'EOF'
import sys
rows, path = int(sys.argv[1]), sys.argv[2]
names = ["Иван", "Пётр", "Анна", "Мария", "Олег", "Елена"]
with open(path, "w", encoding="utf-8") as f:
    f.write("Список группы;;;;;\n")
    f.write("Фамилия;Имя;Отчество;Дата рождения;Пол;Рег. номер\n")
    for i in range(rows):
        f.write("Фамилия%d;%s;Сергеевич;%02d.%02d.%d;%s;Р-%d\n"
                % (i, names[i % 6], i % 28 + 1, i % 12 + 1, 1970 + i % 35, "м" if i % 2 == 0 else "ж", i))
EOF
}

# Saves the CSV as a workbook of kind $2 (xlsx, ods or xls) beside it.
convert() {
    if command -v soffice >/dev/null; then
        # Semicolon-separated UTF-8 (filter options: separator 59, quote 34, charset 76, first line 1).
        soffice --headless --infilter="CSV:59,34,76,1" --convert-to "$2" --outdir "$work" "$1" >/dev/null 2>&1
    else
        ssconvert "$1" "${1%.csv}.$2" >/dev/null 2>&1
    fi
}

measure() {
    local label=$1 expect=$2
    shift 2
    local rc=0
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out" 2>"$work/err" || rc=$?
    if [ "$rc" != "$expect" ]; then
        echo "$label: exit $rc" >&2
        head -5 "$work/err" "$work/out" >&2
        exit 1
    fi
    read -r seconds kilobytes <"$work/time"
    printf '%-44s %7.2f s  peak %6.1f MB  (%s lines out)\n' "$label" "$seconds" \
        "$(echo "$kilobytes / 1024" | bc -l)" "$(wc -l <"$work/out")"
}

for rows in $rows_list; do
    csv="$work/group$rows.csv"
    make_csv "$rows" "$csv"
    sources=("$csv")
    for kind in xlsx ods xls; do
        convert "$csv" "$kind"
        [ -s "${csv%.csv}.$kind" ] || { echo "no $kind made from $csv" >&2; exit 1; }
        sources+=("${csv%.csv}.$kind")
    done
    for source in "${sources[@]}"; do
        kind=${source##*.}
        measure "$rows rows, $kind, --check" 0 "$build/bin/orvane-import" --db "$work/empty.db" \
            --template "$template" --first-number "СВ 000001" --check "$source"
        cp "$work/empty.db" "$work/fresh.db"
        measure "$rows rows, $kind, import" 0 "$build/bin/orvane-import" --db "$work/fresh.db" \
            --template "$template" --first-number "СВ 000001" "$source"
        made=$(sqlite3 "$work/fresh.db" "SELECT COUNT(*) FROM ProfDocuments WHERE COALESCE(isTemplate, 0) = 0")
        [ "$made" = "$rows" ] || { echo "$made documents made, not $rows" >&2; exit 1; }
    done
done
