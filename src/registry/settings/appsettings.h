#pragma once

#include <QString>

class QSettings;
class QWidget;

// The two settings stores and the two folders of the program: the per-user settings folder
// (user store, log, user dictionary) and the data folder (data store, database, templates,
// dictionaries), which the user may relocate through "dataPath".
class AppSettings {
public:
    // Works out both folders, creates them and opens both stores. Runs on the first path request
    // and again whenever the database is constructed, so that a changed "dataPath" takes effect.
    static void setup();
    // Uses `folder` as the data folder whatever "dataPath" says (tools that open a given database).
    static void setDataPathOverride(const QString& folder);
    // Releases both stores (at shutdown). The next request sets them up anew.
    static void release();

    static QString userSettingsPath();
    // The data folder as read from "dataPath" or as worked out (not normalised).
    static QString dataPath();
    // The folder used when "dataPath" is empty; also holds the shipped "default_reports".
    static QString defaultDataPath();
    static QSettings* userSettings();
    static QSettings* dataSettings();

    // Records the running version; true when the one-time notice after a new version is due (the
    // data folder is relocated, so its templates may be older than the program's). The window
    // shows versionNoticeText().
    static bool checkVersion();
    static QString versionNoticeText();

    // Installation data: refreshes "default_reports" of the default data folder from the built-in
    // templates, seeds "reports" of the data folder when it has none and copies the system's
    // Russian dictionary into "dict" when the data folder has none. Never overwrites user files.
    static void installDefaultData(const QString& systemDictFolder = QStringLiteral("/usr/share/hunspell"),
                                   const QString& builtInFolder = QStringLiteral(":/default_reports"));

private:
    static void copyTemplates(const QString& from, const QString& to, bool onlyMissing);
    static void installDictionary(const QString& systemDictFolder);
};
