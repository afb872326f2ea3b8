#include "testregistry.h"

#include "appresources.h"

#include <QApplication>
#include <QByteArray>
#include <QList>
#include <QPair>
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

int testregistry::runAll(int argc, char** argv) {
    int failed = 0;
    for (const auto& entry : registry()) {
        QObject* test = entry.second();
        failed += QTest::qExec(test, argc, argv);
        delete test;
    }
    return failed;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("MzSoftware"));
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    initAppResources();
    return testregistry::runAll(argc, argv);
}
