#include "applog.h"
#include "appresources.h"
#include "appsettings.h"
#include "database.h"
#include "instanceguard.h"
#include "mainwindow.h"
#include "mzlog.h"
#include "productinfo.h"
#include "profschema.h"
#include "proxysettings.h"
#include "reportlist.h"
#include "serverlogin.h"
#include "serversettings.h"
#include "spellchecker.h"
#include "splash.h"
#include "startupboxes.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QLibraryInfo>
#include <QPrinterInfo>
#include <QTextCodec>
#include <QTranslator>
#include <memory>

namespace {
void prepareApplicationIdentity() {
#ifdef Q_OS_WIN
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("CP1251"));
#endif
    // Elsewhere the system codec (UTF-8) stays: CP1251 would garble Cyrillic file names.
    QCoreApplication::setOrganizationName(QStringLiteral("MzSoftware"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("mzsoftware.ru"));
    QCoreApplication::setApplicationName(ProductTypeInfo::appName());
}
} // namespace

int main(int argc, char* argv[]) {
    ProductTypeInfo::setProductType(ProductTypeInfo::ProfessionalTraining);
    ReportList::build();
    Database::setSchema(ProfSchema::tables(), ProfSchema::mainPrimaryKeyName());
    prepareApplicationIdentity();

    QApplication app(argc, argv);
    initAppResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/default.png")));

    QTranslator translator;
    if (translator.load(QStringLiteral("qt_ru"), QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&translator);

    QFont font;
    font.fromString(QStringLiteral("MS Shell Dlg 2,8.25,-1,5,50,0,0,0,0,0"));
    QApplication::setFont(font);

    InstanceGuard guard;
    if (!guard.acquire())
        return InstanceGuard::refuse();
    // A registry on a server is shared by design: only a file is kept to one program.
    const bool serverChosen = ServerSettings::usesServer();
    if (!serverChosen && !guard.lockDataFolder(Database::lockFilePath()))
        return InstanceGuard::refuse();

    AppLog::truncate();
    AppLog::install();
    AppLog::writeStartupBanner();
    // Passwords an earlier version kept in the settings file go to the keyring before anything reads them.
    ServerSettings::moveScrambledPassword();
    ProxySettings::moveScrambledPassword();
    if (serverChosen) {
        ServerAddress address;
        switch (ServerLogin::connect(&address)) {
        case ServerLogin::Outcome::Server:
            Database::useServer(address);
            break;
        case ServerLogin::Outcome::File:
            if (!guard.lockDataFolder(Database::lockFilePath()))
                return InstanceGuard::refuse();
            break;
        case ServerLogin::Outcome::Quit:
            return 0;
        }
    }
    // The splash's time runs from here, after the login's questions it would stand over; the
    // registry opens and the window is built behind it.
    Splash splash;
    splash.show();
    // The printers belong to the windows' side: the registry core has no print support.
    qDebug() << "AvailablePrinters:" << QPrinterInfo::availablePrinters();
    AppSettings::installDefaultData();

    // The data store's start-up questions are the user's; a start it cannot make ends here.
    StartupBoxes startupBoxes;
    Database::setStartupQuestions(&startupBoxes);
    const Database* database = Database::instance();
    Database::setStartupQuestions(nullptr);
    if (!database->isValid()) {
        const int exitCode = database->startupProblem().exitCode;
        Database::shutdown();
        return exitCode;
    }

    qDebug() << "SpellChecker::init():" << SpellChecker::init();

    // The list counts its documents and reads its first page here; the other pages come while the
    // splash is still up.
    auto window = std::make_unique<MainWindow>();
    splash.closeAndShow(window.get());

    const int result = QApplication::exec();
    window.reset();
    Database::shutdown();
    return result;
}
