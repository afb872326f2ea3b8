#pragma once

#include "dbtable.h"

#include <QMap>

// The tables of the training-document edition.
namespace ProfSchema {
QMap<QString, DBTable> tables();
// The key column of the main document table.
QString mainPrimaryKeyName();
} // namespace ProfSchema
