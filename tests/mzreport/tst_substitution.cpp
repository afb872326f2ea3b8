#include "reportpage.h"
#include "testregistry.h"

#include <QDate>
#include <QtTest>

using Variables = QMap<QString, QVariant>;
Q_DECLARE_METATYPE(Variables)

class TestSubstitution : public QObject {
    Q_OBJECT

private slots:
    void substitutes_data() {
        QTest::addColumn<Variables>("variables");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("keysAfter");

        const Variables person{{"fio", QStringLiteral("Иванов Иван")}, {"year", 2024}};
        const QStringList personKeys{"fio", "year"};
        QTest::newRow("no placeholder") << person << QString("plain text") << QString("plain text") << personKeys;
        QTest::newRow("backslash-n without placeholder")
            << person << QString("one\\ntwo\\n") << QString("one\ntwo\n") << personKeys;
        QTest::newRow("one placeholder") << person << QString("Выдано: $V{fio}.") << QString("Выдано: Иванов Иван.")
                                         << personKeys;
        QTest::newRow("name trimmed and lower-cased")
            << person << QString("$V{ FIO }, $V{Year}") << QString("Иванов Иван, 2024") << personKeys;
        QTest::newRow("line break after filling")
            << person << QString("$V{fio}\\n$V{year}") << QString("Иванов Иван\n2024") << personKeys;
        QTest::newRow("unknown variable added empty")
            << person << QString("[$V{ Missing One }]") << QString("[]") << QStringList{"fio", "missing one", "year"};
        QTest::newRow("closing brace before the first placeholder")
            << person << QString("a} $V{fio}\\n") << QString("a} $V{fio}\\n") << personKeys;
        QTest::newRow("brace before a later placeholder")
            << person << QString("$V{fio} } $V{year}\\n") << QString("Иванов Иван } $V{year}\\n") << personKeys;
        QTest::newRow("no closing brace") << person << QString("$V{fio") << QString("$V{fio") << personKeys;
        QTest::newRow("empty name") << person << QString("<$V{}>") << QString("<>") << QStringList{"", "fio", "year"};
        QTest::newRow("lower-case prefix is text")
            << person << QString("$V{fio} $v{fio}") << QString("Иванов Иван $v{fio}") << personKeys;
        QTest::newRow("brace of an earlier lower-case prefix")
            << person << QString("$v{fio} $V{fio}") << QString("$v{fio} $V{fio}") << personKeys;
        QTest::newRow("value holding a placeholder")
            << Variables{{"full", QStringLiteral("$V{fio} ($V{year})")},
                         {"fio", QStringLiteral("Петров")},
                         {"year", 1999}}
            << QString("$V{full}") << QString("Петров (1999)") << QStringList{"fio", "full", "year"};
        QTest::newRow("value holding backslash-n") << Variables{{"two", QStringLiteral("a\\nb")}} << QString("$V{two}")
                                                   << QString("a\nb") << QStringList{"two"};
        QTest::newRow("cyrillic name") << Variables{{"организация", QStringLiteral("Колледж")}}
                                       << QString("$V{ Организация }") << QString("Колледж")
                                       << QStringList{"организация"};
        QTest::newRow("non-text values") << Variables{{"date", QDate(2024, 6, 30)}, {"n", 3.5}, {"null", QVariant()}}
                                         << QString("$V{date}|$V{n}|$V{null}") << QString("2024-06-30|3.5|")
                                         << QStringList{"date", "n", "null"};
    }

    void substitutes() {
        QFETCH(Variables, variables);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QFETCH(QStringList, keysAfter);
        ReportPage page;
        for (auto it = variables.cbegin(); it != variables.cend(); ++it)
            page.setVariable(it.key(), it.value());
        QCOMPARE(page.substituteVariables(text), expected);
        QCOMPARE(page.variables().keys(), keysAfter);
        if (keysAfter.contains(QStringLiteral("missing one")))
            QVERIFY(page.variable(QStringLiteral("missing one")).isNull());
    }

    // Record data prints as typed: its "<" and "&" are escaped for the rich text of the fields,
    // while markup built on purpose and the raw values a QR code takes stay as they are.
    void escaping_data() {
        QTest::addColumn<bool>("markup");
        QTest::addColumn<bool>("richText");
        QTest::addColumn<QString>("expected");
        const QString raw = QStringLiteral("Иванов <Пётр> & \"Ko\" a<b<img src=/etc/hostname>");
        QTest::newRow("record value") << false << true
                                      << QStringLiteral("[Иванов &lt;Пётр&gt; &amp; &quot;Ko&quot; "
                                                        "a&lt;b&lt;img src=/etc/hostname&gt;]");
        QTest::newRow("markup on purpose") << true << true << QStringLiteral("[") + raw + QStringLiteral("]");
        QTest::newRow("for a QR code") << false << false << QStringLiteral("[") + raw + QStringLiteral("]");
    }

    void escaping() {
        QFETCH(bool, markup);
        QFETCH(bool, richText);
        QFETCH(QString, expected);
        ReportPage page;
        page.setVariable(QStringLiteral("fio"), QStringLiteral("Иванов <Пётр> & \"Ko\" a<b<img src=/etc/hostname>"),
                         markup);
        QCOMPARE(page.substituteVariables(QStringLiteral("[$V{fio}]"), richText), expected);
    }

    void selfReferenceEnds() {
        // A value that names itself would grow for ever; the expansion stops and keeps the text.
        ReportPage page;
        page.setVariable(QStringLiteral("loop"), QStringLiteral("x$V{loop}"));
        page.setVariable(QStringLiteral("big"), QString(100000, QLatin1Char('y')) + QStringLiteral("$V{big}"));
        const QString loop = page.substituteVariables(QStringLiteral("$V{loop}"));
        QVERIFY(loop.startsWith(QStringLiteral("xxxx")));
        QVERIFY(loop.endsWith(QStringLiteral("$V{loop}")));
        QVERIFY(page.substituteVariables(QStringLiteral("$V{big}")).size() < 4 * 1024 * 1024);
    }
};

ORVANE_TEST(TestSubstitution)
#include "tst_substitution.moc"
