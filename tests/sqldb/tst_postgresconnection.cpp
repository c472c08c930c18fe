// The PostgreSQL connection of the server's database interface, on a throwaway server
// (scripts/engines): the statement texts written for SQLite, values and their texts, the
// transactions' locking and snapshots, COPY, and what happens when the connection breaks.
#include "sqldb/postgresparameters.h"
#include "sqldb/sqldatabase.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>

using namespace fis;
using namespace std::chrono_literals;

namespace {

constexpr const char *kEngineVariables[] = {"FIS_PG_HOST", "FIS_PG_PORT", "FIS_PG_USER",
                                            "FIS_PG_PASSWORD_FILE"};

DatabaseTarget targetOf(const QString &database)
{
    DatabaseTarget target;
    target.engine = DatabaseEngine::PostgreSql;
    target.database = database;
    target.host = qEnvironmentVariable("FIS_PG_HOST");
    target.port = qEnvironmentVariable("FIS_PG_PORT").toInt();
    target.user = qEnvironmentVariable("FIS_PG_USER");
    target.passwordFile = qEnvironmentVariable("FIS_PG_PASSWORD_FILE");
    return target;
}

std::optional<DatabaseError> failureOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const DatabaseError &e) {
        return e;
    }
    return std::nullopt;
}

// exec() of a text built here.
void run(SqlConnection &db, const QByteArray &sql)
{
    db.exec(sql.constData());
}

qint64 count(SqlConnection &db, const char *sql)
{
    SqlStatement q(db, sql);
    if (!q.step())
        return -1;
    return q.integer(0);
}

QByteArray text(SqlConnection &db, const char *sql)
{
    SqlStatement q(db, sql);
    return q.step() ? q.utf8(0).toByteArray() : QByteArray("(no row)");
}

// The process's resident memory, in kB (Linux).
qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace

class TestPostgresConnection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void parametersRewritten_data();
    void parametersRewritten();
    void parameterNumbersRefused_data();
    void parameterNumbersRefused();
    void parametersBound_data();
    void parametersBound();
    void nullKeptApartFromEmpty();
    void valuesRead_data();
    void valuesRead();
    void numbersBoundIntoColumns_data();
    void numbersBoundIntoColumns();
    void realsAsTheirTextReads();
    void executeCountsChangedRows();

    void uncommittedTransactionRollsBack();
    void failedStatementLeavesTransactionUsable();
    void writersWaitForEachOther();
    void writerGivesUpAfterLockTimeout();
    void readTransactionSeesSnapshot();

    void uniqueViolationFlagged_data();
    void uniqueViolationFlagged();
    void copyKeepsAwkwardTexts_data();
    void copyKeepsAwkwardTexts();
    void droppedWriterWritesNothing();

    void largeSelectStreams();
    void otherCommandsRunWhileRowsArrive();
    void resetEndsRunningResult();
    void goneStatementsDeallocated();

    void wrongPasswordNotShown();
    void terminatedBackendGivesError_data();
    void terminatedBackendGivesError();

private:
    std::unique_ptr<SqlConnection> open(int busyTimeoutMs = 5000) const
    {
        return openSqlDatabase(targetOf(m_database), SqlOpenOptions{busyTimeoutMs});
    }
    // Drops the table the CREATE TABLE statement makes, then runs it.
    void recreate(const QByteArray &create);

    QString m_database;
    std::unique_ptr<SqlConnection> m_admin; // on the server's "postgres" database
    std::unique_ptr<SqlConnection> m_db;    // on the test's own database
};

void TestPostgresConnection::initTestCase()
{
    for (const char *name : kEngineVariables) {
        if (qEnvironmentVariableIsEmpty(name))
            QFAIL(qPrintable(
                QStringLiteral("%1 is not set: run the tests through ./scripts/test, or start "
                               "the engines with `scripts/engines start DIR && source "
                               "DIR/engines.env` first")
                    .arg(QLatin1String(name))));
    }
    m_database = QStringLiteral("fis_tst_pg_%1_%2")
                     .arg(QCoreApplication::applicationPid())
                     .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    m_admin = openSqlDatabase(targetOf(QStringLiteral("postgres")));
    const QByteArray name = m_database.toUtf8();
    run(*m_admin, "CREATE DATABASE " + name);
    // Defaults the connection must override with its own settings.
    run(*m_admin, "ALTER DATABASE " + name + " SET DateStyle = 'SQL, DMY'; ALTER DATABASE " + name +
                      " SET client_encoding = 'LATIN1'");
    m_db = open();
}

void TestPostgresConnection::cleanupTestCase()
{
    m_db.reset();
    if (m_admin && !m_database.isEmpty())
        run(*m_admin, "DROP DATABASE IF EXISTS " + m_database.toUtf8() + " WITH (FORCE)");
}

void TestPostgresConnection::recreate(const QByteArray &create)
{
    const QByteArray table = create.mid(13, create.indexOf(' ', 13) - 13);
    run(*m_db, "DROP TABLE IF EXISTS " + table);
    run(*m_db, create);
}

void TestPostgresConnection::parametersRewritten_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("parameters");

    QTest::newRow("numbered, repeated") << QByteArray("?1 ?2 ?1") << QByteArray("$1 $2 $1") << 2;
    QTest::newRow("bare continues from the highest")
        << QByteArray("?3, ?, ?1, ?") << QByteArray("$3, $4, $1, $5") << 5;
    QTest::newRow("bare only") << QByteArray("(?, ?)") << QByteArray("($1, $2)") << 2;
    QTest::newRow("in a text") << QByteArray("'?' = ?") << QByteArray("'?' = $1") << 1;
    QTest::newRow("doubled quote stays inside")
        << QByteArray("'it''s ?1' || ?") << QByteArray("'it''s ?1' || $1") << 1;
    QTest::newRow("quoted name") << QByteArray("\"a?\" = ?2") << QByteArray("\"a?\" = $2") << 2;
    QTest::newRow("line comment") << QByteArray("-- ?9\n?") << QByteArray("-- ?9\n$1") << 1;
    QTest::newRow("block comment")
        << QByteArray("/* ?9 */ ? /**/") << QByteArray("/* ?9 */ $1 /**/") << 1;
    QTest::newRow("unterminated text") << QByteArray("? 'a ?") << QByteArray("$1 'a ?") << 1;
    QTest::newRow("none") << QByteArray("SELECT 1") << QByteArray("SELECT 1") << 0;
}

void TestPostgresConnection::parametersRewritten()
{
    QFETCH(QByteArray, sql);
    QFETCH(QByteArray, expected);
    QFETCH(int, parameters);
    const PostgresStatementText text = toPostgresParameters(sql);
    QCOMPARE(text.sql, expected);
    QCOMPARE(text.parameterCount(), parameters);
}

void TestPostgresConnection::parameterNumbersRefused_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::newRow("zero") << QByteArray("SELECT ?0");
    QTest::newRow("past the protocol's count") << QByteArray("SELECT ?65536");
    QTest::newRow("bare past the protocol's count") << QByteArray("SELECT ?65535, ?");
}

void TestPostgresConnection::parameterNumbersRefused()
{
    QFETCH(QByteArray, sql);
    QVERIFY(failureOf([&] { toPostgresParameters(sql); }));
}

void TestPostgresConnection::parametersBound_data()
{
    QTest::addColumn<QByteArray>("insert");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("stored");

    QTest::newRow("numbered used twice")
        << QByteArray("INSERT INTO P (A, B, C) VALUES (?1, ?2, ?1)")
        << QStringList{u"x"_qs, u"y"_qs} << u"x|y|x"_qs;
    QTest::newRow("bare after numbered") << QByteArray("INSERT INTO P (A, B, C) VALUES (?2, ?1, ?)")
                                         << QStringList{u"x"_qs, u"y"_qs, u"z"_qs} << u"y|x|z"_qs;
    QTest::newRow("question marks in texts untouched")
        << QByteArray("INSERT INTO P (A, B, C) VALUES ('?', ?, 'it''s ?1')") << QStringList{u"x"_qs}
        << u"?|x|it's ?1"_qs;
    QTest::newRow("number skipped") << QByteArray("INSERT INTO P (A, B, C) VALUES (?1, ?3, ?3)")
                                    << QStringList{u"x"_qs, u"unused"_qs, u"z"_qs} << u"x|z|z"_qs;
    QTest::newRow("accents") << QByteArray("INSERT INTO P (A, B, C) VALUES (?, ?, 'ç')")
                             << QStringList{u"ação"_qs, u"日本"_qs} << u"ação|日本|ç"_qs;
}

void TestPostgresConnection::parametersBound()
{
    QFETCH(QByteArray, insert);
    QFETCH(QStringList, values);
    QFETCH(QString, stored);
    recreate("CREATE TABLE P (A VARCHAR(20), B VARCHAR(20), C VARCHAR(20))");
    SqlStatement q(*m_db, insert);
    for (int i = 0; i < values.size(); ++i)
        q.bind(i + 1, values.at(i));
    QCOMPARE(q.execute(), 1);
    SqlStatement read(*m_db, "SELECT A || '|' || B || '|' || C FROM P");
    QVERIFY(read.step());
    QCOMPARE(read.text(0), stored);
    QVERIFY(!read.step());
}

void TestPostgresConnection::nullKeptApartFromEmpty()
{
    recreate("CREATE TABLE E (ID INTEGER, T VARCHAR(10))");
    SqlStatement insert(*m_db, "INSERT INTO E (ID, T) VALUES (?1, ?2)");
    insert.bind(1, 1);
    insert.bind(2, QString());
    insert.execute();
    insert.bind(1, 2);
    insert.bind(2, QStringLiteral(""));
    insert.execute();
    insert.bind(1, 3);
    insert.bindUtf8(2, QByteArrayView());
    insert.execute();
    insert.bind(1, 4);
    insert.bindNull(2);
    insert.execute();
    insert.bind(1, 5); // unbound after execute(): NULL, as SQLite's
    insert.execute();

    QCOMPARE(count(*m_db, "SELECT count(*) FROM E WHERE T IS NULL"), 3);
    QCOMPARE(count(*m_db, "SELECT count(*) FROM E WHERE T = ''"), 2);
    SqlStatement read(*m_db, "SELECT ID, T FROM E ORDER BY ID");
    const QList<bool> nulls{true, false, false, true, true};
    for (bool null : nulls) {
        QVERIFY(read.step());
        QCOMPARE(read.isNull(1), null);
        QCOMPARE(read.text(1).isNull(), null);
        QVERIFY(read.text(1).isEmpty());
    }
}

void TestPostgresConnection::valuesRead_data()
{
    QTest::addColumn<QByteArray>("select");
    QTest::addColumn<QString>("bound");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<qint64>("integer");
    QTest::addColumn<double>("real");

    QTest::newRow("NUMERIC whole") << QByteArray("SELECT CAST(?1 AS NUMERIC(15,2))") << u"12"_qs
                                   << QByteArray("12.00") << true << qint64(12) << 12.0;
    QTest::newRow("NUMERIC negative")
        << QByteArray("SELECT CAST(?1 AS NUMERIC(15,2))") << u"-1234.567"_qs
        << QByteArray("-1234.57") << true << qint64(-1234) << -1234.57;
    QTest::newRow("NUMERIC small, no exponent")
        << QByteArray("SELECT CAST(?1 AS NUMERIC(20,10))") << u"1e-7"_qs
        << QByteArray("0.0000001000") << true << qint64(0) << 1e-7;
    QTest::newRow("NUMERIC past 64 bits")
        << QByteArray("SELECT CAST(?1 AS NUMERIC(30,0))") << u"123456789012345678901234"_qs
        << QByteArray("123456789012345678901234") << true << std::numeric_limits<qint64>::max()
        << 1.23456789012345678901234e23;
    QTest::newRow("DATE") << QByteArray("SELECT CAST(?1 AS DATE)") << u"2024-02-29"_qs
                          << QByteArray("2024-02-29") << false << qint64(0) << 0.0;
    QTest::newRow("TIMESTAMP") << QByteArray("SELECT CAST(?1 AS TIMESTAMP)")
                               << u"2024-02-29 13:45:07"_qs << QByteArray("2024-02-29 13:45:07")
                               << false << qint64(0) << 0.0;
    QTest::newRow("DATE compared with a text")
        << QByteArray("SELECT CAST(CAST('2024-03-01' AS DATE) > ?1 AS INTEGER)") << u"2024-02-29"_qs
        << QByteArray("1") << true << qint64(1) << 1.0;
    QTest::newRow("INTEGER") << QByteArray("SELECT CAST(?1 AS INTEGER)") << u"-7"_qs
                             << QByteArray("-7") << true << qint64(-7) << -7.0;
    QTest::newRow("DOUBLE PRECISION") << QByteArray("SELECT CAST(?1 AS DOUBLE PRECISION)")
                                      << u"0.1"_qs << QByteArray("0.1") << true << qint64(0) << 0.1;
    QTest::newRow("BOOLEAN") << QByteArray("SELECT CAST(?1 AS INTEGER) > 0") << u"5"_qs
                             << QByteArray("t") << true << qint64(1) << 1.0;
    QTest::newRow("characters made by the server")
        << QByteArray("SELECT chr(231) || chr(26085) || ?1") << u"ã"_qs << QByteArray("ç日ã")
        << false << qint64(0) << 0.0;
    QTest::newRow("characters counted by the server")
        << QByteArray("SELECT length(?1)") << u"ação日"_qs << QByteArray("5") << true << qint64(5)
        << 5.0;
    QTest::newRow("CHAR") << QByteArray("SELECT CAST(?1 AS CHAR(2))") << u"BA"_qs
                          << QByteArray("BA") << false << qint64(0) << 0.0;
}

void TestPostgresConnection::valuesRead()
{
    QFETCH(QByteArray, select);
    QFETCH(QString, bound);
    QFETCH(QByteArray, text);
    QFETCH(bool, numeric);
    QFETCH(qint64, integer);
    QFETCH(double, real);
    SqlStatement q(*m_db, select);
    q.bind(1, bound);
    QVERIFY(q.step());
    QVERIFY(!q.isNull(0));
    QCOMPARE(q.utf8(0).toByteArray(), text);
    if (numeric) {
        QCOMPARE(q.integer(0), integer);
        QCOMPARE(q.real(0), real);
    }
    QVERIFY(!q.step());
}

void TestPostgresConnection::numbersBoundIntoColumns_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<bool>("isDouble");
    QTest::addColumn<qint64>("integer");
    QTest::addColumn<double>("real");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("integer into VARCHAR")
        << QByteArray("VARCHAR(30)") << false << qint64(42) << 0.0 << QByteArray("42");
    QTest::newRow("largest integer into VARCHAR")
        << QByteArray("VARCHAR(30)") << false << std::numeric_limits<qint64>::max() << 0.0
        << QByteArray("9223372036854775807");
    QTest::newRow("integer into NUMERIC")
        << QByteArray("NUMERIC(15,2)") << false << qint64(-42) << 0.0 << QByteArray("-42.00");
    QTest::newRow("double into NUMERIC")
        << QByteArray("NUMERIC(15,2)") << true << qint64(0) << 12.5 << QByteArray("12.50");
    QTest::newRow("double into VARCHAR")
        << QByteArray("VARCHAR(30)") << true << qint64(0) << 0.1 << QByteArray("0.1");
    QTest::newRow("double with 17 digits into DOUBLE PRECISION")
        << QByteArray("DOUBLE PRECISION") << true << qint64(0) << 0.1 + 0.2
        << QByteArray("0.30000000000000004");
    QTest::newRow("huge double into DOUBLE PRECISION")
        << QByteArray("DOUBLE PRECISION") << true << qint64(0) << 1.7976931348623157e308
        << QByteArray("1.7976931348623157e+308");
}

void TestPostgresConnection::numbersBoundIntoColumns()
{
    QFETCH(QByteArray, type);
    QFETCH(bool, isDouble);
    QFETCH(qint64, integer);
    QFETCH(double, real);
    QFETCH(QByteArray, stored);
    recreate("CREATE TABLE N (V " + type + ")");
    SqlStatement insert(*m_db, "INSERT INTO N (V) VALUES (?1)");
    if (isDouble)
        insert.bind(1, real);
    else
        insert.bind(1, integer);
    insert.execute();
    SqlStatement read(*m_db, "SELECT V FROM N");
    QVERIFY(read.step());
    QCOMPARE(read.utf8(0).toByteArray(), stored);
    if (isDouble)
        QCOMPARE(read.real(0), real); // exactly: it went as its shortest exact text
    else
        QCOMPARE(read.integer(0), integer);
}

// Amounts are read by a shortcut for short decimals: each must be the very double a full
// conversion of its text gives, on both sides of the shortcut's 15 digits.
void TestPostgresConnection::realsAsTheirTextReads()
{
    SqlStatement q(*m_db,
                   "SELECT CAST(trunc(CAST((random() - 0.3) * 10 ^ (N % 19) AS NUMERIC), N % 7)"
                   " AS NUMERIC(30, 6)), CAST(N AS NUMERIC(20, 0)) / 10 ^ (N % 12),"
                   " (random() - 0.5) * 10 ^ (N % 30 - 15), CAST(N % 997 AS INTEGER) - 400"
                   " FROM generate_series(1, 60000) AS N");
    qint64 rows = 0;
    qint64 long17 = 0; // past the shortcut
    while (q.step()) {
        ++rows;
        for (int column = 0; column < 4; ++column) {
            const QByteArrayView text = q.utf8(column);
            bool ok = false;
            const double expected = text.toDouble(&ok);
            QVERIFY2(ok, text.toByteArray().constData());
            const double read = q.real(column);
            if (std::memcmp(&read, &expected, sizeof read) != 0)
                QFAIL(qPrintable(QStringLiteral("%1 read as %2")
                                     .arg(QString::fromUtf8(text))
                                     .arg(read, 0, 'g', 17)));
            if (text.size() > 17)
                ++long17;
        }
    }
    QCOMPARE(rows, 60000);
    QVERIFY(long17 > 1000);
    // NUMERIC has no infinity before version 14.
    const std::pair<const char *, const char *> edges[] = {{"NUMERIC", "-0.00"},
                                                           {"NUMERIC", "0"},
                                                           {"NUMERIC", "999999999999999"},
                                                           {"NUMERIC", "0.000000000000001"},
                                                           {"NUMERIC", "123456789012345.6"},
                                                           {"DOUBLE PRECISION", "1e300"},
                                                           {"DOUBLE PRECISION", "-0"},
                                                           {"DOUBLE PRECISION", "Infinity"}};
    for (const auto &[type, text] : edges) {
        SqlStatement one(*m_db, QByteArray(QByteArray("SELECT CAST(?1 AS ") + type + ")"));
        one.bind(1, QString::fromLatin1(text));
        QVERIFY(one.step());
        const QByteArrayView shown = one.utf8(0);
        double expected = 0;
        QVERIFY(std::from_chars(shown.data(), shown.data() + shown.size(), expected).ec ==
                std::errc());
        const double read = one.real(0);
        QVERIFY2(std::memcmp(&read, &expected, sizeof read) == 0, text);
    }
}

void TestPostgresConnection::executeCountsChangedRows()
{
    recreate("CREATE TABLE C (ID INTEGER, T VARCHAR(5))");
    m_db->exec("INSERT INTO C VALUES (1, 'a'), (2, 'a'), (3, 'b')");
    SqlStatement update(*m_db, "UPDATE C SET T = ?2 WHERE T = ?1");
    update.bind(1, QStringLiteral("a"));
    update.bind(2, QStringLiteral("c"));
    QCOMPARE(update.execute(), 2);
    update.bind(1, QStringLiteral("none"));
    update.bind(2, QStringLiteral("c"));
    QCOMPARE(update.execute(), 0);
    QCOMPARE(SqlStatement(*m_db, "DELETE FROM C").execute(), 3);
}

void TestPostgresConnection::uncommittedTransactionRollsBack()
{
    recreate("CREATE TABLE R (ID INTEGER)");
    const auto other = open();
    {
        SqlTransaction tx(*m_db, SqlTransaction::Kind::Write);
        SqlStatement(*m_db, "INSERT INTO R VALUES (1)").execute();
        QCOMPARE(count(*m_db, "SELECT count(*) FROM R"), 1);
        QCOMPARE(count(*other, "SELECT count(*) FROM R"), 0);
    }
    QCOMPARE(count(*m_db, "SELECT count(*) FROM R"), 0);
    {
        SqlTransaction tx(*m_db, SqlTransaction::Kind::Write);
        SqlStatement(*m_db, "INSERT INTO R VALUES (2)").execute();
        tx.commit();
    }
    QCOMPARE(count(*other, "SELECT count(*) FROM R"), 1);
    // Only one at a time, as SQLite's.
    SqlTransaction tx(*m_db, SqlTransaction::Kind::Read);
    QVERIFY(failureOf([&] { m_db->begin(SqlConnection::TransactionKind::Write); }));
}

void TestPostgresConnection::failedStatementLeavesTransactionUsable()
{
    recreate("CREATE TABLE U (ID INTEGER PRIMARY KEY)");
    {
        SqlTransaction tx(*m_db, SqlTransaction::Kind::Write);
        SqlStatement insert(*m_db, "INSERT INTO U VALUES (?1)");
        insert.bind(1, 1);
        insert.execute();
        insert.bind(1, 1);
        const auto duplicate = failureOf([&] { insert.execute(); });
        QVERIFY(duplicate);
        QVERIFY(duplicate->isUniqueViolation());
        QVERIFY(failureOf([&] { SqlStatement(*m_db, "SELECT nonsense FROM U").step(); }));
        QVERIFY(failureOf([&] { m_db->exec("INSERT INTO U VALUES (NULL)"); }));
        // The write before the failures stays, and the transaction goes on.
        QCOMPARE(count(*m_db, "SELECT count(*) FROM U"), 1);
        insert.bind(1, 2);
        insert.execute();
        tx.commit();
    }
    QCOMPARE(count(*m_db, "SELECT count(*) FROM U"), 2);

    // A statement prepared in a transaction rolled back is still there.
    std::unique_ptr<SqlStatement> prepared;
    {
        SqlTransaction tx(*m_db, SqlTransaction::Kind::Read);
        prepared = std::make_unique<SqlStatement>(*m_db, "SELECT count(*) FROM U WHERE ID > ?1");
    }
    prepared->bind(1, 1);
    QVERIFY(prepared->step());
    QCOMPARE(prepared->integer(0), 1);
}

void TestPostgresConnection::writersWaitForEachOther()
{
    recreate("CREATE TABLE W (ID INTEGER)");
    SqlTransaction first(*m_db, SqlTransaction::Kind::Write);
    SqlStatement(*m_db, "INSERT INTO W VALUES (1)").execute();

    std::atomic<bool> began{false};
    qint64 seen = -1;
    std::optional<QString> failure;
    std::thread second([&] {
        try {
            const auto db = open();
            SqlTransaction tx(*db, SqlTransaction::Kind::Write);
            began = true;
            seen = count(*db, "SELECT count(*) FROM W");
            SqlStatement(*db, "INSERT INTO W VALUES (2)").execute();
            tx.commit();
        } catch (const DatabaseError &e) {
            failure = e.message();
        }
    });
    std::this_thread::sleep_for(700ms);
    const bool beganMeanwhile = began.load();
    first.commit();
    second.join();
    QVERIFY2(!failure, qPrintable(failure.value_or(QString())));
    QVERIFY(!beganMeanwhile);
    QCOMPARE(seen, 1); // it starts after the first one's commit and sees it
    QCOMPARE(count(*m_db, "SELECT count(*) FROM W"), 2);
}

void TestPostgresConnection::writerGivesUpAfterLockTimeout()
{
    const auto impatient = open(300);
    SqlTransaction first(*m_db, SqlTransaction::Kind::Write);
    QElapsedTimer timer;
    timer.start();
    const auto failure =
        failureOf([&] { impatient->begin(SqlConnection::TransactionKind::Write); });
    const qint64 waited = timer.elapsed();
    QVERIFY(failure);
    QVERIFY2(waited >= 250 && waited < 3000, qPrintable(QString::number(waited)));
    QVERIFY(failure->message().contains(u"bloqueio"));
    // Nothing of the failed begin is left over: a read still runs, and so does a write later.
    QCOMPARE(text(*impatient, "SELECT 'still usable'"), QByteArray("still usable"));
    first.commit();
    SqlTransaction second(*impatient, SqlTransaction::Kind::Write);
    second.commit();
}

void TestPostgresConnection::readTransactionSeesSnapshot()
{
    recreate("CREATE TABLE S (ID INTEGER)");
    const auto writer = open();
    {
        SqlTransaction tx(*m_db, SqlTransaction::Kind::Read);
        QCOMPARE(count(*m_db, "SELECT count(*) FROM S"), 0);
        SqlStatement(*writer, "INSERT INTO S VALUES (1)").execute();
        QCOMPARE(count(*writer, "SELECT count(*) FROM S"), 1);
        QCOMPARE(count(*m_db, "SELECT count(*) FROM S"), 0);
        QVERIFY(failureOf([&] { m_db->exec("INSERT INTO S VALUES (2)"); }));
        tx.commit();
    }
    QCOMPARE(count(*m_db, "SELECT count(*) FROM S"), 1);
}

void TestPostgresConnection::uniqueViolationFlagged_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("unique");
    QTest::newRow("statement, duplicate key") << u"statement"_qs << true;
    QTest::newRow("statement, other constraint") << u"statement null"_qs << false;
    QTest::newRow("COPY, duplicate of a stored row") << u"copy stored"_qs << true;
    QTest::newRow("COPY, duplicate within its rows") << u"copy within"_qs << true;
    QTest::newRow("COPY, duplicate early in many chunks") << u"copy chunks"_qs << true;
    QTest::newRow("COPY, other constraint") << u"copy null"_qs << false;
}

void TestPostgresConnection::uniqueViolationFlagged()
{
    QFETCH(QString, how);
    QFETCH(bool, unique);
    recreate("CREATE TABLE K (ID INTEGER PRIMARY KEY, T VARCHAR(200) NOT NULL)");
    m_db->exec("INSERT INTO K VALUES (1, 'one')");
    SqlTransaction tx(*m_db, SqlTransaction::Kind::Write);
    const auto failure = failureOf([&] {
        if (how.startsWith(u"statement")) {
            SqlStatement insert(*m_db, "INSERT INTO K (ID, T) VALUES (?1, ?2)");
            insert.bind(1, how == u"statement" ? 1 : 2);
            insert.bind(2, how == u"statement" ? QStringLiteral("again") : QString());
            insert.execute();
            return;
        }
        const auto writer = m_db->insertRows("K", {"ID", "T"});
        const int rows = how == u"copy chunks" ? 20000 : 3;
        for (int i = 0; i < rows; ++i) {
            const int id = how == u"copy stored" && i == 1   ? 1
                           : how == u"copy within" && i == 2 ? 10
                           : how == u"copy chunks" && i == 2 ? 10
                                                             : 10 + i;
            writer->addInteger(id);
            if (how == u"copy null")
                writer->addNull();
            else
                writer->addText("a text long enough to fill a few chunks of COPY data here");
            writer->endRow();
        }
        writer->finish();
    });
    QVERIFY(failure);
    QCOMPARE(failure->isUniqueViolation(), unique);
    // The transaction goes on without the refused rows.
    QCOMPARE(count(*m_db, "SELECT count(*) FROM K"), 1);
    tx.commit();
}

void TestPostgresConnection::copyKeepsAwkwardTexts_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("null");
    QTest::newRow("tab") << QByteArray("a\tb") << false;
    QTest::newRow("newline") << QByteArray("a\nb\n") << false;
    QTest::newRow("carriage return") << QByteArray("a\r\nb\r") << false;
    QTest::newRow("backslashes") << QByteArray("\\a\\\\b\\") << false;
    QTest::newRow("text of the NULL marker") << QByteArray("\\N") << false;
    QTest::newRow("text of the end marker") << QByteArray("\\.") << false;
    QTest::newRow("accents") << QByteArray("ação é ñ ü 日本") << false;
    QTest::newRow("empty") << QByteArray("") << false;
    QTest::newRow("null") << QByteArray() << true;
    QTest::newRow("spaces kept") << QByteArray("  a  ") << false;
}

void TestPostgresConnection::copyKeepsAwkwardTexts()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, null);
    recreate("CREATE TABLE A (ID INTEGER, T VARCHAR(100), AFTER VARCHAR(10))");
    {
        SqlTransaction tx(*m_db, SqlTransaction::Kind::Write);
        const auto writer = m_db->insertRows("A", {"ID", "T", "AFTER"});
        for (int id = 1; id <= 2; ++id) {
            writer->addInteger(id);
            if (null)
                writer->addNull();
            else
                writer->addText(value);
            writer->addText("end");
            writer->endRow();
        }
        writer->finish();
        tx.commit();
    }
    SqlStatement read(*m_db, "SELECT ID, T, AFTER FROM A ORDER BY ID");
    for (int id = 1; id <= 2; ++id) {
        QVERIFY(read.step());
        QCOMPARE(read.integer(0), qint64(id));
        QCOMPARE(read.isNull(1), null);
        QCOMPARE(read.utf8(1).toByteArray(), value);
        QCOMPARE(read.text(2), QStringLiteral("end"));
    }
    QVERIFY(!read.step());
}

void TestPostgresConnection::droppedWriterWritesNothing()
{
    recreate("CREATE TABLE D (ID INTEGER)");
    SqlTransaction tx(*m_db, SqlTransaction::Kind::Write);
    {
        const auto writer = m_db->insertRows("D", {"ID"});
        for (int i = 0; i < 50000; ++i) { // a COPY is running when the writer goes
            writer->addInteger(i);
            writer->endRow();
        }
    }
    QCOMPARE(count(*m_db, "SELECT count(*) FROM D"), 0);
    SqlStatement(*m_db, "INSERT INTO D VALUES (1)").execute();
    tx.commit();
    QCOMPARE(count(*m_db, "SELECT count(*) FROM D"), 1);
}

void TestPostgresConnection::largeSelectStreams()
{
    constexpr qint64 kRows = 200000;
    SqlStatement q(*m_db, "SELECT N, repeat('x', 300) FROM generate_series(1, ?1) AS N");
    q.bind(1, kRows);
    const qint64 before = residentKb();
    QVERIFY(q.step());
    // Whole, the result would take some 60 MB before the first row.
    const qint64 grown = residentKb() - before;
    QVERIFY2(grown < 16 * 1024, qPrintable(QStringLiteral("%1 kB").arg(grown)));
    qint64 rows = 1, sum = q.integer(0);
    while (q.step()) {
        ++rows;
        sum += q.integer(0);
        if (q.utf8(1).size() != 300)
            QFAIL("a row lost its text");
    }
    QCOMPARE(rows, kRows);
    QCOMPARE(sum, kRows * (kRows + 1) / 2);
}

void TestPostgresConnection::otherCommandsRunWhileRowsArrive()
{
    recreate("CREATE TABLE O (ID INTEGER)");
    SqlTransaction tx(*m_db, SqlTransaction::Kind::Write);
    SqlStatement outer(*m_db, "SELECT N FROM generate_series(1, 1000) AS N ORDER BY N");
    SqlStatement insert(*m_db, "INSERT INTO O VALUES (?1)");
    qint64 expected = 0;
    while (outer.step()) {
        ++expected;
        QCOMPARE(outer.integer(0), expected);
        if (expected % 100 == 0) {
            insert.bind(1, expected);
            insert.execute();
            QCOMPARE(outer.integer(0), expected); // the current row outlives the other command
        }
    }
    QCOMPARE(expected, 1000);
    // A failure found while the rows were read ahead comes with the rows, in order.
    SqlStatement failing(*m_db, "SELECT 10 / (5 - N) FROM generate_series(1, 10) AS N");
    QVERIFY(failing.step());
    QCOMPARE(count(*m_db, "SELECT count(*) FROM O"), 10);
    int rows = 1;
    const auto failure = failureOf([&] {
        while (failing.step())
            ++rows;
    });
    QVERIFY(failure);
    QCOMPARE(rows, 4);
    tx.commit();
    QCOMPARE(count(*m_db, "SELECT count(*) FROM O"), 10);
}

void TestPostgresConnection::resetEndsRunningResult()
{
    SqlStatement q(*m_db, "SELECT N FROM generate_series(?1, ?1 + 5000) AS N");
    q.bind(1, 10);
    QVERIFY(q.step());
    QCOMPARE(q.integer(0), 10);
    q.reset();
    q.bind(1, 20);
    QVERIFY(q.step());
    QCOMPARE(q.integer(0), 20);
    // After its last row a statement runs again, as SQLite's does.
    SqlStatement one(*m_db, "SELECT 1");
    QVERIFY(one.step());
    QVERIFY(!one.step());
    QVERIFY(one.step());
    {
        SqlStatement dropped(*m_db, "SELECT N FROM generate_series(1, 5000) AS N");
        QVERIFY(dropped.step());
    }
    QCOMPARE(text(*m_db, "SELECT 'next'"), QByteArray("next"));
}

void TestPostgresConnection::goneStatementsDeallocated()
{
    for (int i = 0; i < 5; ++i) {
        SqlStatement q(*m_db, "SELECT ?1");
        q.bind(1, i);
        QVERIFY(q.step());
    }
    // Only the statement counting them is left.
    QCOMPARE(count(*m_db, "SELECT count(*) FROM pg_prepared_statements"), 1);
}

void TestPostgresConnection::wrongPasswordNotShown()
{
    const QByteArray password =
        "wrong-" + QByteArray::number(QRandomGenerator::global()->generate());
    qputenv("FIS_TST_PG_WRONG_PASSWORD", password);
    DatabaseTarget target = targetOf(m_database);
    target.passwordFile.clear();
    target.passwordEnv = QStringLiteral("FIS_TST_PG_WRONG_PASSWORD");
    const auto failure = failureOf([&] { openSqlDatabase(target); });
    QVERIFY(failure);
    QVERIFY2(failure->message().contains(target.toString()), qPrintable(failure->message()));
    QVERIFY2(failure->message().contains(u"password authentication failed"),
             qPrintable(failure->message()));
    QVERIFY(!failure->message().contains(QString::fromUtf8(password)));
    QVERIFY(!QByteArray(failure->what()).contains(password));
}

void TestPostgresConnection::terminatedBackendGivesError_data()
{
    QTest::addColumn<QString>("call");
    QTest::newRow("exec") << u"exec"_qs;
    QTest::newRow("prepare") << u"prepare"_qs;
    QTest::newRow("step of a prepared statement") << u"step"_qs;
    QTest::newRow("begin") << u"begin"_qs;
    QTest::newRow("commit") << u"commit"_qs;
    QTest::newRow("COPY") << u"copy"_qs;
}

void TestPostgresConnection::terminatedBackendGivesError()
{
    QFETCH(QString, call);
    m_db->exec("CREATE TABLE IF NOT EXISTS T (ID INTEGER)");
    const auto victim = open();
    const qint64 pid = count(*victim, "SELECT pg_backend_pid()");
    SqlStatement prepared(*victim, "SELECT count(*) FROM T");
    if (call == u"commit")
        victim->begin(SqlConnection::TransactionKind::Write);

    SqlStatement kill(*m_admin, "SELECT pg_terminate_backend(?1, 5000)");
    kill.bind(1, pid);
    QVERIFY(kill.step());
    QCOMPARE(kill.utf8(0).toByteArray(), QByteArray("t"));

    const auto failure = failureOf([&] {
        if (call == u"exec") {
            victim->exec("SELECT 1");
        } else if (call == u"prepare") {
            SqlStatement q(*victim, "SELECT 1");
        } else if (call == u"step") {
            prepared.step();
        } else if (call == u"begin") {
            victim->begin(SqlConnection::TransactionKind::Write);
        } else if (call == u"commit") {
            victim->commit();
        } else {
            const auto writer = victim->insertRows("T", {"ID"});
            writer->addInteger(1);
            writer->endRow();
            writer->finish();
        }
    });
    QVERIFY(failure);
    // Later calls fail the same way, and ending what is left does not.
    QVERIFY(failureOf([&] { victim->exec("SELECT 1"); }));
    QVERIFY(failureOf([&] { prepared.step(); }));
    QVERIFY2(failure->message().contains(victim->target()), qPrintable(failure->message()));
    victim->rollback();
}

QTEST_GUILESS_MAIN(TestPostgresConnection)
#include "tst_postgresconnection.moc"
