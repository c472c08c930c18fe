// Which open lists a starting server gives up: those of servers that are gone, judged by the
// process table on this machine and by the heartbeat elsewhere; never a running server's.
#include "demodata.h"
#include "server/exportlists.h"
#include "sqldb/sqliteconnection.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

using namespace fis;

namespace {

constexpr qint64 kLeaseMs = 60000;

QString text(SqliteConnection &db, const char *sql, const QString &bind = {})
{
    SqlStatement q(db, sql);
    if (!bind.isNull())
        q.bind(1, bind);
    return q.step() ? q.text(0) : QString();
}

// A server row and an open list whose last call was on it, holding one invoice it marked.
void serverWithList(SqliteConnection &db, const QString &server, const QString &machine,
                    const QString &boot, qint64 pid, qint64 started, qint64 heartbeat,
                    const QString &list, const QString &branch, const QString &posting,
                    const char *state = "A")
{
    if (!server.isEmpty()) {
        SqlStatement s(db, "INSERT INTO SERVCOMPRALEG VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
        s.bind(1, server);
        s.bind(2, machine);
        s.bind(3, boot);
        s.bind(4, pid);
        s.bind(5, started);
        s.bind(6, heartbeat);
        s.execute();
    }
    SqlStatement l(db, "INSERT INTO LISTACOMPRALEG VALUES (?1, '2025-05-20 10:00:00',"
                       " 'someone', ?2, ?3, ?4)");
    l.bind(1, list);
    l.bind(2, QString::fromLatin1(state));
    l.bind(3, exportlists::now());
    if (server.isEmpty())
        l.bindNull(4);
    else
        l.bind(4, server);
    l.execute();
    SqlStatement reg(db, "SELECT CDINSCESTA FROM NFCOMPRA WHERE CDFILIAL = ?1 AND"
                         " NRLANCTONF = ?2");
    reg.bind(1, branch);
    reg.bind(2, posting);
    QVERIFY(reg.step());
    const QString registration = reg.text(0);
    reg.reset();
    SqlStatement f(db, "INSERT INTO ARQCOMPRALEG VALUES (?1, ?1, '01', ?2, 'BA', '0001', 10,"
                       " ?3, NULL)");
    f.bind(1, list);
    f.bind(2, registration);
    f.bind(3, QString::fromLatin1(*state == 'E' ? "S" : "N"));
    f.execute();
    SqlStatement n(db, "INSERT INTO LISTACOMPRALEGNF VALUES (?1, ?2 || ?3, ?4, ?2, ?3, 'N')");
    n.bind(1, list);
    n.bind(2, branch);
    n.bind(3, posting);
    n.bind(4, registration);
    n.execute();
    SqlStatement mark(db, "UPDATE NFCOMPRA SET IDNFCOMPRALEG = 'S' WHERE CDFILIAL = ?1 AND"
                          " NRLANCTONF = ?2");
    mark.bind(1, branch);
    mark.bind(2, posting);
    mark.execute();
}

} // namespace

class TestServerRegistry : public QObject
{
    Q_OBJECT

private slots:
    void startingServerGivesUpWhatTheDeadLeft();
};

void TestServerRegistry::startingServerGivesUpWhatTheDeadLeft()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("host.sqlite"));
    generateDemoDatabase(path, 60);
    SqliteConnection db(path, 1000);
    exportlists::ServerRegistry registry(db, kLeaseMs);
    registry.enroll();
    // This process's own row tells how the registry names this machine and boot.
    const QString machine =
        text(db, "SELECT CDMAQUINA FROM SERVCOMPRALEG WHERE CDSERVIDOR = ?1", registry.id());
    const QString boot =
        text(db, "SELECT CDBOOT FROM SERVCOMPRALEG WHERE CDSERVIDOR = ?1", registry.id());
    const qint64 started =
        text(db, "SELECT NRINICIOPROC FROM SERVCOMPRALEG WHERE CDSERVIDOR = ?1", registry.id())
            .toLongLong();
    QVERIFY(!machine.isEmpty());
    QVERIFY(started > 0);

    QStringList postings;
    {
        SqlStatement q(db, "SELECT NRLANCTONF FROM NFCOMPRA WHERE CDFILIAL = '0001'"
                           " ORDER BY NRLANCTONF LIMIT 7");
        while (q.step())
            postings << q.text(0);
    }
    QCOMPARE(postings.size(), 7);
    const qint64 pid = QCoreApplication::applicationPid();
    const qint64 now = exportlists::now();
    {
        SqlTransaction tx(db, SqlTransaction::Kind::Write);
        // Alive: this very process, seen as another server.
        serverWithList(db, "running", machine, boot, pid, started, now, "L1", "0001", postings[0]);
        // Gone: no such process here, or the process number was taken by another one, or the
        // machine was restarted since.
        serverWithList(db, "vanished", machine, boot, 999999999, started, now, "L2", "0001",
                       postings[1]);
        serverWithList(db, "reused", machine, boot, pid, started + 1, now, "L3", "0001",
                       postings[2]);
        serverWithList(db, "rebooted", machine, "another boot", pid, started, now, "L4", "0001",
                       postings[3]);
        // Elsewhere: by the heartbeat.
        serverWithList(db, "far", "other machine", "b", pid, started, now, "L5", "0001",
                       postings[4]);
        serverWithList(db, "silent", "other machine", "b", pid, started, now - 2 * kLeaseMs, "L6",
                       "0001", postings[5]);
        // Delivered lists are not the registry's business, whoever served them.
        serverWithList(db, "", machine, boot, 0, 0, 0, "L7", "0001", postings[6], "E");
        tx.commit();
    }

    const exportlists::Outcome outcome = registry.recover();
    QStringList reverted = outcome.reverted;
    reverted.sort();
    QCOMPARE(reverted, (QStringList{"L2", "L3", "L4", "L6"}));
    const auto flag = [&](const QString &posting) {
        return text(db,
                    "SELECT IDNFCOMPRALEG FROM NFCOMPRA WHERE CDFILIAL = '0001' AND"
                    " NRLANCTONF = ?1",
                    posting);
    };
    QStringList flags;
    for (int i = 0; i < 7; ++i)
        flags << flag(postings[i]);
    QCOMPARE(flags, (QStringList{"S", "N", "N", "N", "S", "N", "S"}));
    QStringList servers;
    {
        SqlStatement q(db, "SELECT CDSERVIDOR FROM SERVCOMPRALEG ORDER BY 1");
        while (q.step())
            servers << q.text(0);
    }
    QStringList alive = {"far", "running", registry.id()};
    alive.sort();
    QCOMPARE(servers, alive);
    QCOMPARE(text(db, "SELECT group_concat(NRLISTA) FROM (SELECT NRLISTA FROM LISTACOMPRALEG"
                      " ORDER BY 1)"),
             QStringLiteral("L1,L5,L7"));
}

QTEST_GUILESS_MAIN(TestServerRegistry)
#include "tst_serverregistry.moc"
