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
    // No test reaches the desktop's keyring of whoever runs it: only the keyring tests bring a
    // private one of their own.
    if (!qEnvironmentVariableIsSet("ORVANE_TEST_KEYRING"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orvane-test-bus");
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
