#pragma once

#include "appsettings.h"
#include "spellchecker.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QInputMethodEvent>
#include <QList>
#include <QObject>
#include <QSettings>

// Debian's Russian dictionary, the one the program installs at first start.
inline QString systemDictionary(const QString& extension) {
    return QStringLiteral("/usr/share/hunspell/ru_RU.") + extension;
}

// Puts the Russian dictionary pair into the data folder of the current test environment.
inline bool installRussianDictionary() {
    const QString folder = AppSettings::dataPath() + QStringLiteral("/dict");
    QDir().mkpath(folder);
    return QFile::copy(systemDictionary(QStringLiteral("aff")), folder + QStringLiteral("/ru_RU.aff")) &&
           QFile::copy(systemDictionary(QStringLiteral("dic")), folder + QStringLiteral("/ru_RU.dic"));
}

// A private home with the Russian dictionary installed and the process-wide checker created on it.
struct RussianChecker {
    TestEnvironment env;
    bool ready = installRussianDictionary() && SpellChecker::init();
    ~RussianChecker() { SpellChecker::release(); }
};

// Stores a value at once: a store released with pending changes would write into a removed folder.
inline void setStored(QSettings* store, const QString& key, const QVariant& value) {
    store->setValue(key, value);
    store->sync();
}

// Records the text-format attributes of the input-method events a widget receives.
class InputMethodSpy : public QObject {
public:
    explicit InputMethodSpy(QObject* target) : QObject(target) { target->installEventFilter(this); }

    struct Range {
        int start;
        int length;
        QTextCharFormat format;
    };
    // One list of ranges per event received.
    QList<QList<Range>> events;

    // The ranges of the last event as "start+length" texts, starts taken as they were sent.
    QStringList lastRanges() const {
        QStringList ranges;
        if (!events.isEmpty())
            for (const Range& r : events.last())
                ranges << QStringLiteral("%1+%2").arg(r.start).arg(r.length);
        return ranges;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::InputMethod) {
            QList<Range> ranges;
            for (const QInputMethodEvent::Attribute& a : static_cast<QInputMethodEvent*>(event)->attributes())
                if (a.type == QInputMethodEvent::TextFormat)
                    ranges << Range{a.start, a.length, qvariant_cast<QTextFormat>(a.value).toCharFormat()};
            events << ranges;
        }
        return QObject::eventFilter(watched, event);
    }
};
