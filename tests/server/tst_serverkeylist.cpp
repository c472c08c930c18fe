// The key lists as the server reads them (the picker's format, blanks around the keys allowed),
// which decides what GetNotaFiscal selects. The strict format itself is tested with the picker.
#include "keylist/keylist.h"

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
    QCOMPARE(parseKeyList(text, KeyListBlanks::Allowed), keys);
}

void TestServerKeyList::rejects_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("no quotes") << "S01";
    QTest::newRow("unterminated") << "'S01";
    QTest::newRow("odd quote at end") << "'S01''";
    QTest::newRow("trailing comma") << "'S01',";
    QTest::newRow("trailing comma and blank") << "'S01', ";
    QTest::newRow("leading comma") << ",'S01'";
    QTest::newRow("missing comma") << "'S01' 'E05'";
    QTest::newRow("semicolon separator") << "'S01';'E05'";
    QTest::newRow("text after key") << "'S01'x";
}

void TestServerKeyList::rejects()
{
    QFETCH(QString, text);
    QVERIFY_THROWS_EXCEPTION(KeyListError, parseKeyList(text, KeyListBlanks::Allowed));
}

void TestServerKeyList::roundTrip()
{
    QCOMPARE(parseKeyList(QString(), KeyListBlanks::Allowed), QStringList());
    QCOMPARE(parseKeyList(QStringLiteral("   "), KeyListBlanks::Allowed), QStringList());
    const QStringList keys = {"S01", "E'0'", "", "a,b"};
    QCOMPARE(parseKeyList(formatKeyList(keys), KeyListBlanks::Allowed), keys);
}

QTEST_GUILESS_MAIN(TestServerKeyList)
#include "tst_serverkeylist.moc"
