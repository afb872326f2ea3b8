#include "testregistry.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QtGlobal>
#include <QtTest>

namespace {
QList<QPair<QByteArray, testregistry::Factory>>& registry() {
    static QList<QPair<QByteArray, testregistry::Factory>> tests;
    return tests;
}
} // namespace

bool testregistry::add(const char* name, Factory factory) {
    registry().append(qMakePair(QByteArray(name), std::move(factory)));
    return true;
}

// ORVANE_TEST_CLASS names the one class to run (CTest has an entry per class); unset, all run.
int testregistry::runAll(int argc, char** argv) {
    const QByteArray only = qgetenv("ORVANE_TEST_CLASS");
    int failed = 0;
    int ran = 0;
    for (const auto& entry : registry()) {
        if (!only.isEmpty() && entry.first != only)
            continue;
        QObject* test = entry.second();
        failed += QTest::qExec(test, argc, argv);
        delete test;
        ++ran;
    }
    if (ran == 0) {
        qWarning("no test class named %s", only.constData());
        return 1;
    }
    return failed;
}
