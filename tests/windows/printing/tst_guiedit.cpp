#include "reportpage.h"
#include "reportwindow.h"
#include "appsettings.h"
#include "engine.h"
#include "guifixture.h"
#include "mainwindow.h"
#include "printdialog.h"
#include "reportlist.h"
#include "testdatabase.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QListWidget>
#include <QPrinter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

namespace {
QString installTemplate(ReportList::ReportType type, const QString& name) {
    const QString path = Engine::templatePath(type);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::remove(path);
    QFile::copy(QStringLiteral(":/default_reports/") + name + QStringLiteral(".mzrpt"), path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return path;
}

QJsonObject templateJson(const QString& path) {
    ReportPage page;
    QJsonObject object;
    if (page.load(path))
        page.toJson(object);
    return object;
}

QStringList placeholders(ReportWindow* window) {
    QStringList names;
    auto* table = window->findChild<QTableWidget*>(QStringLiteral("tableWidget"));
    for (int row = 0; table && row < table->rowCount(); ++row)
        names << table->item(row, 0)->text();
    return names;
}
} // namespace

// "Редактор форм" opens a report type's template in the designer, filled with sample values.
class TestGuiEdit : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { ReportList::build(); }

    void opensWithSampleValues() {
        GuiFixture f;
        insertRow(QStringLiteral("ProfDocuments"), {{QStringLiteral("fio1"), QStringLiteral("Образцова")}});
        const QString path = installTemplate(ReportList::CertificateAny, QStringLiteral("id130"));
        Engine engine;
        engine.onGuiEdit(ReportList::CertificateAny);
        QPointer<ReportWindow> designer = engine.designer();
        QVERIFY(designer);
        f.adopt<QWidget>(designer);
        QVERIFY(designer->isVisible());
        QCOMPARE(designer->windowTitle(), QStringLiteral("Редактор отчёта - %1").arg(path));
        QCOMPARE(engine.currentPage(), designer->page());
        const QStringList names = placeholders(designer);
        QVERIFY(names.contains(QStringLiteral("$V{last_name}")));
        QCOMPARE(designer->page()->variable(QStringLiteral("last_name")).toString(), QStringLiteral("Образцова"));

        // A print request meanwhile leaves the designer's page alone.
        engine.setPageHook([&f](ReportPage* page) {
            page->printer()->setOutputFormat(QPrinter::PdfFormat);
            page->printer()->setOutputFileName(f.env().root() + QStringLiteral("/print.pdf"));
        });
        QPointer<ReportPage> edited = designer->page();
        f.answerNextBox(QMessageBox::Ok);
        engine.onDocumentPrint(ReportList::CertificateAny, -1, false, false);
        QVERIFY(edited && designer->page() == edited);

        // Saved without a change, the template reads back as it was.
        const QString copy = f.env().root() + QStringLiteral("/copy.mzrpt");
        QVERIFY(designer->page()->save(copy));
        QCOMPARE(templateJson(copy), templateJson(path));
        QVERIFY(!designer->isEdited());
    }

    void missingTemplate() {
        GuiFixture f;
        Engine engine;
        QSignalSpy errors(&engine, &Engine::error);
        engine.onGuiEdit(ReportList::AppendixPosition);
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors[0][0].toString(),
                 QStringLiteral("Шаблон отчёта %1 не найден.").arg(Engine::templatePath(ReportList::AppendixPosition)));
        QVERIFY(!engine.designer());
    }

    // From the main window: the warning, the chooser, then the designer on the chosen template.
    void fromTheMainWindow() {
        GuiFixture f;
        const QString path = installTemplate(ReportList::AppendixAny, QStringLiteral("id133"));
        auto* window = f.build<MainWindow>();
        QTRY_VERIFY(f.widget<QAction>("actionShowToolbar")->isChecked());
        f.answerNextBox(QMessageBox::Yes);
        QVERIFY(f.trigger(QStringLiteral("actionEditor")));
        auto* chooser = window->findChild<PrintDialog*>();
        QVERIFY(chooser);
        auto* list = chooser->findChild<QListWidget*>(QStringLiteral("listWidget"));
        for (int row = 0; row < list->count(); ++row) {
            if (list->item(row)->data(Qt::UserRole).toInt() == ReportList::AppendixAny)
                list->setCurrentRow(row);
        }
        chooser->findChild<QPushButton*>(QStringLiteral("pushButtonPrint"))->click();
        QPointer<ReportWindow> designer = window->engine()->designer();
        QVERIFY(designer);
        QCOMPARE(designer->fileName(), path);
        QVERIFY(placeholders(designer).contains(QStringLiteral("$D{viewprofdetails.col1}")));
        designer->close();
        QTRY_VERIFY(!designer);
    }
};

ORVANE_TEST(TestGuiEdit)
#include "tst_guiedit.moc"
