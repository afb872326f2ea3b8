#include "filedialog.h"

#include <QFileDialog>

QList<QString> FileDialog::_queued;
QStringList FileDialog::_captions;

bool FileDialog::takeQueued(const QString& caption, QString* fileName) {
    _captions.append(caption);
    if (_queued.isEmpty())
        return false;
    *fileName = _queued.takeFirst();
    return true;
}

QString FileDialog::getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                    const QString& filter) {
    QString name;
    if (takeQueued(caption, &name))
        return name;
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString FileDialog::getSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                    const QString& filter) {
    QString name;
    if (takeQueued(caption, &name))
        return name;
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

QString FileDialog::getExistingDirectory(QWidget* parent, const QString& caption, const QString& dir) {
    QString name;
    if (takeQueued(caption, &name))
        return name;
    return QFileDialog::getExistingDirectory(parent, caption, dir);
}

void FileDialog::setNextFileName(const QString& fileName) {
    _queued.append(fileName);
}

QStringList FileDialog::captions() {
    return _captions;
}

void FileDialog::clear() {
    _queued.clear();
    _captions.clear();
}
