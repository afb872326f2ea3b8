#pragma once

#include "importtable.h"

#include <QByteArray>
#include <QChar>
#include <QString>
#include <functional>

// Tables as text: CSV files as spreadsheet programs save them, and rows copied from a spreadsheet
// to the clipboard (tab-separated).
namespace TableText {
// UTF-8 with or without a byte-order mark, UTF-16 with a mark or (when it holds zero bytes)
// without one, otherwise Windows-1251.
QString decode(const QByteArray& bytes);
// ';', ',' or '\t', whichever splits the first lines most consistently; ';' when none does.
QChar guessSeparator(const QString& text);
// Splits `text` into rows and cells: quoted fields (with doubled quotes and line breaks inside),
// "\r\n", "\n" or "\r" between rows. Cells are texts. Kept within ImportTable's bounds; false with a
// reason only when nothing can be read (for example an empty text). `progress` (may be empty) gets
// the percent parsed now and then and returns false to stop, which fails with "Чтение прервано.".
using Progress = std::function<bool(int percent)>;
bool parse(const QString& text, QChar separator, ImportTable* table, QString* error, const Progress& progress = {});
// A CSV file: read (at most ImportTable::maxBytes), decoded, separator guessed, parsed. A file with
// zero bytes that is no UTF-16 text is refused with what it seems to be ("Файл не похож на таблицу: …").
bool readFile(const QString& path, ImportTable* table, QString* error, const Progress& progress = {});
// Text from the clipboard: tab-separated unless it holds no tab, then as a CSV text.
bool fromClipboard(const QString& text, ImportTable* table, QString* error, const Progress& progress = {});
} // namespace TableText
