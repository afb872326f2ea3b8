#include "serverhistory.h"

#include "dbtable.h"
#include "profschema.h"
#include "storequery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QVariant>

namespace {
// The server keeps unquoted names in lower case; the entries name tables and columns as the
// program and the file do. Per document table: its name, its key and its columns other than the
// keys, each as [name, server name, listed among the changes].
QString tablesJson() {
    const QString documentKey = ProfSchema::mainPrimaryKeyName();
    QJsonObject tables;
    for (const DBTable& table : ProfSchema::tables()) {
        if (!table.isMainTable && !table.isAdditionalTable)
            continue;
        QJsonArray columns;
        for (const DBColumn& column : table.columns) {
            if (column.name == table.sequence_col || column.name == documentKey)
                continue;
            // When it was saved is no change of its own.
            const bool listed = column.name != QLatin1String("editDate");
            columns.append(QJsonArray{column.name, column.name.toLower(), listed});
        }
        tables.insert(table.name.toLower(), QJsonObject{{QStringLiteral("name"), table.name},
                                                        {QStringLiteral("key"), table.sequence_col.toLower()},
                                                        {QStringLiteral("columns"), columns}});
    }
    return QString::fromUtf8(QJsonDocument(tables).toJson(QJsonDocument::Compact));
}

// The table map; a row (to_jsonb of a table's row) as the program names its values, keys left
// out, editDate too unless `everything` (a snapshot keeps it). A JSON number is read as a double:
// an integer a double cannot hold exactly is kept as text, as the file keeps it (written out in
// the row's function: a call per value would double its time).
QStringList mappingFunctions() {
    return {QStringLiteral("CREATE OR REPLACE FUNCTION orvane_history_tables() RETURNS jsonb LANGUAGE sql IMMUTABLE "
                           "AS $$ SELECT '%1'::jsonb $$")
                .arg(tablesJson()),
            QStringLiteral(R"sql(CREATE OR REPLACE FUNCTION orvane_history_value(v jsonb) RETURNS jsonb
LANGUAGE sql IMMUTABLE AS $$
SELECT CASE WHEN v IS NULL THEN 'null'::jsonb
            WHEN jsonb_typeof(v) = 'number' AND abs(v::numeric) >= 9007199254740992 THEN to_jsonb(v #>> '{}')
            ELSE v END $$)sql"),
            QStringLiteral(R"sql(CREATE OR REPLACE FUNCTION orvane_history_fields(tbl text, r jsonb, everything boolean)
RETURNS jsonb LANGUAGE sql STABLE AS $$
SELECT CASE WHEN r IS NOT NULL THEN coalesce((
    SELECT jsonb_object_agg(c ->> 0, CASE WHEN v IS NULL THEN 'null'::jsonb
        WHEN jsonb_typeof(v) = 'number' AND abs(v::numeric) >= 9007199254740992 THEN to_jsonb(v #>> '{}')
        ELSE v END)
    FROM jsonb_array_elements(orvane_history_tables() -> tbl -> 'columns') AS c,
        LATERAL (SELECT r -> (c ->> 1) AS v) AS x
    WHERE everything OR c -> 2 = 'true'::jsonb), '{}'::jsonb) END $$)sql")};
}

// One change merged into the changes: a value changed twice keeps its first old and last new
// value, and a value changed back drops out.
const char* const mergeFunction = R"sql(CREATE OR REPLACE FUNCTION orvane_history_merge(items jsonb, item jsonb)
RETURNS jsonb LANGUAGE plpgsql IMMUTABLE AS $$
DECLARE
    i int;
    prev jsonb;
BEGIN
    SELECT e.ord - 1, e.value INTO i, prev FROM jsonb_array_elements(items) WITH ORDINALITY AS e(value, ord)
    WHERE e.value -> 'table' = item -> 'table' AND e.value -> 'row' IS NOT DISTINCT FROM item -> 'row'
        AND e.value -> 'field' = item -> 'field' LIMIT 1;
    IF NOT FOUND THEN
        RETURN items || jsonb_build_array(item);
    END IF;
    item := jsonb_set(item, '{old}', prev -> 'old');
    IF item -> 'old' = item -> 'new' THEN
        RETURN items - i;
    END IF;
    RETURN jsonb_set(items, ARRAY[i::text], item);
END $$)sql";

// The values of one row that differ between `a` and `b` (both as the program names them), merged
// into the changes with `head` (the table, and a subject's row and name).
const char* const diffFunction = R"sql(CREATE OR REPLACE FUNCTION orvane_history_diff(items jsonb, tbl text,
    head jsonb, a jsonb, b jsonb) RETURNS jsonb LANGUAGE plpgsql STABLE AS $$
DECLARE
    c jsonb;
    vo jsonb;
    vn jsonb;
BEGIN
    FOR c IN SELECT value FROM jsonb_array_elements(orvane_history_tables() -> tbl -> 'columns')
             WHERE value -> 2 = 'true'::jsonb LOOP
        vo := coalesce(a -> (c ->> 0), 'null'::jsonb);
        vn := coalesce(b -> (c ->> 0), 'null'::jsonb);
        IF vo <> vn THEN
            items := orvane_history_merge(items, head || jsonb_build_object('field', c ->> 0, 'old', vo, 'new', vn));
        END IF;
    END LOOP;
    RETURN items;
END $$)sql";

// A subject's change: added or removed whole (one change with an empty field), or its values. A
// subject added and then changed stays one addition; changed and then removed, one removal of
// what it held before; added and removed, nothing. Every change of the row carries its current name.
const char* const subjectFunction = R"sql(CREATE OR REPLACE FUNCTION orvane_history_subject(items jsonb, op text,
    det jsonb, oldf jsonb, newf jsonb) RETURNS jsonb LANGUAGE plpgsql STABLE AS $$
DECLARE
    tname text := orvane_history_tables() -> 'profdetails' ->> 'name';
    head jsonb;
    wi int;
    whole jsonb;
    base jsonb;
BEGIN
    SELECT e.ord - 1, e.value INTO wi, whole FROM jsonb_array_elements(items) WITH ORDINALITY AS e(value, ord)
    WHERE e.value ->> 'table' = tname AND e.value -> 'row' = det AND e.value ->> 'field' = '' LIMIT 1;
    head := jsonb_build_object('table', tname, 'row', det, 'name', coalesce(newf ->> 'name', ''));
    IF op = 'DELETE' THEN
        IF whole IS NOT NULL THEN
            RETURN items - wi;
        END IF;
        SELECT oldf || coalesce(jsonb_object_agg(value ->> 'field', value -> 'old'), '{}'::jsonb) INTO base
        FROM jsonb_array_elements(items)
        WHERE value ->> 'table' = tname AND value -> 'row' = det AND value ->> 'field' <> '';
        SELECT coalesce(jsonb_agg(e.value ORDER BY e.ord), '[]'::jsonb) INTO items
        FROM jsonb_array_elements(items) WITH ORDINALITY AS e(value, ord)
        WHERE NOT (e.value ->> 'table' = tname AND e.value -> 'row' = det);
        RETURN items || jsonb_build_array(jsonb_build_object('table', tname, 'row', det,
            'name', coalesce(base ->> 'name', ''), 'field', '', 'old', base, 'new', NULL));
    ELSIF op = 'INSERT' AND whole IS NOT NULL THEN
        -- Removed earlier in the transaction and back under the same id: what differs from then.
        items := orvane_history_diff(items - wi, 'profdetails', head, whole -> 'old', newf);
    ELSIF op = 'INSERT' THEN
        RETURN items || jsonb_build_array(head || jsonb_build_object('field', '', 'old', NULL, 'new', newf));
    ELSIF whole IS NOT NULL THEN
        RETURN jsonb_set(items, ARRAY[wi::text], jsonb_set(jsonb_set(whole, '{new}', newf), '{name}', head -> 'name'));
    ELSE
        items := orvane_history_diff(items, 'profdetails', head, oldf, newf);
        IF oldf -> 'name' = newf -> 'name' THEN
            RETURN items;
        END IF;
    END IF;
    SELECT coalesce(jsonb_agg(CASE WHEN e.value ->> 'table' = tname AND e.value -> 'row' = det
                                   THEN jsonb_set(e.value, '{name}', head -> 'name') ELSE e.value END
                              ORDER BY e.ord), '[]'::jsonb) INTO items
    FROM jsonb_array_elements(items) WITH ORDINALITY AS e(value, ord);
    RETURN items;
END $$)sql";

// Everything the document held when it was deleted: its row, its subjects and its FRDO row, those
// still there and those deleted before it in the same transaction (by hand or by a cascade), in
// the order of their ids.
const char* const snapshotFunction = R"sql(CREATE OR REPLACE FUNCTION orvane_history_snapshot(pid bigint,
    doc jsonb, items jsonb) RETURNS jsonb LANGUAGE plpgsql STABLE AS $$
DECLARE
    subjects jsonb;
    frdo jsonb;
BEGIN
    SELECT coalesce(jsonb_agg(s.r ORDER BY s.id), '[]'::jsonb) INTO subjects FROM (
        SELECT d.detId AS id, orvane_history_fields('profdetails', to_jsonb(d), true) AS r
        FROM ProfDetails d WHERE d.profId = pid
        UNION ALL
        SELECT (value ->> 'row')::bigint, value -> 'old' FROM jsonb_array_elements(items)
        WHERE value ->> 'table' = orvane_history_tables() -> 'profdetails' ->> 'name'
            AND value ->> 'field' = '' AND value -> 'new' = 'null'::jsonb) AS s;
    SELECT orvane_history_fields('proffrdo', to_jsonb(f), true) INTO frdo FROM ProfFrdo f WHERE f.profId = pid;
    IF frdo IS NULL THEN
        SELECT orvane_history_fields('proffrdo', '{}'::jsonb, true) || jsonb_object_agg(value ->> 'field', value -> 'old')
        INTO frdo FROM jsonb_array_elements(items)
        WHERE value ->> 'table' = orvane_history_tables() -> 'proffrdo' ->> 'name' HAVING count(*) > 0;
    END IF;
    RETURN jsonb_build_object(orvane_history_tables() -> 'profdocuments' ->> 'name', doc,
                              orvane_history_tables() -> 'profdetails' ->> 'name', subjects,
                              orvane_history_tables() -> 'proffrdo' ->> 'name', coalesce(frdo, 'null'::jsonb));
END $$)sql";

// One row written: its entry found or begun, the change merged in, the entry written back (or
// dropped, an edit that changes nothing). The kind is the one announced for the transaction, else
// the statement's; a transaction that announced the silent kind is not recorded at all.
const char* const noteFunction = R"sql(CREATE OR REPLACE FUNCTION orvane_history_note(tbl text, op text,
    o jsonb, n jsonb) RETURNS void LANGUAGE plpgsql AS $$
DECLARE
    t jsonb := orvane_history_tables() -> tbl;
    pid bigint := (coalesce(n, o) ->> 'profid')::bigint;
    oldf jsonb := orvane_history_fields(tbl, o, false);
    newf jsonb := orvane_history_fields(tbl, n, false);
    announced text := nullif(current_setting('orvane.kind', true), '');
    x bigint := txid_current();
    found_entry boolean;
    hid bigint;
    ekind text;
    items jsonb;
    snap jsonb;
    dname text;
    anum text;
    doc jsonb;
BEGIN
    IF op = 'UPDATE' AND (o -> 'profid' IS DISTINCT FROM n -> 'profid' OR o -> (t ->> 'key') IS DISTINCT FROM n -> (t ->> 'key')) THEN
        -- A row moved to another key leaves one and joins another.
        PERFORM orvane_history_note(tbl, 'DELETE', o, NULL);
        PERFORM orvane_history_note(tbl, 'INSERT', NULL, n);
        RETURN;
    END IF;
    IF op = 'UPDATE' AND oldf = newf THEN
        RETURN;
    END IF;
    SELECT historyId, kind, changes::jsonb, snapshot::jsonb, docName, attNumber
    INTO hid, ekind, items, snap, dname, anum
    FROM DocumentHistory WHERE profId = pid AND xact = x ORDER BY historyId DESC LIMIT 1;
    found_entry := FOUND;
    items := coalesce(items, '[]'::jsonb);
    IF tbl = 'profdetails' THEN
        items := orvane_history_subject(items, op, orvane_history_value(coalesce(n, o) -> 'detid'), oldf, newf);
    ELSE
        items := orvane_history_diff(items, tbl, jsonb_build_object('table', t ->> 'name'), oldf, newf);
    END IF;

    IF NOT found_entry THEN
        ekind := coalesce(announced, CASE WHEN tbl = 'profdocuments' AND op = 'INSERT' THEN 'create'
                                          WHEN tbl = 'profdocuments' AND op = 'DELETE' THEN 'delete'
                                          ELSE 'edit' END);
    ELSIF announced IS NULL AND tbl = 'profdocuments' AND op = 'DELETE' THEN
        ekind := 'delete';
    ELSIF announced IS NULL AND tbl = 'profdocuments' AND op = 'INSERT' AND ekind = 'delete' THEN
        ekind := 'edit';
    END IF;

    IF tbl = 'profdocuments' THEN
        doc := coalesce(newf, oldf);
        IF op = 'DELETE' THEN
            snap := orvane_history_snapshot(pid, orvane_history_fields(tbl, o, true), items);
        ELSIF op = 'INSERT' THEN
            snap := NULL;
        END IF;
    ELSIF snap IS NOT NULL THEN
        -- The rows a cascade deletes are told after their document.
        snap := orvane_history_snapshot(pid, snap -> (orvane_history_tables() -> 'profdocuments' ->> 'name'), items);
    ELSIF NOT found_entry THEN
        SELECT orvane_history_fields('profdocuments', to_jsonb(d), false) INTO doc
        FROM ProfDocuments d WHERE d.profId = pid;
    END IF;
    IF doc IS NOT NULL THEN
        dname := btrim(regexp_replace(concat_ws(' ', doc ->> 'fio1', doc ->> 'fio2', doc ->> 'fio3'), '\s+', ' ', 'g'));
        anum := doc ->> 'attNumber';
    END IF;

    IF ekind = 'edit' AND items = '[]'::jsonb THEN
        IF found_entry THEN
            DELETE FROM DocumentHistory WHERE historyId = hid;
        END IF;
        RETURN;
    END IF;
    IF found_entry THEN
        UPDATE DocumentHistory SET kind = ekind, changes = items::text, snapshot = snap::text, docName = dname,
            attNumber = anum WHERE historyId = hid;
    ELSE
        INSERT INTO DocumentHistory (profId, changedAt, kind, login, osUser, host, source, docName, attNumber,
            changes, snapshot, xact)
        VALUES (pid, to_char(now(), 'YYYY-MM-DD"T"HH24:MI:SS'), ekind, session_user,
            nullif(current_setting('orvane.os_user', true), ''), nullif(current_setting('orvane.host', true), ''),
            nullif(current_setting('orvane.source', true), ''), dname, anum, items::text, snap::text, x);
    END IF;
END $$)sql";

const char* const triggerFunction = R"sql(CREATE OR REPLACE FUNCTION orvane_history() RETURNS trigger
LANGUAGE plpgsql AS $$
BEGIN
    IF current_setting('orvane.kind', true) IS NOT DISTINCT FROM '%1' THEN
        RETURN NULL;
    END IF;
    IF TG_OP = 'INSERT' THEN
        PERFORM orvane_history_note(TG_TABLE_NAME, TG_OP, NULL, to_jsonb(NEW));
    ELSIF TG_OP = 'DELETE' THEN
        PERFORM orvane_history_note(TG_TABLE_NAME, TG_OP, to_jsonb(OLD), NULL);
    ELSE
        PERFORM orvane_history_note(TG_TABLE_NAME, TG_OP, to_jsonb(OLD), to_jsonb(NEW));
    END IF;
    RETURN NULL;
END $$)sql";

// Row triggers: a change of many rows is still one entry per document. TRUNCATE is no change of a
// document and is not recorded.
QStringList triggerStatements() {
    QStringList statements;
    for (const DBTable& table : ProfSchema::tables()) {
        if (!table.isMainTable && !table.isAdditionalTable)
            continue;
        const QString trigger = table.name + QStringLiteral("_history");
        statements << QStringLiteral("DROP TRIGGER IF EXISTS %1 ON %2").arg(trigger, table.name)
                   << QStringLiteral("CREATE TRIGGER %1 AFTER INSERT OR UPDATE OR DELETE ON %2 FOR EACH ROW "
                                     "EXECUTE FUNCTION orvane_history()")
                          .arg(trigger, table.name);
    }
    return statements;
}
} // namespace

QStringList ServerHistory::statements() {
    return mappingFunctions() + QStringList{QString::fromLatin1(mergeFunction),
                                            QString::fromLatin1(diffFunction),
                                            QString::fromLatin1(subjectFunction),
                                            QString::fromLatin1(snapshotFunction),
                                            QString::fromLatin1(noteFunction),
                                            QString::fromLatin1(triggerFunction).arg(QLatin1String(silentKind))} +
           triggerStatements();
}

bool ServerHistory::setSilent(QSqlDatabase& db, bool silent, QString* error) {
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT set_config('orvane.kind', ?, true)"));
    query.addBindValue(silent ? QString::fromLatin1(silentKind) : QString());
    return query.exec() || StoreQuery::failed(query, error);
}
