#include "appsettings.h"
#include "database.h"
#include "engine.h"
#include "filedialog.h"
#include "guifixture.h"
#include "documentstable.h"
#include "mainwindow.h"
#include "printdialog.h"
#include "testregistry.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsView>
#include <QGroupBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSqlQuery>
#include <QtTest>

Q_DECLARE_METATYPE(ReportList::ReportType)

namespace {

// A dialog over a fresh data folder, with its choices recorded.
struct Dialog {
    explicit Dialog(GuiFixture& f) : dialog(f.build<PrintDialog>()), spy(dialog, &PrintDialog::reportTypeSelected) {
        dialog->show();
    }
    template <typename T> T* get(const char* name) const { return dialog->findChild<T*>(QString::fromLatin1(name)); }
    QListWidget* list() const { return get<QListWidget>("listWidget"); }
    void click(const char* name) const { QTest::mouseClick(get<QPushButton>(name), Qt::LeftButton); }
    void doubleClick(int row) const {
        QListWidget* l = list();
        const QPoint at = l->visualItemRect(l->item(row)).center();
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(l->viewport(), Qt::LeftButton, {}, at);
    }
    QPointer<PrintDialog> dialog;
    QSignalSpy spy;
};

// Opens the dialog `count` times in one data folder and hands each to `step`.
void reopen(GuiFixture& f, const QList<std::function<void(Dialog&)>>& steps) {
    for (const auto& step : steps) {
        Dialog d(f);
        step(d);
        if (d.dialog)
            d.dialog->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}
} // namespace

class TestPrintDialog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        ReportList::build();
        qRegisterMetaType<ReportList::ReportType>();
    }

    void rowsFollowReportList() {
        GuiFixture f;
        Dialog d(f);
        QCOMPARE(d.dialog->windowTitle(), QStringLiteral("Печать"));
        QCOMPARE(d.dialog->windowModality(), Qt::ApplicationModal);
        const auto& reports = ReportList::reports();
        QCOMPARE(d.list()->count(), reports.size());
        for (int row = 0; row < reports.size(); ++row) {
            QCOMPARE(d.list()->item(row)->text(), reports[row].title);
            QCOMPARE(d.list()->item(row)->data(Qt::UserRole).toInt(), int(reports[row].type));
            d.list()->setCurrentRow(row);
            QCOMPARE(d.get<QPlainTextEdit>("plainTextEdit")->toPlainText(), reports[row].description);
        }
        QCOMPARE(d.list()->currentRow(), reports.size() - 1);
    }

    void choiceCarriesFlagsAndCloses() {
        GuiFixture f;
        Dialog d(f);
        d.list()->setCurrentRow(2);
        d.get<QCheckBox>("checkBoxBackground")->setChecked(true);
        d.get<QCheckBox>("checkBoxPreviewBeforePrinting")->setChecked(false);
        d.click("pushButtonPrint");
        QCOMPARE(d.spy.size(), 1);
        QCOMPARE(d.spy[0][0].value<ReportList::ReportType>(), ReportList::CertificateProfession);
        QCOMPARE(d.spy[0][1].toBool(), true);
        QCOMPARE(d.spy[0][2].toBool(), false);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!d.dialog);

        Dialog pdf(f);
        QSignalSpy requested(pdf.dialog, &PrintDialog::pdfRequested);
        pdf.list()->setCurrentRow(4);
        pdf.get<QCheckBox>("checkBoxBackground")->setChecked(false);
        QCOMPARE(pdf.get<QPushButton>("pushButtonSavePdf")->text(), QStringLiteral("Сохранить в PDF"));
        pdf.click("pushButtonSavePdf");
        QCOMPARE(pdf.spy.size(), 0);
        QCOMPARE(requested.size(), 1);
        QCOMPARE(requested[0][0].value<ReportList::ReportType>(), ReportList::CertificatePosition);
        QCOMPARE(requested[0][1].toBool(), false);
    }

    void lastPrintedRowIsCurrentAtNextOpening() {
        GuiFixture f;
        QList<int> opened;
        const auto current = [&](Dialog& d) { opened << d.list()->currentRow(); };
        reopen(f, {[&](Dialog& d) {
                       current(d);
                       d.list()->setCurrentRow(3);
                       d.click("pushButtonPrint");
                   },
                   [&](Dialog& d) {
                       current(d);
                       d.doubleClick(5);
                       QCOMPARE(d.spy.size(), 1);
                       QCOMPARE(d.spy[0][0].value<ReportList::ReportType>(), ReportList::info(706)->type);
                   },
                   current});
        QCOMPARE(opened, (QList<int>{0, 3, 3}));
    }

    void zoomLimits_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("enabledClicks");
        QTest::addColumn<double>("lastZoom");
        QTest::newRow("plus") << "pushButtonScalePlus" << 3 << 2.0736;
        QTest::newRow("minus") << "pushButtonScaleMinus" << 5 << 0.334898;
    }
    void zoomLimits() {
        QFETCH(QString, button);
        QFETCH(int, enabledClicks);
        QFETCH(double, lastZoom);
        GuiFixture f;
        Dialog d(f);
        d.get<QCheckBox>("checkBoxPreview")->setChecked(true);
        auto* b = d.get<QPushButton>(button.toLatin1().constData());
        const char* other = button.endsWith(QLatin1String("Plus")) ? "pushButtonScaleMinus" : "pushButtonScalePlus";
        QVERIFY(b->isVisible());
        for (int i = 0; i < enabledClicks; ++i) {
            QTest::mouseClick(b, Qt::LeftButton);
            QVERIFY2(b->isEnabled(), qPrintable(QString::number(i + 1)));
        }
        QTest::mouseClick(b, Qt::LeftButton);
        QVERIFY(!b->isEnabled());
        QVERIFY(d.get<QPushButton>(other)->isEnabled());
        QVERIFY(qAbs(d.dialog->zoom() - lastZoom) < 1e-4);
        QTest::mouseClick(d.get<QPushButton>(other), Qt::LeftButton);
        QVERIFY(b->isEnabled());
    }

    void previewShowsTemplateBackground() {
        GuiFixture f;
        const QString path = Engine::templatePath(ReportList::CertificateAny);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QVERIFY(QFile::copy(QStringLiteral(":/default_reports/id130.mzrpt"), path));
        const QImage expected = Engine::templatePicture(ReportList::CertificateAny).toImage();
        QVERIFY(!expected.isNull());
        Dialog d(f);
        auto* view = d.get<QGraphicsView>("graphicsView");
        QVERIFY(!view->isVisible()); // preview is off by default
        d.get<QCheckBox>("checkBoxPreview")->setChecked(true);
        QVERIFY(view->isVisible());
        QGraphicsPixmapItem* picture = nullptr;
        for (QGraphicsItem* item : view->scene()->items())
            picture = picture ? picture : qgraphicsitem_cast<QGraphicsPixmapItem*>(item);
        QVERIFY(picture);
        QCOMPARE(picture->pixmap().toImage(), expected);
        // A type without a template shows nothing.
        d.list()->setCurrentRow(1);
        QVERIFY(picture->pixmap().isNull());
    }

    void namesAndPreviewArea_data() {
        QTest::addColumn<bool>("preview");
        QTest::newRow("preview off") << false;
        QTest::newRow("preview on") << true;
    }

    // Every report name shows whole (three of them differ only at their ends) and tells its full
    // name on hover; without the picture the preview area shrinks to its switch instead of
    // leaving an empty frame beside the list.
    void namesAndPreviewArea() {
        QFETCH(bool, preview);
        GuiFixture f;
        Dialog d(f);
        d.get<QCheckBox>("checkBoxPreview")->setChecked(preview);
        d.dialog->resize(300, 300); // as small as it lets itself be
        QCoreApplication::processEvents();
        QListWidget* list = d.list();
        QVERIFY(list->viewport()->width() >= list->sizeHintForColumn(0));
        QCOMPARE(list->horizontalScrollBar()->maximum(), 0);
        for (int row = 0; row < list->count(); ++row) {
            QListWidgetItem* item = list->item(row);
            QCOMPARE(item->toolTip(), ReportList::reports().at(row).description);
            QVERIFY(list->visualItemRect(item).width() >= list->fontMetrics().horizontalAdvance(item->text()));
        }
        auto* area = d.get<QGroupBox>("groupBox");
        QVERIFY(d.get<QCheckBox>("checkBoxPreview")->isVisible());
        if (preview) {
            QVERIFY(d.get<QGraphicsView>("graphicsView")->isVisible());
            return;
        }
        d.dialog->resize(820, 560);
        QCoreApplication::processEvents();
        QVERIFY2(area->height() <= area->sizeHint().height() && area->width() <= area->sizeHint().width(),
                 qPrintable(QStringLiteral("%1x%2").arg(area->width()).arg(area->height())));
        QVERIFY(list->width() > d.dialog->width() / 2);
    }

    // "Сохранить в PDF" where no program opens PDF files says where the copy went.
    void pdfCopyWithoutViewer() {
        GuiFixture f;
        const QString path = Engine::templatePath(ReportList::CertificateAny);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QVERIFY(QFile::copy(QStringLiteral(":/default_reports/id130.mzrpt"), path));
        QSqlQuery insert(QSqlDatabase::database());
        QVERIFY(insert.exec(QStringLiteral("INSERT INTO ProfDocuments (fio1, fio2) VALUES ('Иванов', 'Иван')")));
        auto* window = f.build<MainWindow>();
        DocumentsTable* table = window->documentsTable();
        table->selectRow(0);
        table->onPrintAction();
        auto* dialog = window->findChild<PrintDialog*>();
        QVERIFY(dialog);
        const QString copy = f.env().root() + QStringLiteral("/копия.pdf");
        FileDialog::clear();
        FileDialog::setNextFileName(copy);
        f.answerNextBox(QMessageBox::Ok);
        dialog->findChild<QPushButton*>(QStringLiteral("pushButtonSavePdf"))->click();
        QTRY_VERIFY(QFileInfo(copy).size() > 0);
        QTRY_COMPARE(MessageBox::lastShown().title, QStringLiteral("Информация"));
        QVERIFY2(MessageBox::lastShown().text.contains(QDir::toNativeSeparators(copy)),
                 qPrintable(MessageBox::lastShown().text));
    }

    void templateChoiceMode() {
        GuiFixture f;
        Dialog d(f);
        d.dialog->setTemplateChoiceMode();
        QCOMPARE(d.dialog->windowTitle(), QStringLiteral("Редактировать шаблон"));
        QCOMPARE(d.get<QPushButton>("pushButtonPrint")->text(), QStringLiteral("Редактировать"));
        QCOMPARE(d.get<QGroupBox>("groupBox_3")->title(),
                 QStringLiteral("Выберите шаблон, который нужно отредактировать:"));
        QVERIFY(!d.get<QCheckBox>("checkBoxBackground")->isVisible());
        QVERIFY(!d.get<QPushButton>("pushButtonSavePdf")->isVisible());
        d.list()->setCurrentRow(1);
        d.click("pushButtonPrint");
        d.doubleClick(4);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(d.dialog && d.dialog->isVisible() && d.dialog->isEnabled());
        QCOMPARE(d.spy.size(), 2);
        QCOMPARE(d.spy[0][0].value<ReportList::ReportType>(), ReportList::AppendixAny);
        QCOMPARE(d.spy[1][0].value<ReportList::ReportType>(), ReportList::CertificatePosition);
    }
};

ORVANE_TEST(TestPrintDialog)
#include "tst_printdialog.moc"
