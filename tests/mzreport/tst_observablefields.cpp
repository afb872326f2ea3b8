#include "qrfield.h"
#include "reportpage.h"
#include "tablefield.h"
#include "textfield.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPageSize>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>

namespace {
using PageEdit = std::function<void(ReportPage*)>;

AbstractField* makeField(int type) {
    if (type == AbstractField::TableType)
        return new TableField;
    if (type == AbstractField::QrType)
        return new QrField;
    return new TextField;
}
} // namespace

Q_DECLARE_METATYPE(PageEdit)

// Every setter of the template tells what changed, once, and what depends on it is laid out anew.
class TestObservableFields : public QObject {
    Q_OBJECT

    QTemporaryDir _dir;
    QString _scan;

private slots:
    void initTestCase() {
        // Lists compare by value, as an undo step restoring them does.
        QMetaType::registerComparators<QList<double>>();
        QMetaType::registerComparators<QList<quint8>>();
        QImage image(40, 60, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        _scan = _dir.filePath(QStringLiteral("scan.png"));
        QVERIFY(image.save(_scan));
    }

    void fieldSetters_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QByteArray>("notified");
        const auto row = [](int type, const char* property, const QVariant& value, const char* notified = nullptr) {
            const char* kinds[] = {"", "text", "table", "qr"};
            QTest::addRow("%s %s", kinds[type], property)
                << type << QByteArray(property) << value << QByteArray(notified ? notified : property);
        };
        const int text = AbstractField::TextType, table = AbstractField::TableType, qr = AbstractField::QrType;
        row(text, "x", 5.0, "geometry");
        row(text, "y", 5.0, "geometry");
        row(text, "width", 50.0, "geometry");
        row(text, "height", 50.0, "geometry");
        row(qr, "geometry", QRectF(1, 2, 30, 30));
        row(text, "wrap", 2);
        row(text, "font", QFont(QStringLiteral("Liberation Serif"), 9));
        row(text, "alignFlags", QVariant::fromValue(quint16(Qt::AlignRight)));
        row(table, "wordWrap", true);
        row(text, "zOnEmpty", true);
        row(text, "text", QStringLiteral("$V{fio}"));
        row(text, "indent", 7.5);
        row(text, "lineHeight", 6.0);
        row(table, "modelName", QStringLiteral("subjects"));
        row(table, "headerIsVisible", false);
        row(table, "autoWidth", true);
        row(table, "columnCount", QVariant::fromValue(quint8(3)));
        row(table, "previewRowCount", QVariant::fromValue(quint8(4)));
        row(table, "headerHeight", 12.0);
        row(table, "rowHeight", 7.0);
        row(table, "columnsWidth", QVariant::fromValue(QList<double>{20.0, 30.0}));
        row(table, "headerNames", QStringList{"№", "Предмет"});
        row(table, "columnIds", QStringList{"$D{m.a}"});
        row(table, "columnsAlign", QVariant::fromValue(QList<quint8>{0, 4}));
        row(table, "drawBorders", false);
        row(table, "splitsCount", 1);
        row(table, "maxSplitHeight", QVariant::fromValue(QList<double>{40.0}));
        row(table, "splitX", QVariant::fromValue(QList<double>{110.0}));
        row(table, "splitY", QVariant::fromValue(QList<double>{20.0}));
    }

    // One notification on the field and on its page, the layout made invalid, nothing for the same
    // value again; the notified property puts the old value back, as an undo step does.
    void fieldSetters() {
        QFETCH(int, type);
        QFETCH(QByteArray, property);
        QFETCH(QVariant, value);
        QFETCH(QByteArray, notified);
        ReportPage page;
        AbstractField* field = makeField(type);
        page.addField(field);
        const QVariant old = field->property(notified);
        QVERIFY(old.isValid());
        field->prepare();
        QVERIFY(field->isLayoutValid());
        QSignalSpy changed(field, &AbstractField::fieldChanged);
        QSignalSpy passedOn(&page, &ReportPage::fieldChanged);

        QVERIFY(field->setProperty(property, value));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).value<AbstractField*>(), field);
        QCOMPARE(changed.at(0).at(1).toByteArray(), notified);
        QCOMPARE(passedOn.count(), 1);
        QCOMPARE(passedOn.at(0), changed.at(0));
        QVERIFY(!field->isLayoutValid());
        QVERIFY(field->setProperty(property, value));
        QCOMPARE(changed.count(), 1);

        QVERIFY(field->setProperty(notified, old));
        QCOMPARE(field->property(notified), old);
        QCOMPARE(changed.count(), 2);
        // A field taken off the page is no longer passed on.
        std::unique_ptr<AbstractField> taken(page.takeField(field));
        QVERIFY(field->setProperty(property, value));
        QCOMPARE(passedOn.count(), 2);
    }

    void pageSettings_data() {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<PageEdit>("set");
        // Whether the fields, which use the page's font, are laid out anew.
        QTest::addColumn<bool>("relayout");
        const auto row = [](const char* name, const char* property, bool relayout, const PageEdit& set) {
            QTest::newRow(name) << QByteArray(property) << set << relayout;
        };
        QPixmap red(10, 10);
        red.fill(Qt::red);
        const QString scan = _scan;
        row("orientation", "orientation", false, [](ReportPage* p) { p->setOrientation(0); });
        row("pageSize", "pageSize", true, [](ReportPage* p) { p->setPageSize(int(QPageSize::A5)); });
        row("pagesCount", "pagesCount", true, [](ReportPage* p) { p->setPagesCount(2); });
        row("defaultFont", "defaultFont", true, [](ReportPage* p) { p->setDefaultFont(QFont("Liberation Sans", 11)); });
        row("print background", "printBackgroundImage", false, [](ReportPage* p) { p->setPrintBackgroundImage(true); });
        row("background", "backgroundImage", false, [red](ReportPage* p) { p->setBackgroundImage(red); });
        row("background 2", "backgroundImage2", false, [red](ReportPage* p) { p->setBackgroundImage2(red); });
        row("from file", "backgroundImage", false, [scan](ReportPage* p) { p->setBackgroundImageFromFile(scan); });
        row("2 from file", "backgroundImage2", false, [scan](ReportPage* p) { p->setBackgroundImage2FromFile(scan); });
        // The page starts with a second background only.
        row("clear", "backgroundImage2", false, [](ReportPage* p) { p->clearBackgroundImages(); });
    }

    void pageSettings() {
        QFETCH(QByteArray, property);
        QFETCH(PageEdit, set);
        QFETCH(bool, relayout);
        ReportPage page;
        QPixmap blank(5, 5);
        blank.fill(Qt::white);
        page.setBackgroundImage2(blank);
        auto* field = new TextField;
        page.addField(field);
        field->prepare();
        QSignalSpy changed(&page, &ReportPage::pageChanged);
        QSignalSpy fieldChanged(&page, &ReportPage::fieldChanged);

        set(&page);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toByteArray(), property);
        QCOMPARE(field->isLayoutValid(), !relayout);
        set(&page);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(fieldChanged.count(), 0);
    }

    // Reading a template and painting it tell nothing; the fields read are observed afterwards.
    void loadingAndPaintingAreSilent() {
        ReportPage page;
        QSignalSpy pageChanged(&page, &ReportPage::pageChanged);
        QSignalSpy fieldChanged(&page, &ReportPage::fieldChanged);
        const QByteArray file = readFileBytes(testDataPath(QStringLiteral("MzReport/full.mzrpt")));
        page.fromJson(QJsonDocument::fromJson(file).object());
        QCOMPARE(page.fields().size(), 4);
        QImage image(200, 280, QImage::Format_RGB32);
        QPainter painter(&image);
        for (int side = 0; side < page.pagesCount(); ++side)
            page.paintSide(painter, side, image.rect(), side * 280.0, 1.0);
        QCOMPARE(pageChanged.count() + fieldChanged.count(), 0);

        page.fields().last()->setY(123.25);
        QCOMPARE(fieldChanged.count(), 1);
    }
};

ORVANE_TEST(TestObservableFields)
#include "tst_observablefields.moc"
