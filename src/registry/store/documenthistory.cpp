#include "documenthistory.h"

#include <QSqlDatabase>

namespace {
struct KindName {
    DocumentHistory::Kind kind;
    const char* code;
    const char* text;
};
const KindName kindNames[] = {
    {DocumentHistory::Kind::Created, "create", "Создание"},
    {DocumentHistory::Kind::Edited, "edit", "Изменение"},
    {DocumentHistory::Kind::Copied, "copy", "Копирование"},
    {DocumentHistory::Kind::Imported, "import", "Импорт"},
    {DocumentHistory::Kind::Deleted, "delete", "Удаление"},
    {DocumentHistory::Kind::Restored, "restore", "Восстановление"},
};
} // namespace

QString DocumentHistory::code(Kind kind) {
    for (const KindName& k : kindNames)
        if (k.kind == kind)
            return QString::fromLatin1(k.code);
    return {};
}

bool DocumentHistory::fromCode(const QString& code, Kind* kind) {
    for (const KindName& k : kindNames)
        if (code == QLatin1String(k.code)) {
            *kind = k.kind;
            return true;
        }
    return false;
}

QString DocumentHistory::text(Kind kind) {
    for (const KindName& k : kindNames)
        if (k.kind == kind)
            return QString::fromUtf8(k.text);
    return {};
}

// Placeholders until the store writes the entries.
bool DocumentHistory::readState(const QSqlDatabase&, qint64, State* state, QString*) {
    *state = State();
    return true;
}

bool DocumentHistory::announce(const QSqlDatabase&, Kind, const QString&, QString*) {
    return true;
}

bool DocumentHistory::record(const QSqlDatabase&, qint64, Kind, const State&, const State&, const QString&, QString*) {
    return true;
}

QString DocumentHistory::osUser() {
    return QString::fromLocal8Bit(qgetenv("USER"));
}

QString DocumentHistory::hostName() {
    return {};
}
