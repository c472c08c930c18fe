// The SQLite store's filling of a list with its marked invoices, on a seeded database file: what
// a key names, and when an invoice that another list holds is reported.
#include "demodata.h"
#include "server/enginestores.h"
#include "sqldb/sqliteconnection.h"

#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <deque>

#include <memory>

using namespace fis;

namespace {

struct Invoice
{
    QString branch;
    QString posting;
    QString number;
    QString registration;
    QString key() const { return branch + posting; }
};

} // namespace

class TestSqliteCompraLegalStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void keysFound_data();
    void keysFound();
    void takenInvoiceReportedWhenItsRowsAreWritten_data();
    void takenInvoiceReportedWhenItsRowsAreWritten();
    void invoicesInTheDatabasesOrder_data();
    void invoicesInTheDatabasesOrder();
    void longListLookedUpAheadOfItsCaller();

private:
    // A new list of a session of its own, in a write transaction the caller ends.
    std::unique_ptr<StoreTransaction> newList(const QString &list);

    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<SqliteConnection> m_db;
    std::unique_ptr<SqliteCompraLegalStore> m_store;
    QList<Invoice> m_invoices; // of company 01, in key order
};

void TestSqliteCompraLegalStore::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString seeded = m_dir.filePath(QStringLiteral("seeded.sqlite"));
    generateDemoDatabase(seeded, 400);
    SqliteConnection db(seeded, 1000);
    // Branch 000 has an invoice whose key is also that of one of branch 0001: "000" + "1..."
    // reads as "0001" + "...".
    db.exec("INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA, DTPROCESSAMENTO)"
            " VALUES ('000', 'PREFIXO', '01', '2025-01-01');"
            "CREATE TEMP TABLE COPIA AS SELECT * FROM NFCOMPRA WHERE CDFILIAL = '0001'"
            " ORDER BY NRLANCTONF LIMIT 1;"
            "UPDATE COPIA SET CDFILIAL = '000', NRLANCTONF = '1' || NRLANCTONF;"
            "INSERT INTO NFCOMPRA SELECT * FROM COPIA;");
    SqlStatement q(db, "SELECT CDFILIAL, NRLANCTONF, NRNOTAFISC, CDINSCESTA FROM NFCOMPRA"
                       " WHERE CDEMPRESA = '01' AND CDFILIAL <> '000'"
                       " ORDER BY CDFILIAL, NRLANCTONF");
    while (q.step())
        m_invoices.append({q.text(0), q.text(1), q.text(2), q.text(3)});
    QVERIFY(m_invoices.size() > 2 * 100);
    QCOMPARE(m_invoices.first().branch, QStringLiteral("0001"));
}

// Every test starts from the seeded file.
void TestSqliteCompraLegalStore::init()
{
    m_path = m_dir.filePath(QStringLiteral("%1.sqlite").arg(QTest::currentDataTag()));
    QFile::remove(m_path);
    QVERIFY(QFile::copy(m_dir.filePath(QStringLiteral("seeded.sqlite")), m_path));
    m_db = std::make_unique<SqliteConnection>(m_path, 1000);
    m_store = std::make_unique<SqliteCompraLegalStore>(*m_db);
}

void TestSqliteCompraLegalStore::cleanup()
{
    m_store.reset();
    m_db.reset();
}

// The store orders the list itself; it must be the order of the statement's ORDER BY, as
// SQLite orders the stored values, whatever they hold: numbers with leading zeros, of zeros
// only, with letters and accents, dates with a time, many invoices on one day, and a date that
// SQLite stored as a number (which it orders before every text).
void TestSqliteCompraLegalStore::invoicesInTheDatabasesOrder_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("as seeded") << QString();
    QTest::newRow("awkward numbers and dates") << QStringLiteral(
        "UPDATE NFCOMPRA SET NRNOTAFISC = CASE rowid % 9 WHEN 0 THEN '000' || NRNOTAFISC"
        " WHEN 1 THEN '0' WHEN 2 THEN '00' WHEN 3 THEN 'ç' || NRNOTAFISC"
        " WHEN 4 THEN NRNOTAFISC || 'x' WHEN 5 THEN '0é' WHEN 6 THEN '' ELSE NRNOTAFISC"
        " END, DTEMISSAO = CASE rowid % 5 WHEN 0 THEN '2025-05-01'"
        " WHEN 1 THEN '2025-05-01 10:00:00' WHEN 2 THEN '2025-05-01 09:00:00'"
        " ELSE DTEMISSAO END");
    QTest::newRow("a date stored as a number")
        << QStringLiteral("UPDATE NFCOMPRA SET DTEMISSAO = 20250501 WHERE rowid % 50 = 7");
}

void TestSqliteCompraLegalStore::invoicesInTheDatabasesOrder()
{
    QFETCH(QString, change);
    if (!change.isEmpty())
        m_db->exec(change.toUtf8().constData());
    // The database's order, of a company's invoices.
    const auto expectedOf = [&](const QString &company) {
        QStringList expected;
        SqlStatement q(*m_db, "SELECT N.CDFILIAL || '|' || N.NRLANCTONF || '|' || N.NRNOTAFISC"
                              " || '|' || N.DTEMISSAO || '|' || ifnull(C.NMRAZSOCCLIE, '-')"
                              " FROM NFCOMPRA N LEFT JOIN CLIENTE C ON C.CDCLIENTE = N.CDCLIENTE"
                              " WHERE N.CDEMPRESA = ?1 ORDER BY N.DTEMISSAO, N.CDFILIAL,"
                              " length(ltrim(N.NRNOTAFISC, '0')), ltrim(N.NRNOTAFISC, '0'),"
                              " N.NRLANCTONF");
        q.bind(1, company);
        while (q.step())
            expected << q.text(0);
        return expected;
    };
    // The store's, through one store: a call must not see what an earlier one left behind.
    // Where it orders the rows itself it tells their number before the first; where it leaves
    // that to the statement (a date stored as a number) it cannot.
    qsizetype expectedRows = -1;
    qsizetype expectedBytes = -1;
    qsizetype rowsBeforeExpected = -1;
    const auto foundOf = [&](const QString &company) {
        InvoiceCriteria criteria;
        criteria.company = company;
        QStringList found;
        expectedRows = expectedBytes = rowsBeforeExpected = -1;
        const std::unique_ptr<StoreTransaction> tx = m_store->begin(TransactionKind::Read);
        m_store->findInvoices(
            criteria,
            [&](const InvoiceRow &row) {
                const QString day = row.issuedDate.toString(Qt::ISODate);
                const QString date = !row.issuedDate.isValid() ? QStringLiteral("20250501")
                                     : row.issuedTime == QTime(0, 0)
                                         ? day
                                         : day + u' ' + row.issuedTime.toString(Qt::ISODate);
                found << QString::fromUtf8(row.branch + '|' + row.posting + '|' + row.number +
                                           '|') +
                             date + u'|' +
                             QString::fromUtf8(row.clientName.data() ? row.clientName : "-");
            },
            [&](qsizetype rows, qsizetype bytes) {
                expectedRows = rows;
                expectedBytes = bytes;
                rowsBeforeExpected = found.size();
            });
        return found;
    };
    const bool ordersItself = !change.contains(QLatin1String("20250501"));
    const auto checkExpected = [&](const QStringList &found) {
        if (!ordersItself)
            return expectedRows == -1;
        // Every row has texts of some bytes: the branch and posting at least.
        return rowsBeforeExpected == 0 && expectedRows == found.size() &&
               expectedBytes > 14 * expectedRows;
    };
    const QStringList company01 = expectedOf(QStringLiteral("01"));
    QVERIFY(company01.size() > 200);
    QCOMPARE(foundOf(QStringLiteral("01")), company01);
    QVERIFY(checkExpected(company01));
    const QStringList company02 = expectedOf(QStringLiteral("02"));
    QVERIFY(!company02.isEmpty() && company02.size() != company01.size());
    QCOMPARE(foundOf(QStringLiteral("02")), company02);
    QVERIFY(checkExpected(company02));
    QCOMPARE(foundOf(QStringLiteral("01")), company01);
    QVERIFY(checkExpected(company01));
}

std::unique_ptr<StoreTransaction> TestSqliteCompraLegalStore::newList(const QString &list)
{
    std::unique_ptr<StoreTransaction> tx = m_store->begin(TransactionKind::Write);
    m_store->addList(list, QStringLiteral("session ") + list, QStringLiteral("server"));
    return tx;
}

void TestSqliteCompraLegalStore::keysFound_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("ofFirstInvoice");

    // initTestCase() has run: the invoices are known.
    const Invoice &first = m_invoices.first();
    const Invoice &other = m_invoices.at(1);
    QTest::newRow("first invoice, also one of branch 000") << first.key() << 2 << true;
    QTest::newRow("an invoice") << other.key() << 1 << false;
    QTest::newRow("unknown posting") << first.branch + QStringLiteral("9999999999") << 0 << false;
    QTest::newRow("unknown branch") << QStringLiteral("XXXX") + first.posting << 0 << false;
    // A key must be longer than its branch code.
    QTest::newRow("a branch code alone") << first.branch << 0 << false;
    QTest::newRow("blanks around") << QStringLiteral(" ") + other.key() << 0 << false;
}

void TestSqliteCompraLegalStore::keysFound()
{
    QFETCH(QString, key);
    QFETCH(int, count);
    QFETCH(bool, ofFirstInvoice);
    const auto tx = newList(QStringLiteral("L1"));
    const QByteArray keyUtf8 = key.toUtf8();
    const FoundInvoices found = m_store->fillList(QStringLiteral("L1"))->find(keyUtf8);
    QCOMPARE(found.count, count);
    if (count == 1 || ofFirstInvoice) {
        const Invoice &expected = ofFirstInvoice ? m_invoices.at(0) : m_invoices.at(1);
        QCOMPARE(found.company, QStringLiteral("01"));
        QCOMPARE(found.registration, expected.registration);
    }
}

void TestSqliteCompraLegalStore::takenInvoiceReportedWhenItsRowsAreWritten_data()
{
    QTest::addColumn<int>("taken");    // which of the keys another list holds
    QTest::addColumn<int>("keys");     // how many the list is given
    QTest::addColumn<int>("reported"); // after which add the error comes; -1: by finish()

    // The rows go a hundred per INSERT: the fault shows with the hundredth, or at the end.
    QTest::newRow("in the first hundred") << 5 << 150 << 100;
    QTest::newRow("the hundredth itself") << 100 << 150 << 100;
    QTest::newRow("in the last rows") << 120 << 150 << -1;
    QTest::newRow("in a short list") << 1 << 3 << -1;
}

void TestSqliteCompraLegalStore::takenInvoiceReportedWhenItsRowsAreWritten()
{
    QFETCH(int, taken);
    QFETCH(int, keys);
    QFETCH(int, reported);
    // Numbered from 1 in the rows above; the other list holds the key at index taken - 1,
    // and the invoice of branch 000 is left out: it is not the fault looked for here.
    const QList<Invoice> invoices = m_invoices.mid(1, keys);
    const Invoice &held = invoices.at(taken - 1);
    // The filler reads the keys where they lie until finish(), as in a list's packet.
    std::deque<QByteArray> keysUtf8;
    for (const Invoice &invoice : invoices)
        keysUtf8.push_back(invoice.key().toUtf8());
    {
        const auto tx = newList(QStringLiteral("L1"));
        const auto filler = m_store->fillList(QStringLiteral("L1"));
        QCOMPARE(filler->find(keysUtf8.at(size_t(taken - 1))).count, 1);
        filler->addFound();
        filler->finish();
        tx->commit();
    }

    const auto tx = newList(QStringLiteral("L2"));
    const auto filler = m_store->fillList(QStringLiteral("L2"));
    int added = 0;
    try {
        for (const QByteArray &key : keysUtf8) {
            QCOMPARE(filler->find(key).count, 1);
            filler->addFound();
            ++added;
        }
        filler->finish();
        QFAIL("the invoice of the other list was put on this one too");
    } catch (const InvoiceTakenError &e) {
        QCOMPARE(added, reported < 0 ? keys : reported - 1);
        QCOMPARE(e.number(), held.number);
        QCOMPARE(e.branch(), held.branch);
        QCOMPARE(e.posting(), held.posting);
    }
}

QTEST_GUILESS_MAIN(TestSqliteCompraLegalStore)
// A list long enough to be looked up on a second connection, whose answers come through a ring
// of fixed size: a caller that falls far behind (here it stops for a while at the start and
// now and then) must still get each key's own answer, the lookups waiting for room. The
// copies of the invoices under new postings, with registrations of their own, so that an answer
// given to the wrong key shows.
void TestSqliteCompraLegalStore::longListLookedUpAheadOfItsCaller()
{
    m_db->exec("CREATE TEMP TABLE ORIGEM AS SELECT * FROM NFCOMPRA WHERE CDEMPRESA = '01'"
               " AND CDFILIAL <> '000'; CREATE TEMP TABLE COPIA AS SELECT * FROM ORIGEM");
    for (int copy = 1; copy <= 250; ++copy) {
        const QByteArray n = QByteArray::number(copy);
        m_db->exec(QByteArray("DELETE FROM COPIA; INSERT INTO COPIA SELECT * FROM ORIGEM;"
                              " UPDATE COPIA SET NRLANCTONF = '" +
                              n +
                              "-' || NRLANCTONF,"
                              " CDINSCESTA = 'R" +
                              n + "'; INSERT INTO NFCOMPRA SELECT * FROM COPIA;")
                       .constData());
    }
    std::deque<QByteArray> keysUtf8;
    std::vector<QByteArrayView> keys;
    QStringList registrations;
    {
        SqlStatement q(*m_db, "SELECT CDFILIAL || NRLANCTONF, CDINSCESTA FROM NFCOMPRA"
                              " WHERE NRLANCTONF LIKE '%-%' ORDER BY random()");
        while (q.step()) {
            keysUtf8.push_back(q.text(0).toUtf8());
            keys.push_back(keysUtf8.back());
            registrations << q.text(1);
        }
    }
    QVERIFY(keys.size() > 40000);
    const auto tx = newList(QStringLiteral("L1"));
    const std::unique_ptr<ListFiller> filler = m_store->fillList(QStringLiteral("L1"));
    filler->lookUpAll(keys);
    QStringList wrong;
    for (size_t k = 0; k < keys.size(); ++k) {
        if (k == 1 || k % 10000 == 0)
            QThread::msleep(k == 1 ? 300 : 50);
        const FoundInvoices found = filler->find(keys[k]);
        if (found.count != 1 || found.company != u"01" ||
            found.registration != registrations.at(qsizetype(k)))
            wrong << QStringLiteral("%1: %2 %3").arg(k).arg(found.count).arg(found.registration);
    }
    QCOMPARE(wrong.mid(0, 5), QStringList());
}

#include "tst_sqlcompralegalstore.moc"
