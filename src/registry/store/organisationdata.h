#pragma once

#include <QPair>
#include <QString>
#include <QVector>

// The issuing organisation's data in the registry's Variables, under the names the print data
// reads back, so that they travel with the registry.
namespace OrganisationData {
inline const QString orgName1 = QStringLiteral("Data/OrgName_1");
inline const QString orgName2 = QStringLiteral("Data/OrgName_2");
inline const QString city = QStringLiteral("Data/City");
inline const QString date = QStringLiteral("Data/Date");
inline const QString boss = QStringLiteral("Data/Boss");
inline const QString boss2 = QStringLiteral("Data/Boss_2");
inline const QString boss3 = QStringLiteral("Data/Boss_3");

// The stored value; empty when there is none or it cannot be read (then with `error` set).
QString value(const QString& name, QString* error = nullptr);
// All values or none: half a set would print old and new signatories side by side. False with
// SQLite's reason; the file is then as it was.
bool write(const QVector<QPair<QString, QString>>& values, QString* error);
} // namespace OrganisationData
