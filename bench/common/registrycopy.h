#pragma once

#include "database.h"
#include "profschema.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

// Points the settings and the data folder into `home` and puts a copy of `registry` there as the
// program's database, so that a benchmark never touches the user's files or the given registry.
inline bool useRegistryCopy(const QTemporaryDir& home, const QString& registry) {
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path() + QStringLiteral("/config"));
    Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
    QFile::remove(Database::filePath());
    return QFile::copy(registry, Database::filePath());
}
