#include "qrfield.h"
#include "reportpage.h"
#include "tablefield.h"
#include "textfield.h"
#include "messagebox.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <QPrinter>
#include <QStandardItemModel>
#include <QtTest>

namespace {
const QString fullTemplate = QStringLiteral("MzReport/full.mzrpt");
const QStringList imageKeys{"backgroundImage", "backgroundImage2", "backgroundImageJPG", "backgroundImage2JPG"};

QString compact(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QJsonObject written(const ReportPage& page, bool withBackgrounds = false) {
    QJsonObject object;
    page.toJson(object);
    if (!withBackgrounds)
        for (const QString& key : imageKeys)
            object.remove(key);
    return object;
}

QString base64Image(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return QString::fromLatin1(bytes.toBase64());
}

QImage decodeBase64(const QJsonValue& value) {
    return QImage::fromData(QByteArray::fromBase64(value.toString().toLatin1()), "JPG");
}

QString writeFile(const QTemporaryDir& dir, const QByteArray& content) {
    QFile file(dir.filePath(QStringLiteral("t.mzrpt")));
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return file.fileName();
}
} // namespace

class TestReportFormat : public QObject {
    Q_OBJECT

private slots:
    void init() { MessageBox::clearShown(); }

    // Every key of the file is read and written back: the page writes the file it read, except that
    // the legacy default font is dropped, the alignments are padded to the column count and the PNG
    // backgrounds come back as JPEG.
    void readsAndWritesEveryKey() {
        ReportPage page;
        QVERIFY(page.load(testDataPath(fullTemplate)));
        QJsonObject expected = QJsonDocument::fromJson(readFileBytes(testDataPath(fullTemplate))).object();
        for (const QString& key : imageKeys)
            expected.remove(key);
        QJsonArray texts = expected.value("textFields").toArray();
        QJsonObject second = texts.at(1).toObject();
        second.remove("font");
        texts.replace(1, second);
        expected.insert("textFields", texts);
        QJsonArray tables = expected.value("tableFields").toArray();
        QJsonObject table = tables.at(0).toObject();
        table.insert("columnsAlign", QJsonArray{1, 4, 0});
        tables.replace(0, table);
        expected.insert("tableFields", tables);
        QCOMPARE(compact(written(page)), compact(expected));

        // Spot checks through the getters, so that a fault mirrored in reading and writing shows.
        QCOMPARE(page.printer()->pageLayout().orientation(), QPageLayout::Portrait);
        QCOMPARE(page.printer()->pageLayout().pageSize().id(), QPageSize::A5);
        QCOMPARE(page.defaultFont().family(), QStringLiteral("Liberation Sans"));
        QVERIFY(page.defaultFont().bold() && page.defaultFont().italic());
        const auto* text = qobject_cast<TextField*>(page.fields().at(0));
        QVERIFY(text && text->zOnEmpty() && text->wordWrap() && text->shrinkToFit());
        QVERIFY(!qobject_cast<TextField*>(page.fields().at(1))->shrinkToFit());
        QCOMPARE(text->x(), 12.5);
        QCOMPARE(text->lineHeight(), 6.25);
        QCOMPARE(text->font().family(), QStringLiteral("Liberation Serif"));
        QVERIFY(AbstractField::isDefaultFont(page.fields().at(1)->font()));
        QCOMPARE(page.fields().at(2)->type(), int(AbstractField::TableType));
        QCOMPARE(page.fields().at(3)->type(), int(AbstractField::QrType));
        const QImage background = page.backgroundImage().toImage();
        QCOMPARE(background.size(), QSize(40, 30));
        QCOMPARE(background.pixelColor(2, 2), QColor(0xcc, 0x33, 0x33));
        QCOMPARE(page.backgroundImage2().size(), QSize(30, 40));

        // Through a file and back: field by field the same, backgrounds as JPEG only.
        QTemporaryDir dir;
        QVERIFY(page.save(dir.filePath("copy.mzrpt")));
        const QJsonObject file = QJsonDocument::fromJson(readFileBytes(dir.filePath("copy.mzrpt"))).object();
        QVERIFY(!file.contains("backgroundImage") && !file.contains("backgroundImage2"));
        QCOMPARE(decodeBase64(file.value("backgroundImageJPG")).size(), QSize(40, 30));
        QCOMPARE(decodeBase64(file.value("backgroundImage2JPG")).size(), QSize(30, 40));
        ReportPage copy;
        QVERIFY(copy.load(dir.filePath("copy.mzrpt")));
        QCOMPARE(compact(written(copy)), compact(written(page)));
        QCOMPARE(copy.fields().at(0)->font(), text->font());
        QCOMPARE(copy.backgroundImage().size(), QSize(40, 30));
    }

    // An empty page is landscape A4 with one side; absent field keys read as 0, false and empty
    // (not as the constructor's 20 x 6 mm); absent page keys keep what the page had.
    void absentKeys() {
        ReportPage page;
        page.fromJson(
            QJsonDocument::fromJson(R"({"textFields": [{}], "tableFields": [{}], "qrFields": [{}]})").object());
        QCOMPARE(page.printer()->pageLayout().orientation(), QPageLayout::Landscape);
        QCOMPARE(page.printer()->pageLayout().pageSize().id(), QPageSize::A4);
        QVERIFY(page.backgroundImage().isNull() && page.backgroundImage2().isNull());
        QJsonObject common{{"x", 0},         {"y", 0}, {"width", 0}, {"height", 0}, {"wrap", 0}, {"wordWrap", false},
                           {"alignFlags", 0}};
        QJsonObject text = common, qr = common, table = common;
        text.insert("id", "");
        text.insert("indent", 0);
        text.insert("lineHeight", 0);
        qr.insert("id", "");
        for (const char* key : {"headerIsVisible", "autoWidth", "drawBorders"})
            table.insert(key, false);
        for (const char* key : {"columnCount", "previewRowCount", "headerHeight", "rowHeight", "splitsCount"})
            table.insert(key, 0);
        for (const char* key :
             {"columnsWidth", "headerNames", "columnIds", "columnsAlign", "maxSplitHeight", "splitX", "splitY"})
            table.insert(key, QJsonArray());
        table.insert("mModelName", "");
        const QJsonObject expected{{"orientation", 1},
                                   {"printBackgroundImage", false},
                                   {"defaultFont", "Times New Roman,14,-1,5,50,0,0,0,0,0"},
                                   {"pagesCount", 1},
                                   {"pageSize", 0},
                                   {"textFields", QJsonArray{text}},
                                   {"tableFields", QJsonArray{table}},
                                   {"qrFields", QJsonArray{qr}}};
        QCOMPARE(compact(written(page)), compact(expected));

        page.setOrientation(0);
        page.setPagesCount(2);
        page.setPageSize(8);
        page.setPrintBackgroundImage(true);
        page.fromJson(QJsonObject());
        QCOMPARE(page.printer()->pageLayout().orientation(), QPageLayout::Portrait);
        QCOMPARE(page.printer()->pageLayout().pageSize().id(), QPageSize::A3);
        QVERIFY(page.printBackgroundImage());
        QCOMPARE(page.pagesCount(), 2);
        QVERIFY(page.fields().isEmpty());
    }
    void lengthsAreCutToTwoDecimals_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("expected");
        const QList<QPair<double, double>> values{{12.349, 12.34}, {0.29, 0.28}, {-3.457, -3.45}, {210.0, 210.0}};
        for (const char* key : {"x", "y", "width", "height", "indent", "lineHeight", "headerHeight", "rowHeight",
                                "columnsWidth", "maxSplitHeight", "splitX", "splitY"})
            for (const auto& value : values)
                QTest::addRow("%s %g", key, value.first) << QString(key) << value.first << value.second;
    }

    // Read as given, written cut (never rounded) to two decimals.
    void lengthsAreCutToTwoDecimals() {
        QFETCH(QString, key);
        QFETCH(double, value);
        QFETCH(double, expected);
        const bool text = key == "indent" || key == "lineHeight";
        const bool list = key.startsWith("columns") || key.startsWith("maxSplit") || key.startsWith("split");
        const QJsonValue given = list ? QJsonValue(QJsonArray{value}) : QJsonValue(value);
        ReportPage page;
        page.fromJson({{text ? "textFields" : "tableFields", QJsonArray{QJsonObject{{key, given}}}}});
        QJsonObject object;
        page.fields().at(0)->write(object);
        const QJsonValue out = object.value(key);
        QCOMPARE(list ? out.toArray().at(0).toDouble() : out.toDouble(), expected);
    }

    void fieldFonts_data() {
        QTest::addColumn<QString>("font");
        QTest::addColumn<bool>("pageFont");
        QTest::newRow("absent") << QString() << true;
        QTest::newRow("legacy default") << QString("MS Shell Dlg 2,8.25,-1,5,50,0,0,0,0,0") << true;
        QTest::newRow("this platform's default") << QFont().toString() << true;
        QTest::newRow("own font") << QString("Liberation Sans,9,-1,5,75,0,0,0,0,0") << false;
        QTest::newRow("not a font") << QString("x,y,z") << true;
        QTest::newRow("absurd size") << QString("Liberation Sans,90000,-1,5,50,0,0,0,0,0") << true;
    }

    // A field left at the default font prints in the page's default font, follows it when it changes and
    // is written without "font".
    void fieldFonts() {
        QFETCH(QString, font);
        QFETCH(bool, pageFont);
        QJsonObject object{{"id", "x"}};
        if (!font.isNull())
            object.insert("font", font);
        ReportPage page;
        page.fromJson({{"textFields", QJsonArray{object}}});
        const AbstractField* field = page.fields().at(0);
        page.setDefaultFont(QFont(QStringLiteral("Liberation Mono"), 20));
        QCOMPARE(field->effectiveFont().toString(), pageFont ? page.defaultFont().toString() : font);
        QJsonObject out;
        field->write(out);
        QCOMPARE(out.value("font").toString(), pageFont ? QString() : font);
    }

    void backgroundKeys_data() {
        QImage red(16, 12, QImage::Format_RGB32), blue(10, 20, QImage::Format_RGB32);
        red.fill(QColor(200, 40, 40));
        blue.fill(QColor(40, 40, 200));
        const QString png = base64Image(red, "PNG"), jpg = base64Image(blue, "JPG");
        QTest::addColumn<QJsonObject>("object");
        QTest::addColumn<QSize>("first");
        QTest::addColumn<QSize>("second");
        const QSize kept(3, 3), none(0, 0);
        QTest::newRow("png") << QJsonObject{{"backgroundImage", png}, {"backgroundImage2", png}} << red.size()
                             << red.size();
        QTest::newRow("jpeg wins") << QJsonObject{{"backgroundImage", png}, {"backgroundImageJPG", jpg}} << blue.size()
                                   << kept;
        QTest::newRow("bad jpeg replaces png")
            << QJsonObject{{"backgroundImage", png}, {"backgroundImageJPG", "AAAA"}} << none << kept;
        QTest::newRow("not base64") << QJsonObject{{"backgroundImageJPG", "%% no image %%"}} << none << kept;
        QTest::newRow("not a string") << QJsonObject{{"backgroundImageJPG", 42}, {"backgroundImage2", QJsonArray{1}}}
                                      << kept << kept;
    }

    // Absent keys and keys of the wrong type keep the page's background; bytes that do not load clear it.
    void backgroundKeys() {
        QFETCH(QJsonObject, object);
        QFETCH(QSize, first);
        QFETCH(QSize, second);
        ReportPage page;
        QPixmap before(3, 3);
        before.fill(Qt::white);
        page.setBackgroundImage(before);
        page.setBackgroundImage2(before);
        page.fromJson(object);
        QCOMPARE(page.backgroundImage().size(), first);
        QCOMPARE(page.backgroundImage2().size(), second);
        const QJsonObject out = written(page, true);
        QCOMPARE(decodeBase64(out.value("backgroundImageJPG")).size(), first);
        QCOMPARE(decodeBase64(out.value("backgroundImage2JPG")).size(), second);
    }

    void malformedInputs_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("fields");
        QByteArray many = "{\"textFields\": [{}";
        for (int i = 1; i < 20000; ++i)
            many += ",{}";
        many += "], \"qrFields\": [{}]}";
        const QByteArray nested = "{\"textFields\": [{\"id\": " + QByteArray(500, '[') + QByteArray(500, ']') + "}]}";
        QTest::newRow("strings for numbers") << QByteArray(R"({"orientation": "1", "pagesCount": "3", "textFields":
            [{"x": "12", "width": "abc", "id": 5, "wordWrap": "yes", "zOnEmpty": 1, "shrinkToFit": "yes"}]})")
                                             << 1;
        QTest::newRow("objects for arrays")
            << QByteArray(R"({"textFields": {"x": 1}, "qrFields": "a", "tableFields": 7})") << 0;
        QTest::newRow("non-object elements") << QByteArray(R"({"textFields": [1, "a", null, [], true, {}]})") << 6;
        QTest::newRow("huge field array") << many << 2000;
        QTest::newRow("negative sizes") << QByteArray(R"({"textFields": [{"x": -50, "y": -1e9, "width": -10, "height":
            -5, "indent": -4, "lineHeight": -3, "zOnEmpty": true, "id": "a"}], "qrFields": [{"width": -20, "height": -2}]})")
                                        << 2;
        QTest::newRow("huge sizes") << QByteArray(R"({"pagesCount": 2, "textFields": [{"x": 1e308, "y": 1e300, "width":
            1e300, "height": 1e300, "indent": 1e300, "lineHeight": 1e300, "wordWrap": true, "zOnEmpty": true, "id":
            "a\\nb"}], "qrFields": [{"x": 5, "y": 5, "width": 1e300, "height": 1e300}]})")
                                    << 2;
        QTest::newRow("255 columns, short lists") << QByteArray(R"({"tableFields": [{"columnCount": 255,
            "previewRowCount": 999, "columnsWidth": [1], "headerNames": ["a", 5], "columnsAlign": [300, -5, "x"],
            "splitsCount": 1e12, "maxSplitHeight": [40], "splitX": ["a"], "splitY": {}}]})")
                                                  << 1;
        QTest::newRow("base64 that is no image") << QByteArray(R"({"backgroundImageJPG": "!!!", "backgroundImage2":
            "aGVsbG8=", "printBackgroundImage": true})")
                                                 << 0;
        QTest::newRow("deeply nested value") << nested << 1;
        QTest::newRow("out-of-range page") << QByteArray(R"({"orientation": 7, "pageSize": 500, "pagesCount": 1e9,
            "defaultFont": "Times,1e9,-1,5,50,0,0,0,0,0"})")
                                           << 0;
        QTest::newRow("custom paper, negative sides") << QByteArray(R"({"pageSize": 30, "pagesCount": -5})") << 0;
    }

    // Any valid JSON loads, stays within what the engine can paint, paints and writes back.
    void malformedInputs() {
        QFETCH(QByteArray, json);
        QFETCH(int, fields);
        QTemporaryDir dir;
        ReportPage page;
        QVERIFY(page.load(writeFile(dir, json)));
        QCOMPARE(page.fields().size(), fields);
        QVERIFY(page.orientation() == 0 || page.orientation() == 1);
        QVERIFY(page.pagesCount() >= 0 && page.pagesCount() <= 100);
        QVERIFY(page.printer()->pageLayout().isValid());
        QVERIFY(page.defaultFont().pointSizeF() > 0 && page.defaultFont().pointSizeF() <= 400);
        for (const AbstractField* field : page.fields()) {
            for (double value : {field->x(), field->y(), field->width(), field->height()})
                QVERIFY(qIsFinite(value) && qAbs(value) <= 1e6);
            if (auto table = qobject_cast<const TableField*>(field))
                QVERIFY(table->columnsAlign().size() >= table->columnCount());
        }
        page.setVariable(QStringLiteral("x"), QStringLiteral("$V{x}"));
        QImage image(120, 90, QImage::Format_RGB32);
        for (bool fill : {false, true}) {
            page.setFillWithData(fill);
            for (int side = 0; side < qMin(page.pagesCount(), 3); ++side) {
                QPainter painter(&image);
                page.paintSide(painter, side, image.rect(), 90.0 * side, 0.5);
            }
        }
        ReportPage again;
        again.fromJson(written(page));
        QCOMPARE(compact(written(again)), compact(written(page)));
    }

    void unreadableFiles_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("missing file") << "missing" << QByteArray();
        QTest::newRow("directory") << "directory" << QByteArray();
        QTest::newRow("empty file") << "file" << QByteArray("");
        QTest::newRow("cut JSON") << "file" << QByteArray(R"({"textFields": [{"x": 1)");
        QTest::newRow("nested beyond the parser") << "file" << QByteArray(5000, '[');
        QTest::newRow("top-level array") << "not an object" << QByteArray("[1, 2, 3]");
        QTest::newRow("empty array") << "not an object" << QByteArray("[]");
    }

    // A warning with the system's or the parser's description; the page keeps what it had.
    void unreadableFiles() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("none.mzrpt"));
        QString expected = QStringLiteral("No such file or directory");
        if (kind == "directory") {
            path = dir.path();
            expected.clear();
        } else if (kind == "file") {
            path = writeFile(dir, content);
            QJsonParseError error;
            QJsonDocument::fromJson(content, &error);
            expected = error.errorString();
        } else if (kind == "not an object") {
            path = writeFile(dir, content);
            expected = ReportPage::notATemplateText();
        }
        ReportPage page;
        QVERIFY(page.load(testDataPath(fullTemplate)));
        const QString before = compact(written(page));
        QString reason;
        QVERIFY(!page.load(path, &reason));
        QCOMPARE(compact(written(page)), before);
        // The model shows nothing; the window that asked shows the reason.
        QCOMPARE(MessageBox::shown().size(), 0);
        QVERIFY(!reason.isEmpty());
        if (!expected.isEmpty())
            QCOMPARE(reason, expected);
    }

    void saveFailureIsReported() {
        QTemporaryDir dir;
        ReportPage page;
        QString reason;
        QVERIFY(!page.save(dir.filePath(QStringLiteral("no/such/folder/t.mzrpt")), &reason));
        QVERIFY(!reason.isEmpty());
        // Over a longer old file: replaced whole.
        const QString path = writeFile(dir, QByteArray(100000, ' '));
        QVERIFY(page.save(path, &reason));
        QCOMPARE(MessageBox::shown().size(), 0);
        QCOMPARE(QJsonDocument::fromJson(readFileBytes(path)).object(), written(page));
    }

    // The designer's copy carries geometry, text settings, font, text and the table's columns.
    void binaryCopy() {
        ReportPage page;
        QVERIFY(page.load(testDataPath(fullTemplate)));
        for (int i : {0, 2, 3}) {
            const AbstractField* source = page.fields().at(i);
            QByteArray bytes;
            QDataStream out(&bytes, QIODevice::WriteOnly);
            source->writeTo(out);
            std::unique_ptr<AbstractField> copy;
            if (i == 0)
                copy = std::make_unique<TextField>();
            else if (i == 2)
                copy = std::make_unique<TableField>();
            else
                copy = std::make_unique<QrField>();
            QDataStream in(bytes);
            copy->readFrom(in);
            QVERIFY(in.status() == QDataStream::Ok && in.atEnd());
            QJsonObject a, b;
            source->write(a);
            copy->write(b);
            for (const char* key : {"zOnEmpty", "shrinkToFit", "indent", "lineHeight", "columnsAlign", "splitsCount",
                                    "maxSplitHeight", "splitX", "splitY", "mModelName"}) {
                a.remove(key);
                b.remove(key);
            }
            QCOMPARE(compact(b), compact(a));
        }
    }

    void variablesAndModels() {
        ReportPage page;
        QSignalSpy updated(&page, &ReportPage::dataUpdated);
        page.setVariable(QStringLiteral("  ФИО Full "), QStringLiteral("first"));
        page.setVariable(QStringLiteral("фио full"), QStringLiteral("second"));
        QCOMPARE(page.variables(), (QMap<QString, QVariant>{{QStringLiteral("фио full"), QStringLiteral("second")}}));

        auto* table = new TableField;
        table->setModelName(QStringLiteral(" ViewProfDetails")); // stored as given, looked up as a key
        auto* other = new TableField;
        other->setModelName(QStringLiteral("other"));
        page.addField(table);
        page.addField(other);
        QPointer<QStandardItemModel> model = new QStandardItemModel(3, 2);
        model->setHorizontalHeaderLabels({QStringLiteral("Предмет"), QStringLiteral("Часы")});
        QVERIFY(page.setModel(QStringLiteral("ViewProfDetails"), model, true));
        QCOMPARE(updated.count(), 3);
        QCOMPARE(page.modelNames(), QStringList{QStringLiteral("viewprofdetails")});
        QCOMPARE(page.model(QStringLiteral(" VIEWPROFDETAILS")), model.data());
        QCOMPARE(table->model(), model.data());
        QCOMPARE(table->columnMap(), (QMap<QString, int>{{QStringLiteral("Предмет"), 0}, {QStringLiteral("Часы"), 1}}));
        QVERIFY(!other->model() && other->columnMap().isEmpty());

        // A borrowed model deleted elsewhere is forgotten, not left dangling; an owned one goes with the page.
        auto* borrowed = new QStandardItemModel;
        page.setModel(QStringLiteral("other"), borrowed, false);
        QCOMPARE(other->model(), borrowed);
        delete borrowed;
        QVERIFY(!page.model(QStringLiteral("other")) && !other->model());
        delete page.fields().at(1);
        QCOMPARE(page.fields(), QList<AbstractField*>{table});
        QVERIFY(model);
        {
            ReportPage owner;
            owner.setModel(QStringLiteral("m"), model, true);
        }
        QVERIFY(!model);
    }

    void backgroundFromFile() {
        QTemporaryDir dir;
        QImage image(300, 200, QImage::Format_RGB32);
        image.fill(QColor(10, 120, 200));
        QVERIFY(image.save(dir.filePath(QStringLiteral("scan.png"))));
        ReportPage page;
        QVERIFY(page.setBackgroundImageFromFile(dir.filePath(QStringLiteral("scan.png"))));
        // Stretched over the paper at the printer's own resolution.
        const QSize paper = page.printer()->paperRect(QPrinter::DevicePixel).size().toSize();
        QCOMPARE(page.backgroundImage().size(), paper);
        QVERIFY(!page.setBackgroundImageFromFile(writeFile(dir, "not an image")));
        QVERIFY(!page.setBackgroundImageFromFile(dir.filePath(QStringLiteral("missing.png"))));
        QCOMPARE(page.backgroundImage().toImage().pixelColor(paper.width() / 2, 5), QColor(10, 120, 200));
        QVERIFY(page.backgroundImage2().isNull());
        QVERIFY(page.setBackgroundImage2FromFile(dir.filePath(QStringLiteral("scan.png"))));
        page.clearBackgroundImages();
        QVERIFY(page.backgroundImage().isNull() && page.backgroundImage2().isNull());
    }
};

ORVANE_TEST(TestReportFormat)
#include "tst_reportformat.moc"
