// The server's multi-row INSERT: its statements' text, the numbers of the rows' own parameters,
// and how a run of rows is cut into full statements and a shorter last one.
#include "server/multirowinsert.h"
#include "sqldb/sqliteconnection.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace fis;

namespace {

using Chunks = QList<std::pair<int, int>>; // (first, rows) of each statement

// A fresh database file with T (A, B, C, D): B is unique, to make an INSERT fail.
class Database
{
public:
    Database()
    {
        const QString path = m_dir.filePath(QStringLiteral("t.sqlite"));
        QFile empty(path); // an empty file is an empty database
        if (m_dir.isValid() && empty.open(QIODevice::WriteOnly)) {
            empty.close();
            m_db = std::make_unique<SqliteConnection>(path, 1000);
            m_db->exec("CREATE TABLE T (A TEXT, B INTEGER UNIQUE, C TEXT, D INTEGER)");
        }
    }
    SqliteConnection &db() { return *m_db; }
    bool isValid() const { return m_db != nullptr; }

    // Every row of T in insertion order, as "A|B|C|D".
    QStringList rows()
    {
        SqlStatement q(*m_db, "SELECT A, B, C, D FROM T ORDER BY rowid");
        QStringList rows;
        while (q.step())
            rows << QStringList{q.text(0), q.text(1), q.text(2), q.text(3)}.join(u'|');
        return rows;
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<SqliteConnection> m_db;
};

// The shape the tests insert with: A and C shared by every row (?1 and ?2), B and D its own.
const QList<int> kShape = {1, 0, 2, 0};
constexpr char kInto[] = "INSERT INTO T (A, B, C, D)";

// Inserts rows numbered from `from` (B = number, D = 10 * number) and tells how it cut them.
Chunks insertNumbered(MultiRowInsert &insert, int count, int from = 1)
{
    Chunks chunks;
    insert.insert(count, [&](SqlStatement &statement, int first, int rows) {
        chunks.append({first, rows});
        statement.bind(1, QStringLiteral("shared"));
        statement.bind(2, QStringLiteral("also"));
        for (int r = 0; r < rows; ++r) {
            const qint64 number = from + first + r;
            statement.bind(insert.parameter(r, 0), number);
            statement.bind(insert.parameter(r, 1), 10 * number);
        }
    });
    return chunks;
}

QStringList numberedRows(int from, int count)
{
    QStringList rows;
    for (int n = from; n < from + count; ++n)
        rows << QStringLiteral("shared|%1|also|%2").arg(n).arg(10 * n);
    return rows;
}

} // namespace

class TestMultiRowInsert : public QObject
{
    Q_OBJECT

private slots:
    void statementText_data();
    void statementText();
    void rowsCutIntoStatements_data();
    void rowsCutIntoStatements();
    void usableAgainAfterAFailure();
};

void TestMultiRowInsert::statementText_data()
{
    QTest::addColumn<QByteArray>("into");
    QTest::addColumn<QList<int>>("row");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QByteArray>("expected");

    // Two values shared, out of the columns' order, among three of the row's own (the shape the
    // files' lines had when they were stored one per row).
    const QByteArray lines = "INSERT INTO REGARQCOMPRALEG (NRSEQARQMAG, NRORDREGARQ, NRLISTA,"
                             " DSREGARQMAG, SQUENCIAL)";
    const QList<int> lineRow = {1, 0, 2, 0, 0};
    QTest::newRow("lines, one row")
        << lines << lineRow << 1 << QByteArray(lines + " VALUES (?1, ?3, ?2, ?4, ?5)");
    QTest::newRow("lines, three rows")
        << lines << lineRow << 3
        << QByteArray(lines + " VALUES (?1, ?3, ?2, ?4, ?5), (?1, ?6, ?2, ?7, ?8),"
                              " (?1, ?9, ?2, ?10, ?11)");
    // The marked invoices: the list number shared, then four values of the row's own.
    const QByteArray invoices = "INSERT INTO LISTACOMPRALEGNF (NRLISTA, CDLISTA, CDINSCESTA,"
                                " CDFILIAL, NRLANCTONF)";
    QTest::newRow("invoices, two rows")
        << invoices << QList<int>{1, 0, 0, 0, 0} << 2
        << QByteArray(invoices + " VALUES (?1, ?2, ?3, ?4, ?5), (?1, ?6, ?7, ?8, ?9)");
    QTest::newRow("nothing shared")
        << QByteArray(kInto) << QList<int>{0, 0, 0, 0} << 2
        << QByteArray(QByteArray(kInto) + " VALUES (?1, ?2, ?3, ?4), (?5, ?6, ?7, ?8)");
}

void TestMultiRowInsert::statementText()
{
    QFETCH(QByteArray, into);
    QFETCH(QList<int>, row);
    QFETCH(int, rows);
    QFETCH(QByteArray, expected);
    QCOMPARE(MultiRowInsert::sql(into, row, rows), expected);
}

void TestMultiRowInsert::rowsCutIntoStatements_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<Chunks>("expected");

    // Three rows per statement.
    QTest::newRow("none") << 0 << Chunks{};
    QTest::newRow("fewer than a statement") << 2 << Chunks{{0, 2}};
    QTest::newRow("exactly one statement") << 3 << Chunks{{0, 3}};
    QTest::newRow("one over") << 4 << Chunks{{0, 3}, {3, 1}};
    QTest::newRow("two full and a tail") << 8 << Chunks{{0, 3}, {3, 3}, {6, 2}};
}

void TestMultiRowInsert::rowsCutIntoStatements()
{
    QFETCH(int, count);
    QFETCH(Chunks, expected);
    Database d;
    QVERIFY(d.isValid());
    MultiRowInsert insert(d.db(), kInto, kShape, 3);
    QCOMPARE(insert.rowsPerStatement(), 3);

    QCOMPARE(insertNumbered(insert, count), expected);
    // Every row once, in order, its own values where they belong and the shared ones in each.
    QCOMPARE(d.rows(), numberedRows(1, count));
}

void TestMultiRowInsert::usableAgainAfterAFailure()
{
    Database d;
    QVERIFY(d.isValid());
    MultiRowInsert insert(d.db(), kInto, kShape, 3);
    insertNumbered(insert, 3);

    // Rows from B = 3 on: the first statement repeats 3 and the unique index refuses it whole.
    try {
        insertNumbered(insert, 5, 3);
        QFAIL("the repeated value was stored");
    } catch (const DatabaseError &e) {
        QVERIFY2(e.isUniqueViolation(), qPrintable(e.message()));
    }
    QCOMPARE(d.rows(), numberedRows(1, 3));

    // The full statement, reset by the failure, takes new rows.
    QCOMPARE(insertNumbered(insert, 4, 4), (Chunks{{0, 3}, {3, 1}}));
    QCOMPARE(d.rows(), numberedRows(1, 7));
}

QTEST_GUILESS_MAIN(TestMultiRowInsert)
#include "tst_multirowinsert.moc"
