#include "hostfw/hosterror.h"
#include "hostfw/queryresult.h"

#include <QDate>
#include <QSqlField>
#include <QTest>

using namespace fis;

namespace {

// "NAME:text", "NAME:int" or "NAME:date": a result column and the type its driver declares.
QSqlRecord record(const QStringList &columns)
{
    QSqlRecord r;
    for (const QString &column : columns) {
        const QStringList parts = column.split(u':');
        const QString &type = parts.at(1);
        const QMetaType meta = type == "int"    ? QMetaType::fromType<qlonglong>()
                               : type == "date" ? QMetaType::fromType<QDate>()
                                                : QMetaType::fromType<QString>();
        r.append(QSqlField(parts.at(0), meta));
    }
    return r;
}

// "NAME:SIZE": a declared text field.
QList<FieldDef> declaredTexts(const QStringList &declarations)
{
    QList<FieldDef> fields;
    for (const QString &declaration : declarations) {
        FieldDef f;
        f.name = declaration.section(u':', 0, 0);
        f.size = declaration.section(u':', 1, 1).toInt();
        fields << f;
    }
    return fields;
}

QString describe(const FieldDef &f)
{
    QString text = f.name;
    switch (f.type) {
    case FieldType::String:
    case FieldType::FixedString:
        text += QStringLiteral(" text %1").arg(f.size);
        break;
    case FieldType::Float:
        text += " float";
        break;
    case FieldType::DateTime:
        text += " date";
        break;
    }
    return f.visible ? text : text + " hidden";
}

const QVariant null;

} // namespace

class TstQueryResult : public QObject
{
    Q_OBJECT
private slots:
    void layout_data();
    void layout();
    void declaredFieldMissingFromTheResult();
};

void TstQueryResult::layout_data()
{
    QTest::addColumn<QStringList>("declared");
    QTest::addColumn<QStringList>("columns");
    QTest::addColumn<QList<QVariantList>>("rows");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QList<int>>("columnOf");

    QTest::newRow("numbers only: float")
        << QStringList{} << QStringList{"N:text"} << QList<QVariantList>{{1}, {2.5}, {null}}
        << QStringList{"N float"} << QList<int>{0};
    QTest::newRow("numbers and texts: text as wide as the widest value")
        << QStringList{} << QStringList{"N:int"}
        << QList<QVariantList>{{1}, {QString("hello")}, {123456789}} << QStringList{"N text 9"}
        << QList<int>{0};
    QTest::newRow("only nulls: the declared number type")
        << QStringList{} << QStringList{"N:int"} << QList<QVariantList>{{null}, {null}}
        << QStringList{"N float"} << QList<int>{0};
    QTest::newRow("only nulls: a text of one character")
        << QStringList{} << QStringList{"T:text"} << QList<QVariantList>{{null}}
        << QStringList{"T text 1"} << QList<int>{0};
    QTest::newRow("no rows: the declared types")
        << QStringList{} << QStringList{"N:int", "T:text"} << QList<QVariantList>{}
        << QStringList{"N float", "T text 1"} << QList<int>{0, 1};
    QTest::newRow("a date column stays a date whatever it holds")
        << QStringList{} << QStringList{"D:date"} << QList<QVariantList>{{QString("2025-05-20")}}
        << QStringList{"D date"} << QList<int>{0};
    QTest::newRow("declared first, the other columns hidden after")
        << QStringList{"B:10"} << QStringList{"A:int", "B:text", "C:text"}
        << QList<QVariantList>{{1, QString("b"), QString("ccc")}}
        << QStringList{"B text 10", "A float hidden", "C text 3 hidden"} << QList<int>{1, 0, 2};
    QTest::newRow("declared without a size: the widest value")
        << QStringList{"T:0", "U:0"} << QStringList{"T:text", "U:text"}
        << QList<QVariantList>{{QString("ab"), null}, {QString("abcd"), null}}
        << QStringList{"T text 4", "U text 1"} << QList<int>{0, 1};
    QTest::newRow("declared names match columns ignoring case")
        << QStringList{"cdfilial:4"} << QStringList{"CDFILIAL:text"}
        << QList<QVariantList>{{QString("0001")}} << QStringList{"cdfilial text 4"}
        << QList<int>{0};
    QTest::newRow("a second column of a field's name is dropped")
        << QStringList{} << QStringList{"A:text", "a:int"} << QList<QVariantList>{{QString("x"), 1}}
        << QStringList{"A text 1"} << QList<int>{0};
}

void TstQueryResult::layout()
{
    QFETCH(QStringList, declared);
    QFETCH(QStringList, columns);
    QFETCH(QList<QVariantList>, rows);
    QFETCH(QStringList, fields);
    QFETCH(QList<int>, columnOf);

    const ResultLayout layout =
        resultLayout(declaredTexts(declared), record(columns),
                     std::vector<QVariantList>(rows.begin(), rows.end()), "qryTest");
    QStringList described;
    for (const FieldDef &f : layout.fields)
        described << describe(f);
    QCOMPARE(described, fields);
    QCOMPARE(QList<int>(layout.columnOf.begin(), layout.columnOf.end()), columnOf);
}

void TstQueryResult::declaredFieldMissingFromTheResult()
{
    try {
        resultLayout(declaredTexts({"A:1", "NMEMPRESA:40"}), record({"A:text"}), {}, "qryMissing");
        QFAIL("a declared field missing from the result was accepted");
    } catch (const DatabaseError &e) {
        QCOMPARE(e.queryName(), "qryMissing");
        QCOMPARE(e.reason(), "o campo NMEMPRESA não está no resultado do comando");
    }
}

QTEST_GUILESS_MAIN(TstQueryResult)
#include "tst_queryresult.moc"
