// The one-value key of a file's invoices against SQLite's own evaluation of the eight
// expressions it stands for: the same order for every value it keys, and no key (counted) for
// the values it leaves to the expressions.

#include "server/fileorderkey.h"
#include "sqldb/sqliteconnection.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace fis;

namespace {

// A column's value: text, an integer, a real, or NULL.
struct Value
{
    enum class Kind { Text, Integer, Real, Null } kind = Kind::Null;
    QString text;
    qint64 integer = 0;
    double real = 0;
};

Value text(const char *utf8)
{
    return {Value::Kind::Text, QString::fromUtf8(utf8), 0, 0};
}
Value integer(qint64 value)
{
    return {Value::Kind::Integer, {}, value, 0};
}
Value real(double value)
{
    return {Value::Kind::Real, {}, 0, value};
}
const Value null{};

void bindValue(SqlStatement &statement, int index, const Value &value)
{
    switch (value.kind) {
    case Value::Kind::Text:
        statement.bind(index, value.text.isNull() ? QStringLiteral("") : value.text);
        break;
    case Value::Kind::Integer:
        statement.bind(index, value.integer);
        break;
    case Value::Kind::Real:
        statement.bind(index, value.real);
        break;
    case Value::Kind::Null:
        statement.bindNull(index);
        break;
    }
}

// Values each column takes, all of which the key orders exactly: blanks, leading zeros, short
// and long documents, lower case, tabs, an integer model, numbers with signs.
const QList<Value> kDays = {text("2025-01-05"),
                            text("2025-01-05 10:00:00"),
                            text("2025-01-06"),
                            text("2024-12-31"),
                            text("2025-1-5"),
                            text(""),
                            null};
const QList<Value> kNumbers = {text("123"),
                               text("0123"),
                               text(" 123 "),
                               text("00"),
                               text("0"),
                               text(""),
                               text("12A45"),
                               text("99"),
                               text("100"),
                               text("  "),
                               text("0000000000000000000001"),
                               text("1\t"),
                               null};
const QList<Value> kDocuments = {null,
                                 text("12345678000199"),
                                 text(" 12345678000199 "),
                                 text("123"),
                                 text("123456789012345678"),
                                 text(""),
                                 text("ABC"),
                                 text("\t12")};
const QList<Value> kModels = {text("55"), text("01"),  text(" 1"),  text("1 "), text("-1"),
                              text("+2"), integer(55), integer(-3), null,       text("0")};
const QList<Value> kSeries = {null,       text(""),  text("a"),   text("A"), text("b1"),
                              text("B1"), text("Z"), text("a b"), text("~")};
const QList<Value> kBranches = {text("0001"), text("0002"), text("1"), text("")};

} // namespace

Q_DECLARE_METATYPE(Value)

class TestFileOrderKey : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void ordersAsTheExpressions();
    void leavesToTheExpressions_data();
    void leavesToTheExpressions();
    void notForAnotherCollation();

private:
    void addInvoice(const Value &day, const Value &number, const Value &document,
                    const Value &model, const Value &series, const Value &branch);
    QStringList order(const QByteArray &orderBy);
    qint64 unkeyedOf(const QByteArray &orderBy);

    QTemporaryDir m_dir;
    std::unique_ptr<SqliteConnection> m_db;
    int m_postings = 0;
    int m_files = 0;
};

void TestFileOrderKey::init()
{
    QVERIFY(m_dir.isValid());
    m_db.reset();
    QFile file(m_dir.filePath(QStringLiteral("order%1.db").arg(++m_files)));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    m_db = std::make_unique<SqliteConnection>(file.fileName(), 1000);
    // The host's column types: DTEMISSAO a DATE (numeric affinity), the rest text.
    m_db->exec("CREATE TABLE NFCOMPRA (CDFILIAL VARCHAR(4), NRLANCTONF VARCHAR(10),"
               " NRNOTAFISC VARCHAR(20), DTEMISSAO DATE, CDMODELONF VARCHAR(2),"
               " CDSERIE VARCHAR(5), CDCLIENTE VARCHAR(10));"
               "CREATE TABLE CLIENTE (CDCLIENTE VARCHAR(10), NRINSJURCLIE VARCHAR(20))");
    m_postings = 0;
}

void TestFileOrderKey::addInvoice(const Value &day, const Value &number, const Value &document,
                                  const Value &model, const Value &series, const Value &branch)
{
    const QString posting = QString::number(++m_postings).rightJustified(10, u'0');
    SqlStatement invoice(*m_db, "INSERT INTO NFCOMPRA VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?2)");
    bindValue(invoice, 1, branch);
    invoice.bind(2, posting);
    bindValue(invoice, 3, number);
    bindValue(invoice, 4, day);
    bindValue(invoice, 5, model);
    bindValue(invoice, 6, series);
    invoice.execute();
    // Every other invoice without its client row: the document is then NULL.
    if (m_postings % 2 == 0 || document.kind != Value::Kind::Null) {
        SqlStatement client(*m_db, "INSERT INTO CLIENTE VALUES (?1, ?2)");
        client.bind(1, posting);
        bindValue(client, 2, document);
        client.execute();
    }
}

// The invoices' postings in the order given.
QStringList TestFileOrderKey::order(const QByteArray &orderBy)
{
    const QByteArray sql = QByteArray("SELECT N.NRLANCTONF FROM NFCOMPRA N LEFT JOIN CLIENTE C"
                                      " ON C.CDCLIENTE = N.CDCLIENTE") +
                           orderBy;
    SqlStatement rows(*m_db, sql);
    QStringList postings;
    while (rows.step())
        postings << rows.text(0);
    return postings;
}

qint64 TestFileOrderKey::unkeyedOf(const QByteArray &orderBy)
{
    const FileOrderKey key(*m_db);
    order(orderBy);
    return key.unkeyed();
}

void TestFileOrderKey::ordersAsTheExpressions()
{
    // Every pair of values meets in some row: thousands of invoices, most sharing the earlier
    // keys with others, so that each key decides somewhere.
    QRandomGenerator random(20251211);
    const auto any = [&](const QList<Value> &values) {
        return values.at(random.bounded(int(values.size())));
    };
    for (int i = 0; i < 3000; ++i)
        addInvoice(any(kDays), any(kNumbers), any(kDocuments), any(kModels), any(kSeries),
                   any(kBranches));
    const QByteArray byKey = QByteArray(" ORDER BY ") + kFileOrderKeyCall;
    const FileOrderKey key(*m_db);
    QVERIFY(key.usable());
    const QStringList expected = order(kFileOrderExpressions);
    QCOMPARE(expected.size(), 3000);
    QCOMPARE(order(byKey), expected);
    QCOMPARE(key.unkeyed(), qint64(0));
}

void TestFileOrderKey::leavesToTheExpressions_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<Value>("value");
    // What the key cannot reproduce byte for byte: characters of more than one byte, a NUL,
    // numbers where SQLite would turn them into text, casts by SQLite's prefix rules.
    QTest::addRow("accented number") << 1 << text("12É");
    QTest::addRow("accented document") << 2 << text("ÇÃ123");
    QTest::addRow("accented series") << 4 << text("é");
    QTest::addRow("accented branch") << 5 << text("Ó1");
    QTest::addRow("date as a number") << 0 << integer(20250105);
    QTest::addRow("date as a real") << 0 << real(45000.5);
    QTest::addRow("number with a NUL") << 1
                                       << Value{Value::Kind::Text,
                                                QString::fromUtf8(QByteArray("12\0"
                                                                             "3",
                                                                             4)),
                                                0, 0};
    QTest::addRow("model with letters") << 3 << text("5x");
    QTest::addRow("model with an exponent") << 3 << text("1e3");
    QTest::addRow("model as a real") << 3 << real(5.5);
    QTest::addRow("model of 19 digits") << 3 << text("1234567890123456789");
    QTest::addRow("model blank") << 3 << text("  ");
    QTest::addRow("null branch") << 5 << null;
}

void TestFileOrderKey::leavesToTheExpressions()
{
    QFETCH(int, column);
    QFETCH(Value, value);
    QList<Value> row = {text("2025-01-05"), text("1"), text("1"),
                        text("55"),         text("1"), text("0001")};
    addInvoice(row[0], row[1], row[2], row[3], row[4], row[5]);
    row[column] = value;
    addInvoice(row[0], row[1], row[2], row[3], row[4], row[5]);
    const QByteArray byKey = QByteArray(" ORDER BY ") + kFileOrderKeyCall;
    QCOMPARE(unkeyedOf(byKey), qint64(1));
}

// Key columns declared with another collation order as it says, which the key does not follow.
void TestFileOrderKey::notForAnotherCollation()
{
    m_db->exec("DROP TABLE NFCOMPRA;"
               "CREATE TABLE NFCOMPRA (CDFILIAL VARCHAR(4) COLLATE NOCASE, NRLANCTONF VARCHAR(10),"
               " NRNOTAFISC VARCHAR(20), DTEMISSAO DATE, CDMODELONF VARCHAR(2),"
               " CDSERIE VARCHAR(5), CDCLIENTE VARCHAR(10))");
    QVERIFY(!FileOrderKey(*m_db).usable());
}

QTEST_GUILESS_MAIN(TestFileOrderKey)
#include "tst_fileorderkey.moc"
