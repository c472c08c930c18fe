#include "keylist/keylist.h"

#include <QTest>

using namespace fis;

class TestKeyList : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void malformed_data();
    void malformed();
};

void TestKeyList::roundTrip_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << QStringList() << QString();
    QTest::newRow("one") << QStringList{"S01"} << "'S01'";
    QTest::newRow("two in order") << QStringList{"S01", "E05"} << "'S01','E05'";
    QTest::newRow("order kept") << QStringList{"E05", "S01"} << "'E05','S01'";
    QTest::newRow("quote inside") << QStringList{"O'BRIEN", "X"} << "'O''BRIEN','X'";
    QTest::newRow("comma inside") << QStringList{"A,B", "C"} << "'A,B','C'";
    QTest::newRow("quote and comma") << QStringList{"','"} << "''','''";
    QTest::newRow("only a quote") << QStringList{"'"} << "''''";
    QTest::newRow("empty key") << QStringList{""} << "''";
    QTest::newRow("blanks inside") << QStringList{" S 1 "} << "' S 1 '";
}

void TestKeyList::roundTrip()
{
    QFETCH(QStringList, keys);
    QFETCH(QString, text);
    QCOMPARE(formatKeyList(keys), text);
    QCOMPARE(parseKeyList(text), keys);
}

void TestKeyList::malformed_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("no quotes") << "S01";
    QTest::newRow("unclosed") << "'S01";
    QTest::newRow("blank after comma") << "'S01', 'E05'";
    QTest::newRow("blank before") << " 'S01'";
    QTest::newRow("trailing comma") << "'S01',";
    QTest::newRow("missing comma") << "'S01''E05";
    QTest::newRow("text after key") << "'S01'x";
    QTest::newRow("semicolon") << "'S01';'E05'";
    QTest::newRow("lone comma") << ",";
}

void TestKeyList::malformed()
{
    QFETCH(QString, text);
    QVERIFY_THROWS_EXCEPTION(KeyListError, parseKeyList(text));
}

QTEST_GUILESS_MAIN(TestKeyList)
#include "tst_keylist.moc"
