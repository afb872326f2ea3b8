#include "appresources.h"
#include "testregistry.h"

// One main() for every test executable, built once per layer: the core's tests run without
// widgets, the engine's and the designer's with them, and the windows' tests answer the data
// store's start-up questions with the program's own boxes.
#if ORVANE_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#if ORVANE_TEST_WINDOWS
#include "startupboxes.h"
#include "testdatabase.h"
#endif

int main(int argc, char** argv) {
    TestApplication app(argc, argv);
    TestApplication::setOrganizationName(QStringLiteral("MzSoftware"));
    TestApplication::setApplicationName(QStringLiteral("Orvane"));
    initAppResources();
#if ORVANE_TEST_WINDOWS
    static StartupBoxes startupBoxes;
    TestDatabase::useStartupQuestions(&startupBoxes);
#endif
    return testregistry::runAll(argc, argv);
}
