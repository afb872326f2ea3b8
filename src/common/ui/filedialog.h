#pragma once

#include <QList>
#include <QString>

class QWidget;

// File and folder choosers of the program. Tests queue the chosen names in advance (an empty
// name stands for a cancelled dialog) and read back the captions that were asked.
class FileDialog {
public:
    static QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir = QString(),
                                   const QString& filter = QString());
    static QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir = QString(),
                                   const QString& filter = QString());
    static QString getExistingDirectory(QWidget* parent, const QString& caption, const QString& dir = QString());

    static void setNextFileName(const QString& fileName);
    static QStringList captions();
    static void clear();

private:
    static bool takeQueued(const QString& caption, QString* fileName);
    static QList<QString> _queued;
    static QStringList _captions;
};
