#include "sqldb/firebirdconnection.h"
#include "sqldb/sqldatabase.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>
#include <QVariant>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace fis;

namespace {

const char *const kVariables[] = {"FIS_FB_HOST", "FIS_FB_PORT", "FIS_FB_USER",
                                  "FIS_FB_PASSWORD_FILE", "FIS_FB_DATA_DIR"};
const QString kNull = QStringLiteral("<null>");
const QString kNoRow = QStringLiteral("<no row>");

// A file in the throwaway server's data folder, unique to this run.
DatabaseTarget serverTarget(const char *what)
{
    DatabaseTarget target;
    target.engine = DatabaseEngine::Firebird;
    target.host = qEnvironmentVariable("FIS_FB_HOST");
    target.port = qEnvironmentVariableIntValue("FIS_FB_PORT");
    target.user = qEnvironmentVariable("FIS_FB_USER");
    target.passwordFile = qEnvironmentVariable("FIS_FB_PASSWORD_FILE");
    target.database = QStringLiteral("%1/tst_firebirdconnection_%2_%3_%4.fdb")
                          .arg(qEnvironmentVariable("FIS_FB_DATA_DIR"), QLatin1String(what))
                          .arg(QCoreApplication::applicationPid())
                          .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    return target;
}

std::unique_ptr<SqlConnection> openDatabase(const DatabaseTarget &target, int busyTimeoutMs = 5000)
{
    SqlOpenOptions options;
    options.busyTimeoutMs = busyTimeoutMs;
    return openFirebirdDatabase(target, options);
}

// The first column of the first row as text; kNull for NULL, kNoRow without a row.
QString firstValue(SqlConnection &db, QByteArrayView sql)
{
    SqlStatement q(db, sql);
    if (!q.step())
        return kNoRow;
    return q.isNull(0) ? kNull : q.text(0);
}

qint64 countRows(SqlConnection &db, const QByteArray &table)
{
    SqlStatement q(db, QByteArray("SELECT COUNT(*) FROM " + table));
    q.step();
    return q.integer(0);
}

void ensureTable(SqlConnection &db, const char *name, const char *ddl)
{
    SqlStatement q(db, "SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = ?1");
    q.bind(1, QString::fromLatin1(name));
    const bool exists = q.step();
    q.reset();
    if (!exists)
        db.exec(ddl);
}

// A QVariant row value bound as the server binds it: a QString (null: NULL), an integer or a
// double.
void bindValue(SqlStatement &q, int index, const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
        q.bind(index, value.toLongLong());
        break;
    case QMetaType::Double:
        q.bind(index, value.toDouble());
        break;
    default:
        q.bind(index, value.toString());
    }
}

// Drops a database made by a test, however the test ends.
struct DropAtEnd
{
    DatabaseTarget target;
    ~DropAtEnd()
    {
        try {
            dropFirebirdDatabase(target);
        } catch (const DatabaseError &e) {
            qWarning("could not drop %s: %s", qPrintable(target.database), e.what());
        }
    }
};

// A TCP relay between the client and the Firebird server, in a thread of its own, which the
// test cuts as a failed network or a server gone would cut the connection.
class TcpRelay
{
public:
    explicit TcpRelay(int serverPort)
        : m_serverPort(serverPort)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = loopback(0);
        socklen_t size = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
            ::listen(m_listener, 4) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size) != 0 ||
            ::pipe(m_wake) != 0)
            qFatal("the relay cannot listen");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~TcpRelay()
    {
        cut();
        m_thread.join();
        ::close(m_listener);
        ::close(m_wake[0]);
        ::close(m_wake[1]);
    }
    int port() const { return m_port; }
    void cut()
    {
        if (!m_cut.exchange(true))
            (void)!::write(m_wake[1], "x", 1);
    }

private:
    static sockaddr_in loopback(int port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(quint16(port));
        return address;
    }
    int connectToServer() const
    {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in address = loopback(m_serverPort);
        if (::connect(s, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
            qFatal("the relay cannot reach the server");
        return s;
    }
    // Sockets in pairs: a client at an even index, its server connection after it.
    void run()
    {
        std::vector<int> sockets;
        for (;;) {
            std::vector<pollfd> fds{{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            for (const int s : sockets)
                fds.push_back({s, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), -1) < 0)
                continue;
            if (fds[1].revents)
                break;
            if (fds[0].revents & POLLIN) {
                sockets.push_back(::accept(m_listener, nullptr, nullptr));
                sockets.push_back(connectToServer());
                continue;
            }
            std::vector<bool> dead(sockets.size(), false);
            for (size_t i = 0; i < sockets.size(); ++i) {
                if (!fds[i + 2].revents || dead[i])
                    continue;
                char buffer[65536];
                const ssize_t n = ::read(sockets[i], buffer, sizeof buffer);
                if (n <= 0 || ::send(sockets[i ^ 1], buffer, size_t(n), MSG_NOSIGNAL) != n)
                    dead[i] = dead[i ^ 1] = true;
            }
            std::vector<int> alive;
            for (size_t i = 0; i < sockets.size(); ++i) {
                if (dead[i])
                    ::close(sockets[i]);
                else
                    alive.push_back(sockets[i]);
            }
            sockets = alive;
        }
        for (const int s : sockets) {
            ::shutdown(s, SHUT_RDWR);
            ::close(s);
        }
    }

    int m_serverPort;
    int m_port = 0;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_cut{false};
    std::thread m_thread;
};

} // namespace

class TestFirebirdConnection : public QObject
{
    Q_OBJECT

public:
    ~TestFirebirdConnection() override;

private slots:
    void initTestCase();
    void cleanupTestCase();

    void createdDatabase();
    void parameters_data();
    void parameters();
    void parameterNumberOutOfRange();
    void nullsStayNull_data();
    void nullsStayNull();
    void nullAndEmptyRoundTrip();
    void readsTypes_data();
    void readsTypes();
    void bindsIntoColumns_data();
    void bindsIntoColumns();
    void integerIntoDateRefused();
    void executeCountsChangedRows();
    void returningGivesOneRow();
    void resetClosesCursor();
    void uncommittedTransactionRollsBack();
    void nestedBeginRefused();
    void writersSerialised();
    void writerTimesOut();
    void autocommitWriteWaitsForWriter();
    void snapshotReads();
    void uniqueViolationFlagged_data();
    void uniqueViolationFlagged();
    void insertRowsRoundTrip();
    void insertRowsIntoNarrowTable();
    void insertRowsSpeed();
    void writeNeedsLockTable();
    void openFailureHidesPassword_data();
    void openFailureHidesPassword();
    void brokenConnection_data();
    void brokenConnection();

private:
    DatabaseTarget m_target;
    bool m_created = false;
    std::unique_ptr<SqlConnection> m_db;
};

void TestFirebirdConnection::initTestCase()
{
    QStringList missing;
    for (const char *variable : kVariables) {
        if (!qEnvironmentVariableIsSet(variable))
            missing.append(QLatin1String(variable));
    }
    if (!missing.isEmpty())
        QFAIL(qPrintable(QStringLiteral("%1 not set: this test needs the throwaway Firebird "
                                        "server. Run it through ./scripts/test, or start the "
                                        "engines with `scripts/engines start DIR && source "
                                        "DIR/engines.env` first.")
                             .arg(missing.join(QStringLiteral(", ")))));
    m_target = serverTarget("main");
    createFirebirdDatabase(m_target);
    m_created = true;
    m_db = openDatabase(m_target);
    m_db->exec("CREATE TABLE TRAVACOMPRALEG (ID INTEGER NOT NULL PRIMARY KEY)");
    m_db->exec("INSERT INTO TRAVACOMPRALEG (ID) VALUES (1)");
}

void TestFirebirdConnection::cleanupTestCase()
{
    m_db.reset();
    if (m_created) {
        m_created = false;
        dropFirebirdDatabase(m_target);
    }
}

void TestFirebirdConnection::createdDatabase()
{
    QCOMPARE(firstValue(*m_db, "SELECT MON$PAGE_SIZE FROM MON$DATABASE"), u"16384");
    QCOMPARE(firstValue(*m_db, "SELECT TRIM(RDB$CHARACTER_SET_NAME) FROM RDB$DATABASE"), u"UTF8");
    // The connection's own character set, which every text crosses in.
    QCOMPARE(firstValue(*m_db, "SELECT TRIM(C.RDB$CHARACTER_SET_NAME) FROM MON$ATTACHMENTS A"
                               " JOIN RDB$CHARACTER_SETS C"
                               " ON C.RDB$CHARACTER_SET_ID = A.MON$CHARACTER_SET_ID"
                               " WHERE A.MON$ATTACHMENT_ID = CURRENT_CONNECTION"),
             u"UTF8");
    QCOMPARE(m_db->engine(), DatabaseEngine::Firebird);
    QCOMPARE(m_db->target(), m_target.toString());
}

void TestFirebirdConnection::parameters_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("?1 used twice")
        << QByteArray("SELECT CAST(?1 AS VARCHAR(5)), CAST(?2 AS VARCHAR(5)),"
                      " CAST(?1 AS VARCHAR(5)) FROM RDB$DATABASE")
        << QVariantList{u"a"_qs, u"b"_qs} << QStringList{u"a"_qs, u"b"_qs, u"a"_qs};
    QTest::newRow("bare ? follows the highest number")
        << QByteArray("SELECT CAST(?2 AS VARCHAR(5)), CAST(? AS VARCHAR(5)),"
                      " CAST(?1 AS VARCHAR(5)) FROM RDB$DATABASE")
        << QVariantList{u"one"_qs, u"two"_qs, u"three"_qs}
        << QStringList{u"two"_qs, u"three"_qs, u"one"_qs};
    QTest::newRow("bare ? only")
        << QByteArray("SELECT CAST(? AS VARCHAR(5)), CAST(? AS INTEGER) FROM RDB$DATABASE")
        << QVariantList{u"x"_qs, 7} << QStringList{u"x"_qs, u"7"_qs};
    QTest::newRow("'?' in a literal stays")
        << QByteArray("SELECT '?1 ? ''?''', CAST(?1 AS VARCHAR(5)) FROM RDB$DATABASE")
        << QVariantList{u"v"_qs} << QStringList{u"?1 ? '?'"_qs, u"v"_qs};
    QTest::newRow("'?' in a quoted name stays")
        << QByteArray("SELECT CAST(?1 AS VARCHAR(5)) AS \"a?b\" FROM RDB$DATABASE")
        << QVariantList{u"v"_qs} << QStringList{u"v"_qs};
    QTest::newRow("'?' in comments stays")
        << QByteArray("SELECT /* ?2 ? */ CAST(? AS VARCHAR(5)) -- ?3\nFROM RDB$DATABASE")
        << QVariantList{u"v"_qs} << QStringList{u"v"_qs};
    QTest::newRow("high number, gaps unbound are NULL")
        << QByteArray("SELECT CAST(?3 AS VARCHAR(5)), CAST(?1 AS VARCHAR(5)) FROM RDB$DATABASE")
        << QVariantList{QVariant(), QVariant(), u"c"_qs} << QStringList{u"c"_qs, kNull};
}

void TestFirebirdConnection::parameters()
{
    QFETCH(QByteArray, sql);
    QFETCH(QVariantList, values);
    QFETCH(QStringList, expected);
    SqlStatement q(*m_db, sql);
    for (int i = 0; i < values.size(); ++i) {
        if (values[i].isValid())
            bindValue(q, i + 1, values[i]);
    }
    QVERIFY(q.step());
    QStringList row;
    for (int c = 0; c < expected.size(); ++c)
        row.append(q.isNull(c) ? kNull : q.text(c));
    QCOMPARE(row, expected);
    QVERIFY(!q.step());
}

void TestFirebirdConnection::parameterNumberOutOfRange()
{
    SqlStatement q(*m_db, "SELECT CAST(?2 AS INTEGER) FROM RDB$DATABASE");
    QVERIFY_THROWS_EXCEPTION(DatabaseError, q.bind(0, 1));
    QVERIFY_THROWS_EXCEPTION(DatabaseError, q.bind(3, 1));
    QVERIFY_THROWS_EXCEPTION(DatabaseError, SqlStatement(*m_db, "SELECT ?0 FROM RDB$DATABASE"));
}

void TestFirebirdConnection::nullsStayNull_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("expected");

    const QByteArray isNull = "SELECT COUNT(*) FROM RDB$DATABASE WHERE ?1 IS NULL";
    QTest::newRow("IS NULL, null") << isNull << QVariant(QString()) << u"1"_qs;
    QTest::newRow("IS NULL, empty") << isNull << QVariant(u""_qs) << u"0"_qs;

    const QByteArray coalesce = "SELECT COALESCE(?1, 'x') FROM RDB$DATABASE";
    QTest::newRow("COALESCE, null") << coalesce << QVariant(QString()) << u"x"_qs;
    // The result is a CHAR(1), as the literal is: '' comes back padded, and not as 'x'.
    QTest::newRow("COALESCE, empty") << coalesce << QVariant(u""_qs) << u" "_qs;

    // Compared with a literal, Firebird describes the parameter as a CHAR(1) that is never null.
    const QByteArray compared = "SELECT TRIM(CASE WHEN ?1 = 'T' THEN 'equal' WHEN NOT (?1 = 'T')"
                                " THEN 'different' ELSE 'unknown' END) FROM RDB$DATABASE";
    QTest::newRow("= 'T', null") << compared << QVariant(QString()) << u"unknown"_qs;
    QTest::newRow("= 'T', empty") << compared << QVariant(u""_qs) << u"different"_qs;
    QTest::newRow("= 'T', T") << compared << QVariant(u"T"_qs) << u"equal"_qs;

    const QByteArray replace = "SELECT REPLACE(?1, 'a', 'b') FROM RDB$DATABASE";
    QTest::newRow("REPLACE, null") << replace << QVariant(QString()) << kNull;
    QTest::newRow("REPLACE, empty") << replace << QVariant(u""_qs) << u""_qs;
    QTest::newRow("REPLACE, text") << replace << QVariant(u"a"_qs) << u"b"_qs;

    const QByteArray iif = "SELECT IIF(?1 IS NULL, 'n', 'v') FROM RDB$DATABASE";
    QTest::newRow("IIF, null") << iif << QVariant(QString()) << u"n"_qs;
    QTest::newRow("IIF, empty") << iif << QVariant(u""_qs) << u"v"_qs;

    // An integer context: a null sent as 0 would give 1.
    const QByteArray plusOne = "SELECT COALESCE(CAST(?1 AS INTEGER) + 1, -1) FROM RDB$DATABASE";
    QTest::newRow("?1 + 1, null") << plusOne << QVariant(QString()) << u"-1"_qs;
    QTest::newRow("?1 + 1, 1") << plusOne << QVariant(1) << u"2"_qs;
}

void TestFirebirdConnection::nullsStayNull()
{
    QFETCH(QByteArray, sql);
    QFETCH(QVariant, value);
    QFETCH(QString, expected);
    SqlStatement q(*m_db, sql);
    bindValue(q, 1, value);
    QVERIFY(q.step());
    QCOMPARE(q.isNull(0) ? kNull : q.text(0), expected);
}

void TestFirebirdConnection::nullAndEmptyRoundTrip()
{
    ensureTable(*m_db, "T_EMPTY", "CREATE TABLE T_EMPTY (ID INTEGER, V VARCHAR(10), C CHAR(3))");
    SqlStatement insert(*m_db, "INSERT INTO T_EMPTY (ID, V, C) VALUES (?1, ?2, ?3)");
    insert.bind(1, 1);
    insert.bind(2, QString());
    insert.bind(3, QString());
    insert.execute();
    insert.bind(1, 2);
    insert.bind(2, u""_qs);
    insert.bindUtf8(3, "");
    insert.execute();

    SqlStatement q(*m_db, "SELECT V, C FROM T_EMPTY WHERE ID = ?1");
    q.bind(1, 1);
    QVERIFY(q.step());
    QVERIFY(q.isNull(0));
    QVERIFY(q.isNull(1));
    QVERIFY(q.text(0).isNull());
    q.reset();
    q.bind(1, 2);
    QVERIFY(q.step());
    QVERIFY(!q.isNull(0));
    QCOMPARE(q.utf8(0), QByteArrayView(""));
    QVERIFY(!q.isNull(1));
    QCOMPARE(q.utf8(1), QByteArrayView("   ")); // CHAR keeps its padding
    QCOMPARE(firstValue(*m_db, "SELECT COUNT(*) FROM T_EMPTY WHERE V IS NULL"), u"1");
    QCOMPARE(firstValue(*m_db, "SELECT COUNT(*) FROM T_EMPTY WHERE V = ''"), u"1");
}

void TestFirebirdConnection::readsTypes_data()
{
    QTest::addColumn<QByteArray>("expression");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QVariant>("integer");
    QTest::addColumn<QVariant>("real");

    QTest::newRow("NUMERIC(15,2)") << QByteArray("CAST(12.3 AS NUMERIC(15,2))")
                                   << QByteArray("12.30") << QVariant(12) << QVariant(12.3);
    QTest::newRow("NUMERIC(15,2) between -1 and 0")
        << QByteArray("CAST(-0.05 AS NUMERIC(15,2))") << QByteArray("-0.05") << QVariant(0)
        << QVariant(-0.05);
    QTest::newRow("NUMERIC(10)") << QByteArray("CAST(1234567890 AS NUMERIC(10))")
                                 << QByteArray("1234567890") << QVariant(1234567890)
                                 << QVariant(1234567890.0);
    QTest::newRow("NUMERIC(9,4), an INTEGER inside")
        << QByteArray("CAST(-12.3456 AS NUMERIC(9,4))") << QByteArray("-12.3456") << QVariant(-12)
        << QVariant(-12.3456);
    QTest::newRow("NUMERIC(4,1), a SMALLINT inside")
        << QByteArray("CAST(99.9 AS NUMERIC(4,1))") << QByteArray("99.9") << QVariant(99)
        << QVariant(99.9);
    QTest::newRow("BIGINT past a double's precision")
        << QByteArray("CAST(9007199254740993 AS BIGINT)") << QByteArray("9007199254740993")
        << QVariant(Q_INT64_C(9007199254740993)) << QVariant();
    QTest::newRow("lowest BIGINT") << QByteArray("CAST(-9223372036854775807 AS BIGINT) - 1")
                                   << QByteArray("-9223372036854775808")
                                   << QVariant(std::numeric_limits<qint64>::min()) << QVariant();
    QTest::newRow("DOUBLE PRECISION") << QByteArray("CAST(0.1 AS DOUBLE PRECISION)")
                                      << QByteArray("0.1") << QVariant(0) << QVariant(0.1);
    QTest::newRow("DATE") << QByteArray("DATE '2024-02-29'") << QByteArray("2024-02-29")
                          << QVariant() << QVariant();
    QTest::newRow("DATE before Firebird's day 0")
        << QByteArray("DATE '1858-11-16'") << QByteArray("1858-11-16") << QVariant() << QVariant();
    QTest::newRow("DATE in year 1")
        << QByteArray("DATE '0001-01-01'") << QByteArray("0001-01-01") << QVariant() << QVariant();
    QTest::newRow("TIMESTAMP, whole seconds")
        << QByteArray("TIMESTAMP '2024-02-29 13:45:07'") << QByteArray("2024-02-29 13:45:07")
        << QVariant() << QVariant();
    QTest::newRow("TIMESTAMP at midnight")
        << QByteArray("TIMESTAMP '2024-03-01 00:00:00'") << QByteArray("2024-03-01 00:00:00")
        << QVariant() << QVariant();
    QTest::newRow("TIMESTAMP with a fraction")
        << QByteArray("TIMESTAMP '2024-02-29 23:59:59.25'") << QByteArray("2024-02-29 23:59:59.25")
        << QVariant() << QVariant();
    QTest::newRow("TIME") << QByteArray("TIME '08:05:09'") << QByteArray("08:05:09") << QVariant()
                          << QVariant();
    QTest::newRow("CHAR padded") << QByteArray("CAST('AB' AS CHAR(3))") << QByteArray("AB ")
                                 << QVariant() << QVariant();
    QTest::newRow("CHAR with an accent, padded")
        << QByteArray("CAST('É' AS CHAR(2))") << QByteArray("É ") << QVariant() << QVariant();
    QTest::newRow("CHAR full, accents")
        << QByteArray("CAST('SÃO' AS CHAR(3))") << QByteArray("SÃO") << QVariant() << QVariant();
    QTest::newRow("VARCHAR, accents") << QByteArray("CAST('ação' AS VARCHAR(10))")
                                      << QByteArray("ação") << QVariant() << QVariant();
    QTest::newRow("VARCHAR holding a number")
        << QByteArray("CAST('42.5' AS VARCHAR(10))") << QByteArray("42.5") << QVariant(42)
        << QVariant(42.5);
    QTest::newRow("BOOLEAN") << QByteArray("TRUE") << QByteArray("1") << QVariant(1)
                             << QVariant(1.0);
}

void TestFirebirdConnection::readsTypes()
{
    QFETCH(QByteArray, expression);
    QFETCH(QByteArray, text);
    QFETCH(QVariant, integer);
    QFETCH(QVariant, real);
    SqlStatement q(*m_db, QByteArray("SELECT " + expression + " FROM RDB$DATABASE"));
    QVERIFY(q.step());
    QVERIFY(!q.isNull(0));
    QCOMPARE(q.utf8(0).toByteArray(), text);
    if (integer.isValid())
        QCOMPARE(q.integer(0), integer.toLongLong());
    if (real.isValid())
        QCOMPARE(q.real(0), real.toDouble());
}

void TestFirebirdConnection::bindsIntoColumns_data()
{
    QTest::addColumn<QByteArray>("column");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("integer into VARCHAR") << QByteArray("VC") << QVariant(42) << u"42"_qs;
    QTest::newRow("double into VARCHAR") << QByteArray("VC") << QVariant(0.1) << u"0.1"_qs;
    QTest::newRow("integer into NUMERIC") << QByteArray("NM") << QVariant(42) << u"42.00"_qs;
    QTest::newRow("double into NUMERIC") << QByteArray("NM") << QVariant(1234.5) << u"1234.50"_qs;
    QTest::newRow("negative double into NUMERIC")
        << QByteArray("NM") << QVariant(-0.07) << u"-0.07"_qs;
    QTest::newRow("text into NUMERIC") << QByteArray("NM") << QVariant(u"12.5"_qs) << u"12.50"_qs;
    QTest::newRow("text into DATE")
        << QByteArray("DT") << QVariant(u"2024-01-31"_qs) << u"2024-01-31"_qs;
    QTest::newRow("text into TIMESTAMP")
        << QByteArray("TS") << QVariant(u"2024-01-31 23:59:58"_qs) << u"2024-01-31 23:59:58"_qs;
    QTest::newRow("double into DOUBLE PRECISION") << QByteArray("DB") << QVariant(0.1) << u"0.1"_qs;
    QTest::newRow("large integer into BIGINT")
        << QByteArray("BI") << QVariant(Q_INT64_C(9007199254740993)) << u"9007199254740993"_qs;
    QTest::newRow("text into INTEGER") << QByteArray("IT") << QVariant(u"7"_qs) << u"7"_qs;
}

void TestFirebirdConnection::bindsIntoColumns()
{
    QFETCH(QByteArray, column);
    QFETCH(QVariant, value);
    QFETCH(QString, expected);
    ensureTable(*m_db, "T_BIND",
                "CREATE TABLE T_BIND (VC VARCHAR(20), NM NUMERIC(15,2), DT DATE, TS TIMESTAMP,"
                " DB DOUBLE PRECISION, BI BIGINT, IT INTEGER)");
    SqlTransaction transaction(*m_db, SqlTransaction::Kind::Write);
    m_db->exec("DELETE FROM T_BIND");
    SqlStatement insert(*m_db, QByteArray("INSERT INTO T_BIND (" + column + ") VALUES (?1)"));
    bindValue(insert, 1, value);
    QCOMPARE(insert.execute(), 1);
    QCOMPARE(firstValue(*m_db, QByteArray("SELECT " + column + " FROM T_BIND")), expected);
    transaction.commit();
}

void TestFirebirdConnection::integerIntoDateRefused()
{
    ensureTable(*m_db, "T_DATE", "CREATE TABLE T_DATE (DT DATE)");
    SqlStatement insert(*m_db, "INSERT INTO T_DATE (DT) VALUES (?1)");
    insert.bind(1, 20240131);
    QVERIFY_THROWS_EXCEPTION(DatabaseError, insert.execute());
    QCOMPARE(countRows(*m_db, "T_DATE"), 0);
}

void TestFirebirdConnection::executeCountsChangedRows()
{
    ensureTable(*m_db, "T_COUNT", "CREATE TABLE T_COUNT (ID INTEGER, V VARCHAR(5))");
    SqlStatement insert(*m_db, "INSERT INTO T_COUNT (ID, V) VALUES (?1, ?2)");
    for (int id = 1; id <= 3; ++id) {
        insert.bind(1, id);
        insert.bind(2, u"v"_qs);
        QCOMPARE(insert.execute(), 1);
    }
    QCOMPARE(SqlStatement(*m_db, "UPDATE T_COUNT SET V = 'w' WHERE ID >= 2").execute(), 2);
    QCOMPARE(SqlStatement(*m_db, "UPDATE T_COUNT SET V = 'w' WHERE ID > 9").execute(), 0);
    QCOMPARE(SqlStatement(*m_db, "SELECT ID FROM T_COUNT").execute(), 0);
    {
        SqlTransaction transaction(*m_db, SqlTransaction::Kind::Write);
        QCOMPARE(SqlStatement(*m_db, "DELETE FROM T_COUNT WHERE ID = 1").execute(), 1);
        transaction.commit();
    }
    QCOMPARE(SqlStatement(*m_db, "DELETE FROM T_COUNT").execute(), 2);
}

void TestFirebirdConnection::returningGivesOneRow()
{
    ensureTable(*m_db, "T_RETURNING",
                "CREATE TABLE T_RETURNING (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(5))");
    SqlStatement q(*m_db, "INSERT INTO T_RETURNING (ID, V) VALUES (?1, ?2) RETURNING ID, V");
    q.bind(1, 7);
    q.bind(2, u"sete"_qs);
    QVERIFY(q.step());
    QCOMPARE(q.integer(0), 7);
    QCOMPARE(q.text(1), u"sete");
    QVERIFY(!q.step());
    QCOMPARE(countRows(*m_db, "T_RETURNING"), 1);
}

void TestFirebirdConnection::resetClosesCursor()
{
    ensureTable(*m_db, "T_CURSOR", "CREATE TABLE T_CURSOR (ID INTEGER)");
    m_db->exec("INSERT INTO T_CURSOR (ID) SELECT 1 FROM RDB$DATABASE UNION ALL"
               " SELECT 2 FROM RDB$DATABASE UNION ALL SELECT 3 FROM RDB$DATABASE");
    const QByteArray transactions = "SELECT COUNT(*) FROM MON$TRANSACTIONS"
                                    " WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION";
    const qint64 idle = firstValue(*m_db, transactions).toLongLong();

    SqlStatement q(*m_db, "SELECT ID FROM T_CURSOR WHERE ID >= ?1 ORDER BY ID");
    q.bind(1, 1);
    QVERIFY(q.step());
    QCOMPARE(q.integer(0), 1);
    // The open cursor holds a transaction of its own, which reset() ends.
    QCOMPARE(firstValue(*m_db, transactions).toLongLong(), idle + 1);
    q.reset();
    QCOMPARE(firstValue(*m_db, transactions).toLongLong(), idle);

    q.bind(1, 2);
    QVERIFY(q.step());
    QCOMPARE(q.integer(0), 2);
    QVERIFY(q.step());
    QCOMPARE(q.integer(0), 3);
    QVERIFY(!q.step());
    // As in SQLite, a step after the last row runs the query again with the same values.
    QVERIFY(q.step());
    QCOMPARE(q.integer(0), 2);
    q.reset();

    // A commit closes the cursor under the statement, which runs again after reset().
    m_db->begin(SqlConnection::TransactionKind::Read);
    q.bind(1, 1);
    QVERIFY(q.step());
    m_db->commit();
    q.reset();
    q.bind(1, 3);
    QVERIFY(q.step());
    QCOMPARE(q.integer(0), 3);
}

void TestFirebirdConnection::uncommittedTransactionRollsBack()
{
    ensureTable(*m_db, "T_ROLLBACK", "CREATE TABLE T_ROLLBACK (ID INTEGER NOT NULL PRIMARY KEY)");
    auto other = openDatabase(m_target);
    {
        SqlTransaction transaction(*m_db, SqlTransaction::Kind::Write);
        SqlStatement(*m_db, "INSERT INTO T_ROLLBACK (ID) VALUES (1)").execute();
        QCOMPARE(countRows(*m_db, "T_ROLLBACK"), 1);
        QCOMPARE(countRows(*other, "T_ROLLBACK"), 0);
    }
    QCOMPARE(countRows(*m_db, "T_ROLLBACK"), 0);
    {
        SqlTransaction transaction(*m_db, SqlTransaction::Kind::Write);
        SqlStatement(*m_db, "INSERT INTO T_ROLLBACK (ID) VALUES (2)").execute();
        transaction.commit();
    }
    QCOMPARE(countRows(*other, "T_ROLLBACK"), 1);
    // Outside a transaction a statement is committed at once.
    SqlStatement(*m_db, "INSERT INTO T_ROLLBACK (ID) VALUES (3)").execute();
    QCOMPARE(countRows(*other, "T_ROLLBACK"), 2);
}

void TestFirebirdConnection::nestedBeginRefused()
{
    m_db->begin(SqlConnection::TransactionKind::Read);
    QVERIFY_THROWS_EXCEPTION(DatabaseError, m_db->begin(SqlConnection::TransactionKind::Write));
    m_db->rollback();
    QVERIFY_THROWS_EXCEPTION(DatabaseError, m_db->commit());
    m_db->rollback(); // harmless without a transaction
    m_db->begin(SqlConnection::TransactionKind::Write);
    m_db->commit();
}

void TestFirebirdConnection::writersSerialised()
{
    ensureTable(*m_db, "T_WRITERS",
                "CREATE TABLE T_WRITERS (ID INTEGER NOT NULL PRIMARY KEY, WHO VARCHAR(5))");
    auto first = openDatabase(m_target);
    first->begin(SqlConnection::TransactionKind::Write);
    SqlStatement(*first, "INSERT INTO T_WRITERS (ID, WHO) VALUES (1, 'A')").execute();

    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> waitFrom{-1};
    std::atomic<qint64> waitUntil{-1};
    QString seen;
    QString failure;
    std::thread second([&] {
        try {
            auto db = openDatabase(m_target, 20000);
            waitFrom = clock.elapsed();
            db->begin(SqlConnection::TransactionKind::Write);
            waitUntil = clock.elapsed();
            seen = firstValue(*db, "SELECT WHO FROM T_WRITERS WHERE ID = 1");
            SqlStatement(*db, "INSERT INTO T_WRITERS (ID, WHO) VALUES (2, 'B')").execute();
            db->commit();
        } catch (const std::exception &e) {
            failure = errorText(e);
        }
    });
    QThread::msleep(1000);
    const qint64 committed = clock.elapsed();
    first->commit();
    second.join();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY2(waitFrom >= 0 && waitFrom < committed, "the second writer began too late to wait");
    QVERIFY2(waitUntil >= committed, "the second writer did not wait for the first");
    QCOMPARE(seen, u"A"); // it saw the first writer's row
    QCOMPARE(countRows(*m_db, "T_WRITERS"), 2);
}

void TestFirebirdConnection::writerTimesOut()
{
    auto first = openDatabase(m_target);
    first->begin(SqlConnection::TransactionKind::Write);
    auto second = openDatabase(m_target, 1000);
    QElapsedTimer clock;
    clock.start();
    QString message;
    try {
        second->begin(SqlConnection::TransactionKind::Write);
        QFAIL("a second writer began while the first one was at work");
    } catch (const DatabaseError &e) {
        message = e.message();
    }
    const qint64 waited = clock.elapsed();
    QVERIFY2(waited >= 900 && waited < 5000, qPrintable(QString::number(waited)));
    QVERIFY2(message.contains(u"transação de escrita"), qPrintable(message));
    first->rollback();
    second->begin(SqlConnection::TransactionKind::Write);
    second->commit();
}

void TestFirebirdConnection::autocommitWriteWaitsForWriter()
{
    ensureTable(*m_db, "T_COUNTER",
                "CREATE TABLE T_COUNTER (ID INTEGER NOT NULL PRIMARY KEY, N INTEGER)");
    m_db->exec("UPDATE OR INSERT INTO T_COUNTER (ID, N) VALUES (1, 0)");
    auto writer = openDatabase(m_target);
    writer->begin(SqlConnection::TransactionKind::Write);
    SqlStatement(*writer, "UPDATE T_COUNTER SET N = N + 10 WHERE ID = 1").execute();

    int changed = -1;
    QString failure;
    std::thread alone([&] {
        try {
            auto db = openDatabase(m_target, 20000);
            changed = SqlStatement(*db, "UPDATE T_COUNTER SET N = N + 1 WHERE ID = 1").execute();
        } catch (const std::exception &e) {
            failure = errorText(e);
        }
    });
    QThread::msleep(800);
    writer->commit();
    alone.join();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(changed, 1);
    QCOMPARE(firstValue(*m_db, "SELECT N FROM T_COUNTER WHERE ID = 1"), u"11");
}

void TestFirebirdConnection::snapshotReads()
{
    ensureTable(*m_db, "T_SNAPSHOT", "CREATE TABLE T_SNAPSHOT (ID INTEGER)");
    m_db->exec("INSERT INTO T_SNAPSHOT (ID) VALUES (1)");
    auto reader = openDatabase(m_target);
    reader->begin(SqlConnection::TransactionKind::Read);
    QCOMPARE(countRows(*reader, "T_SNAPSHOT"), 1);
    m_db->exec("INSERT INTO T_SNAPSHOT (ID) VALUES (2)");
    QCOMPARE(countRows(*reader, "T_SNAPSHOT"), 1);
    QVERIFY_THROWS_EXCEPTION(DatabaseError, reader->exec("INSERT INTO T_SNAPSHOT (ID) VALUES (3)"));
    reader->commit();
    QCOMPARE(countRows(*reader, "T_SNAPSHOT"), 2);
}

void TestFirebirdConnection::uniqueViolationFlagged_data()
{
    QTest::addColumn<bool>("inBulk");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("other");
    QTest::addColumn<bool>("unique");

    for (const bool bulk : {false, true}) {
        const char *how = bulk ? ", insertRows" : ", statement";
        QTest::addRow("primary key%s", how) << bulk << 1 << u"B"_qs << u"v"_qs << u"b"_qs << true;
        QTest::addRow("unique constraint%s", how)
            << bulk << 2 << u"A"_qs << u"v"_qs << u"b"_qs << true;
        QTest::addRow("unique index%s", how) << bulk << 3 << u"C"_qs << u"v"_qs << u"a"_qs << true;
        QTest::addRow("not null, no unique violation%s", how)
            << bulk << 4 << u"D"_qs << QString() << u"d"_qs << false;
    }
}

void TestFirebirdConnection::uniqueViolationFlagged()
{
    QFETCH(bool, inBulk);
    QFETCH(int, id);
    QFETCH(QString, code);
    QFETCH(QString, value);
    QFETCH(QString, other);
    QFETCH(bool, unique);
    ensureTable(*m_db, "T_UNIQUE",
                "CREATE TABLE T_UNIQUE (ID INTEGER NOT NULL PRIMARY KEY, CODE VARCHAR(5),"
                " V VARCHAR(5) NOT NULL, W VARCHAR(5), CONSTRAINT UQ_T_UNIQUE UNIQUE (CODE))");
    if (countRows(*m_db, "T_UNIQUE") == 0) {
        m_db->exec("CREATE UNIQUE INDEX IX_T_UNIQUE_W ON T_UNIQUE (W)");
        m_db->exec("INSERT INTO T_UNIQUE (ID, CODE, V, W) VALUES (1, 'A', 'v', 'a')");
    }
    SqlTransaction transaction(*m_db, SqlTransaction::Kind::Write);
    try {
        if (inBulk) {
            auto rows = m_db->insertRows("T_UNIQUE", {"ID", "CODE", "V", "W"});
            // Good rows around the bad one, all in one block.
            for (const int good : {10, 11}) {
                rows->addInteger(good);
                rows->addText(QByteArray::number(good));
                rows->addText("g");
                rows->addNull();
                rows->endRow();
            }
            rows->addInteger(id);
            rows->addText(code.toUtf8());
            value.isNull() ? rows->addNull() : rows->addText(value.toUtf8());
            rows->addText(other.toUtf8());
            rows->endRow();
            rows->finish();
        } else {
            SqlStatement insert(*m_db,
                                "INSERT INTO T_UNIQUE (ID, CODE, V, W) VALUES (?1, ?2, ?3, ?4)");
            insert.bind(1, id);
            insert.bind(2, code);
            insert.bind(3, value);
            insert.bind(4, other);
            insert.execute();
        }
        QFAIL("the row was written");
    } catch (const DatabaseError &e) {
        QCOMPARE(e.isUniqueViolation(), unique);
        QVERIFY(!e.databaseMessage().isEmpty());
    }
    QCOMPARE(countRows(*m_db, "T_UNIQUE"), 1);
}

void TestFirebirdConnection::insertRowsRoundTrip()
{
    ensureTable(*m_db, "T_ROWS",
                "CREATE TABLE T_ROWS (ID INTEGER NOT NULL PRIMARY KEY, TXT VARCHAR(4000),"
                " NUM NUMERIC(15,2), DT DATE, FLAG CHAR(1))");
    const QByteArray accents = QStringLiteral("ação São Paulo ÇÉÍÕÜ ñ").toUtf8();
    const QList<QByteArray> texts = {
        "plain",
        "it's a 'quote'",
        "say \"hi\"",
        "line one\nline two\r\nline three",
        accents,
        QByteArray(4000, 'x'),
        QStringLiteral("ã").repeated(4000).toUtf8(),
        QByteArray(),   // NULL
        QByteArray(""), // empty, not NULL
        "?1 ? :P0 --",
        "'); DELETE FROM T_ROWS; --",
        QStringLiteral("emoji \U0001F600 and tab\t").toUtf8(),
        "  padded  ",
    };
    constexpr int kRows = 1500;
    auto textOf = [&](int id) {
        return texts[id % texts.size()];
    };
    {
        SqlTransaction transaction(*m_db, SqlTransaction::Kind::Write);
        auto rows = m_db->insertRows("T_ROWS", {"ID", "TXT", "NUM", "DT", "FLAG"});
        for (int id = 0; id < kRows; ++id) {
            rows->addInteger(id);
            const QByteArray text = textOf(id);
            text.isNull() ? rows->addNull() : rows->addText(text);
            id % 7 ? rows->addInteger(id * 3) : rows->addText("-0.25");
            id % 5 ? rows->addText("2024-01-31") : rows->addNull();
            rows->addText(id % 2 ? "S" : "N");
            rows->endRow();
        }
        rows->finish();
        transaction.commit();
    }
    QCOMPARE(countRows(*m_db, "T_ROWS"), kRows);
    SqlStatement q(*m_db, "SELECT ID, TXT, NUM, DT, FLAG FROM T_ROWS ORDER BY ID");
    for (int id = 0; id < kRows; ++id) {
        QVERIFY(q.step());
        QCOMPARE(q.integer(0), id);
        const QByteArray text = textOf(id);
        QCOMPARE(q.isNull(1), text.isNull());
        QCOMPARE(q.utf8(1).toByteArray(), text);
        QCOMPARE(q.utf8(2).toByteArray(),
                 id % 7 ? QByteArray::number(id * 3) + ".00" : QByteArray("-0.25"));
        QCOMPARE(q.isNull(3), id % 5 == 0);
        QCOMPARE(q.utf8(4).toByteArray(), QByteArray(id % 2 ? "S" : "N"));
    }
    QVERIFY(!q.step());
}

void TestFirebirdConnection::insertRowsIntoNarrowTable()
{
    // One short column: the text limit alone would let more INSERTs into a block than the 256
    // contexts a statement may have. Outside a transaction, each block commits on its own.
    ensureTable(*m_db, "T_NARROW", "CREATE TABLE T_NARROW (ID INTEGER)");
    constexpr int kRows = 1000;
    auto rows = m_db->insertRows("T_NARROW", {"ID"});
    for (int id = 1; id <= kRows; ++id) {
        rows->addInteger(id);
        rows->endRow();
    }
    rows->finish();
    QCOMPARE(countRows(*m_db, "T_NARROW"), kRows);
    QCOMPARE(firstValue(*m_db, "SELECT SUM(ID) FROM T_NARROW"),
             QString::number(kRows * (kRows + 1) / 2));
}

void TestFirebirdConnection::insertRowsSpeed()
{
    ensureTable(*m_db, "T_LINES",
                "CREATE TABLE T_LINES (NRSEQARQMAG VARCHAR(10) NOT NULL,"
                " NRORDREGARQ NUMERIC(10) NOT NULL, NRLISTA VARCHAR(10) NOT NULL,"
                " DSREGARQMAG VARCHAR(4000) NOT NULL, SQUENCIAL NUMERIC(10) NOT NULL,"
                " CONSTRAINT PK_T_LINES PRIMARY KEY (NRSEQARQMAG, NRORDREGARQ))");
    constexpr int kRows = 200000;
    auto lineOf = [](int n) {
        QByteArray line = "54" + QByteArray::number(n).rightJustified(14, '0') + "BA";
        return line.leftJustified(126, n % 3 ? ' ' : 'X');
    };
    QElapsedTimer clock;
    clock.start();
    {
        SqlTransaction transaction(*m_db, SqlTransaction::Kind::Write);
        auto rows = m_db->insertRows(
            "T_LINES", {"NRSEQARQMAG", "NRORDREGARQ", "NRLISTA", "DSREGARQMAG", "SQUENCIAL"});
        for (int n = 1; n <= kRows; ++n) {
            rows->addText("1");
            rows->addInteger(n);
            rows->addText("7");
            rows->addText(lineOf(n));
            rows->addInteger(n + 1);
            rows->endRow();
        }
        rows->finish();
        transaction.commit();
    }
    const qint64 ms = clock.elapsed();
    qDebug("insertRows: %d rows of 126 characters in %lld ms (%.0f rows/s)", kRows, ms,
           kRows * 1000.0 / double(std::max<qint64>(ms, 1)));
    QCOMPARE(countRows(*m_db, "T_LINES"), kRows);
    QCOMPARE(firstValue(*m_db, "SELECT SUM(SQUENCIAL) FROM T_LINES"),
             QString::number(qint64(kRows) * (kRows + 3) / 2));
    SqlStatement q(*m_db, "SELECT DSREGARQMAG FROM T_LINES WHERE NRSEQARQMAG = '1' AND"
                          " NRORDREGARQ = ?1");
    q.bind(1, 123456);
    QVERIFY(q.step());
    QCOMPARE(q.utf8(0).toByteArray(), lineOf(123456));
}

void TestFirebirdConnection::writeNeedsLockTable()
{
    const DropAtEnd database{serverTarget("nolock")};
    createFirebirdDatabase(database.target);
    auto db = openDatabase(database.target);
    try {
        db->begin(SqlConnection::TransactionKind::Write);
        QFAIL("a write transaction began without TRAVACOMPRALEG");
    } catch (const DatabaseError &e) {
        QVERIFY2(e.message().contains(u"falta a tabela TRAVACOMPRALEG"), qPrintable(e.message()));
    }
    db->exec("CREATE TABLE TRAVACOMPRALEG (ID INTEGER NOT NULL PRIMARY KEY)");
    try {
        db->begin(SqlConnection::TransactionKind::Write);
        QFAIL("a write transaction began without the row to lock");
    } catch (const DatabaseError &e) {
        QVERIFY2(e.message().contains(u"linha de ID 1"), qPrintable(e.message()));
    }
    db->exec("INSERT INTO TRAVACOMPRALEG (ID) VALUES (1)");
    db->begin(SqlConnection::TransactionKind::Write);
    db->commit();
    db.reset();
}

void TestFirebirdConnection::openFailureHidesPassword_data()
{
    QTest::addColumn<bool>("wrongPassword");
    QTest::addColumn<QString>("firebirdText");

    QTest::newRow("wrong password") << true << u"password"_qs;
    QTest::newRow("no such database") << false << u"I/O error"_qs;
}

void TestFirebirdConnection::openFailureHidesPassword()
{
    QFETCH(bool, wrongPassword);
    QFETCH(QString, firebirdText);
    DatabaseTarget target = m_target;
    QString password;
    if (wrongPassword) {
        password = u"Wr0ng-Secret-7391"_qs;
        qputenv("FIS_TST_FB_WRONG_PASSWORD", password.toUtf8());
        target.passwordFile.clear();
        target.passwordEnv = u"FIS_TST_FB_WRONG_PASSWORD"_qs;
    } else {
        password = target.password();
        target.database += u".missing"_qs;
    }
    QVERIFY(!password.isEmpty());
    try {
        openDatabase(target);
        QFAIL("the database opened");
    } catch (const DatabaseError &e) {
        const QString all = e.message() + u'\n' + e.detail() + u'\n' + QString::fromUtf8(e.what());
        QVERIFY2(!all.contains(password), qPrintable(all));
        QVERIFY2(
            e.message().startsWith(u"Não foi possível abrir o banco de dados " + target.toString()),
            qPrintable(e.message()));
        QVERIFY2(e.detail().contains(firebirdText, Qt::CaseInsensitive), qPrintable(e.detail()));
    }
}

void TestFirebirdConnection::brokenConnection_data()
{
    QTest::addColumn<bool>("networkCut");

    QTest::newRow("attachment killed on the server") << false;
    QTest::newRow("network cut") << true;
}

void TestFirebirdConnection::brokenConnection()
{
    QFETCH(bool, networkCut);
    ensureTable(*m_db, "T_BROKEN", "CREATE TABLE T_BROKEN (ID INTEGER)");
    DatabaseTarget target = m_target;
    std::unique_ptr<TcpRelay> relay;
    if (networkCut) {
        relay = std::make_unique<TcpRelay>(m_target.effectivePort());
        target.port = relay->port();
    }
    auto db = openDatabase(target);
    {
        SqlStatement before(*db, "SELECT COUNT(*) FROM T_BROKEN");
        QVERIFY(before.step());
        before.reset();
        if (networkCut) {
            relay->cut();
        } else {
            SqlStatement kill(*m_db, "DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = ?1");
            kill.bind(1,
                      firstValue(*db, "SELECT CURRENT_CONNECTION FROM RDB$DATABASE").toLongLong());
            kill.execute();
        }
        QVERIFY_THROWS_EXCEPTION(DatabaseError, before.step());
        QVERIFY_THROWS_EXCEPTION(DatabaseError, SqlStatement(*db, "SELECT 1 FROM RDB$DATABASE"));
        QVERIFY_THROWS_EXCEPTION(DatabaseError, db->exec("INSERT INTO T_BROKEN (ID) VALUES (1)"));
        QVERIFY_THROWS_EXCEPTION(DatabaseError, db->begin(SqlConnection::TransactionKind::Write));
        QVERIFY_THROWS_EXCEPTION(DatabaseError, db->insertRows("T_BROKEN", {"ID"}));
        db->rollback();
    }
    db.reset();
    QCOMPARE(countRows(*m_db, "T_BROKEN"), 0);
}

TestFirebirdConnection::~TestFirebirdConnection()
{
    // Stopped by an exception before cleanupTestCase(): the database goes all the same.
    m_db.reset();
    if (m_created) {
        try {
            dropFirebirdDatabase(m_target);
        } catch (const DatabaseError &e) {
            qWarning("could not drop %s: %s", qPrintable(m_target.database), e.what());
        }
    }
}

// As QTEST_GUILESS_MAIN, except that an exception escaping a test ends the program through the
// test object's destructor, which drops the database.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TestFirebirdConnection test;
    QTEST_SET_MAIN_SOURCE_PATH
    try {
        return QTest::qExec(&test, argc, argv);
    } catch (const std::exception &e) {
        qCritical("the test stopped at an exception: %s", e.what());
        return 1;
    }
}
#include "tst_firebirdconnection.moc"
