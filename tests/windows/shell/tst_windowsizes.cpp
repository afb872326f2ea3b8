#include "aboutdialog.h"
#include "additionaleditdialog.h"
#include "bossguidedialog.h"
#include "documenteditdialog.h"
#include "edittablefielddialog.h"
#include "frdocheckdialog.h"
#include "frdodialog.h"
#include "guifixture.h"
#include "importdialog.h"
#include "mainwindow.h"
#include "optionsdialog.h"
#include "preferencesdialog.h"
#include "printdialog.h"
#include "printercalibrationdialog.h"
#include "reportlist.h"
#include "reportwindow.h"
#include "selecttemplatedialog.h"
#include "serveraddress.h"
#include "servermovedialog.h"
#include "serverpassworddialog.h"
#include "statisticsdialog.h"
#include "testregistry.h"
#include "tipsdialog.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QScrollArea>
#include <QtTest>
#include <functional>

namespace {
// The office laptop: 1366×768, less a taskbar.
const QSize screenRoom(1366, 720);

using Factory = std::function<QWidget*(GuiFixture&, int documentId)>;

// The texts of labels, buttons and group boxes that show less than their whole text, outside
// scroll areas (whose content the user scrolls to).
QStringList cutTexts(QWidget* window) {
    QStringList cut;
    const auto check = [&cut](QWidget* widget, const QString& text, int needed) {
        if (!widget->isVisible() || text.isEmpty() || widget->width() >= needed)
            return;
        for (QWidget* up = widget->parentWidget(); up; up = up->parentWidget())
            if (qobject_cast<QScrollArea*>(up))
                return;
        cut << QStringLiteral("%1 «%2»: %3 of %4 px")
                   .arg(widget->objectName(), text.simplified())
                   .arg(widget->width())
                   .arg(needed);
    };
    for (QLabel* label : window->findChildren<QLabel*>())
        if (!label->wordWrap() && label->pixmap() == nullptr)
            check(label, label->text(), label->minimumSizeHint().width());
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
        check(button, button->text(), button->minimumSizeHint().width());
    for (QGroupBox* box : window->findChildren<QGroupBox*>())
        check(box, box->title(), box->minimumSizeHint().width());
    return cut;
}
} // namespace

Q_DECLARE_METATYPE(Factory)

// Every window of the program, built as the program builds it over a fresh registry holding one
// document, fits the screen of a 1366×768 laptop with a taskbar: it cannot be made taller than
// 720 px by its layout, it opens within 1366×720, and its labels are whole at that size.
class TestWindowSizes : public QObject {
    Q_OBJECT

private slots:
    void fitsTheScreen_data() {
        QTest::addColumn<Factory>("factory");
        const auto row = [](const char* name, Factory factory) { QTest::newRow(name) << factory; };
        row("main window", [](GuiFixture& f, int) { return f.build<MainWindow>(); });
        row("document", [](GuiFixture& f, int id) {
            auto* dialog = f.build<DocumentEditDialog>();
            dialog->setId(id);
            return dialog;
        });
        row("template", [](GuiFixture& f, int) {
            auto* dialog = f.build<DocumentEditDialog>();
            dialog->setTemplateMode(true);
            return dialog;
        });
        row("appendix", [](GuiFixture& f, int id) {
            auto* dialog = f.build<AdditionalEditDialog>();
            dialog->setId(id);
            return dialog;
        });
        row("FRDO", [](GuiFixture& f, int id) {
            auto* dialog = f.build<FrdoDialog>();
            dialog->setDocId(id);
            return dialog;
        });
        row("organisation", [](GuiFixture& f, int) { return f.build<OptionsDialog>(); });
        row("signatories", [](GuiFixture& f, int) { return f.build<BossGuideDialog>(BossGuideDialog::Chairman); });
        row("preferences", [](GuiFixture& f, int) { return f.build<PreferencesDialog>(); });
        row("about", [](GuiFixture& f, int) { return f.build<AboutDialog>(); });
        row("tips", [](GuiFixture& f, int) { return f.build<TipsDialog>(); });
        row("print", [](GuiFixture& f, int) { return f.build<PrintDialog>(); });
        row("template choice", [](GuiFixture& f, int) { return f.build<SelectTemplateDialog>(); });
        row("printer calibration", [](GuiFixture& f, int) {
            return f.build<PrinterCalibrationDialog>(nullptr, QStringList{QStringLiteral("Кабинет 12")});
        });
        row("import", [](GuiFixture& f, int) { return f.build<ImportDialog>(); });
        row("FRDO check", [](GuiFixture& f, int id) {
            return f.build<FrdoCheckDialog>(QList<qint64>{id}, QVector<FrdoCheck::FailingDocument>());
        });
        row("statistics", [](GuiFixture& f, int id) -> QWidget* {
            auto* dialog = f.build<StatisticsDialog>();
            QString error;
            return dialog->load({id}, &error) ? dialog : nullptr;
        });
        row("move to a server", [](GuiFixture& f, int) {
            ServerAddress address;
            QString error;
            ServerAddress::fromUrl(QStringLiteral("postgresql://clerk@server.local:5432/registry"), &address, &error);
            return f.build<ServerMoveDialog>(address, false);
        });
        row("server password", [](GuiFixture& f, int) {
            ServerAddress address;
            QString error;
            ServerAddress::fromUrl(QStringLiteral("postgresql://clerk@server.local:5432/registry"), &address, &error);
            return f.build<ServerPasswordDialog>(address, false, QStringLiteral("password authentication failed"));
        });
        row("designer", [](GuiFixture& f, int) { return f.build<ReportWindow>(); });
        row("table field", [](GuiFixture& f, int) { return f.build<EditTableFieldDialog>(); });
    }

    void fitsTheScreen() {
        QFETCH(Factory, factory);
        GuiFixture f;
        ReportList::build();
        const int id = insertRow(QStringLiteral("ProfDocuments"), {{"fio1", "Константинопольская"},
                                                                   {"fio2", "Александра"},
                                                                   {"fio3", "Владимировна"},
                                                                   {"attNumber", "СВ 000123"},
                                                                   {"profession", "Оператор технологических установок"},
                                                                   {"qual", "5-й разряд"}});
        QWidget* window = factory(f, id);
        QVERIFY(window);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCoreApplication::processEvents();
        const QSize least = window->minimumSizeHint().expandedTo(window->minimumSize());
        QVERIFY2(least.height() <= screenRoom.height(), qPrintable(QString::number(least.height())));
        QVERIFY2(window->width() <= screenRoom.width() && window->height() <= screenRoom.height(),
                 qPrintable(QStringLiteral("%1×%2").arg(window->width()).arg(window->height())));
        const QStringList cut = cutTexts(window);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
    }
};

ORVANE_TEST(TestWindowSizes)
#include "tst_windowsizes.moc"
