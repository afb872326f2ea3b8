#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

// A private home for one test: the user settings folder, the default data folder and the settings
// layer all point into a temporary folder, so a test never touches the real user folders.
class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();

    bool isValid() const { return _dir.isValid(); }
    QString root() const { return _dir.path(); }
    QString configHome() const { return root() + QStringLiteral("/config"); }
    QString dataHome() const { return root() + QStringLiteral("/data"); }
    // The folders the program derives from them.
    QString userFolder() const { return configHome() + QStringLiteral("/MzSoftware"); }
    QString defaultDataFolder() const { return dataHome() + QStringLiteral("/MzSoftware"); }

private:
    QTemporaryDir _dir;
    QByteArray _oldConfigHome;
    QByteArray _oldDataHome;
};

class QProcess;

// Starts the real program (offscreen) with its folders in the environment's temporary home;
// `extra` holds further NAME=VALUE environment entries.
std::unique_ptr<QProcess> startProgram(const TestEnvironment& env, const QStringList& extra = {});
// tests/data, or a file in it.
QString testDataPath(const QString& relative = QString());
// An executable of the build (build/bin).
QString binaryPath(const QString& name);
// The process set up as the program sets itself up before its store opens: its names, its
// resources and the registry's tables.
void setUpAsTheProgram();
// The whole content of a file, empty when unreadable.
QByteArray readFileBytes(const QString& path);
