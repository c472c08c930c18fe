// The reading of the picker's key lists, which decides what GetNotaFiscal selects.
#include "server/keylist.h"

#include <QTest>

using namespace fis;

class TestServerKeyList : public QObject
{
    Q_OBJECT

private slots:
    void parses_data();
    void parses();
    void rejects_data();
    void rejects();
    void roundTrip();
};

void TestServerKeyList::parses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("keys");
    QTest::newRow("one") << "'S01'" << QStringList{"S01"};
    QTest::newRow("two") << "'S01','E05'" << QStringList{"S01", "E05"};
    QTest::newRow("blanks around commas") << "  'S01' ,\t'E05'  " << QStringList{"S01", "E05"};
    QTest::newRow("doubled quote") << "'E''X','S'''" << QStringList{"E'X", "S'"};
    QTest::newRow("comma and blanks inside") << "'A, B'" << QStringList{"A, B"};
    QTest::newRow("empty key") << "''" << QStringList{""};
    QTest::newRow("sql inside") << "'x''; DROP TABLE T; --'" << QStringList{"x'; DROP TABLE T; --"};
}

void TestServerKeyList::parses()
{
    QFETCH(QString, text);
    QFETCH(QStringList, keys);
    const std::optional<QStringList> got = parseKeyList(text);
    QVERIFY(got.has_value());
    QCOMPARE(*got, keys);
}

void TestServerKeyList::rejects_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("no quotes") << "S01";
    QTest::newRow("unterminated") << "'S01";
    QTest::newRow("odd quote at end") << "'S01''";
    QTest::newRow("trailing comma") << "'S01',";
    QTest::newRow("leading comma") << ",'S01'";
    QTest::newRow("missing comma") << "'S01' 'E05'";
    QTest::newRow("semicolon separator") << "'S01';'E05'";
    QTest::newRow("text after key") << "'S01'x";
}

void TestServerKeyList::rejects()
{
    QFETCH(QString, text);
    QVERIFY_THROWS_EXCEPTION(KeyListError, parseKeyList(text));
}

void TestServerKeyList::roundTrip()
{
    QVERIFY(!parseKeyList(QString()).has_value());
    QVERIFY(!parseKeyList(QStringLiteral("   ")).has_value());
    const QStringList keys = {"S01", "E'0'", "", "a,b"};
    QCOMPARE(*parseKeyList(formatKeyList(keys)), keys);
}

QTEST_GUILESS_MAIN(TestServerKeyList)
#include "tst_serverkeylist.moc"
