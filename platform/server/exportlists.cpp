#include "server/exportlists.h"

#include "sqldb/sqldatabase.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSysInfo>

namespace fis::exportlists {

namespace {

// When the process `pid` started, in clock ticks since boot (field 22 of /proc/PID/stat); -1
// when there is no such process, or only its corpse (a zombie its parent has not reaped).
qint64 processStart(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The command name in parentheses may hold blanks; the fields count from after it.
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    constexpr int kState = 3 - 3;
    constexpr int kStartTime = 22 - 3;
    if (fields.size() <= kStartTime || fields.at(kState) == "Z" || fields.at(kState) == "X")
        return -1;
    bool ok = false;
    const qint64 ticks = fields.at(kStartTime).toLongLong(&ok);
    return ok ? ticks : -1;
}

// Where process numbers mean the same: the machine and its process namespace, so that servers in
// containers that share a machine id are not judged by each other's process tables.
QString machineId()
{
    const QByteArray id = QSysInfo::machineUniqueId();
    const QString machine = id.isEmpty() ? QSysInfo::machineHostName() : QString::fromLatin1(id);
    return machine + u'/' +
           QFileInfo(QStringLiteral("/proc/self/ns/pid")).symLinkTarget().section(u'/', -1);
}

QString bootId()
{
    return QString::fromLatin1(QSysInfo::bootUniqueId());
}

QStringList column(SqlConnection &db, const char *sql, const QString &bind = {})
{
    SqlStatement q(db, sql);
    if (!bind.isNull())
        q.bind(1, bind);
    QStringList values;
    while (q.step())
        values << q.text(0);
    return values;
}

void runForList(SqlConnection &db, const char *sql, const QString &number)
{
    SqlStatement q(db, sql);
    q.bind(1, number);
    q.execute();
}

// A list's state, read inside the caller's transaction; empty when it is gone.
QString stateOf(SqlConnection &db, const QString &number)
{
    SqlStatement q(db, "SELECT IDSITUACAO FROM LISTACOMPRALEG WHERE NRLISTA = ?1");
    q.bind(1, number);
    return q.step() ? q.text(0) : QString();
}

} // namespace

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

std::optional<OwnedList> findOwned(SqlConnection &db, const QString &number, const QString &session)
{
    SqlStatement q(db, "SELECT IDSITUACAO FROM LISTACOMPRALEG WHERE NRLISTA = ?1"
                       " AND CDSESSAO = ?2");
    q.bind(1, number);
    q.bind(2, session);
    if (!q.step())
        return std::nullopt;
    return OwnedList{number, q.text(0)};
}

void touch(SqlConnection &db, const QString &number, const QString &server)
{
    SqlStatement q(db, "UPDATE LISTACOMPRALEG SET DTATIVIDADE = ?1, CDSERVIDOR = ?2"
                       " WHERE NRLISTA = ?3");
    q.bind(1, now());
    q.bind(2, server);
    q.bind(3, number);
    q.execute();
}

qint64 revert(SqlConnection &db, const QString &number)
{
    // Only flags this list set are put back: an invoice whose flag someone changed since keeps
    // the change.
    // Firebird has no UPDATE ... FROM; its MERGE drives from the list the same way.
    constexpr char kBackFrom[] = "UPDATE NFCOMPRA SET IDNFCOMPRALEG = L.IDNFCOMPRALEGANT"
                                 " FROM LISTACOMPRALEGNF L JOIN ARQCOMPRALEG A"
                                 " ON A.NRLISTA = L.NRLISTA AND A.CDINSCESTA = L.CDINSCESTA"
                                 " WHERE L.NRLISTA = ?1 AND A.IDSERVIDO IN ('N', 'S')"
                                 " AND L.IDNFCOMPRALEGANT IS NOT NULL"
                                 " AND NFCOMPRA.CDFILIAL = L.CDFILIAL"
                                 " AND NFCOMPRA.NRLANCTONF = L.NRLANCTONF"
                                 " AND NFCOMPRA.IDNFCOMPRALEG = 'S'";
    SqlStatement back(db, sqlFor(db, {kBackFrom, kBackFrom,
                                      "MERGE INTO NFCOMPRA N USING (SELECT L.CDFILIAL,"
                                      " L.NRLANCTONF, L.IDNFCOMPRALEGANT FROM LISTACOMPRALEGNF L"
                                      " JOIN ARQCOMPRALEG A ON A.NRLISTA = L.NRLISTA"
                                      " AND A.CDINSCESTA = L.CDINSCESTA WHERE L.NRLISTA = ?1"
                                      " AND A.IDSERVIDO IN ('N', 'S')"
                                      " AND L.IDNFCOMPRALEGANT IS NOT NULL) B"
                                      " ON N.CDFILIAL = B.CDFILIAL AND N.NRLANCTONF = B.NRLANCTONF"
                                      " AND N.IDNFCOMPRALEG = 'S'"
                                      " WHEN MATCHED THEN UPDATE SET IDNFCOMPRALEG ="
                                      " B.IDNFCOMPRALEGANT"}));
    back.bind(1, number);
    const qint64 reverted = back.execute();
    for (const char *sql : {"DELETE FROM BLOCOARQCOMPRALEG WHERE NRSEQARQMAG IN"
                            " (SELECT NRSEQARQMAG FROM ARQCOMPRALEG WHERE NRLISTA = ?1)",
                            "DELETE FROM ARQCOMPRALEG WHERE NRLISTA = ?1",
                            "DELETE FROM LISTACOMPRALEGNF WHERE NRLISTA = ?1",
                            "DELETE FROM LISTACOMPRALEG WHERE NRLISTA = ?1"})
        runForList(db, sql, number);
    return reverted;
}

void finalize(SqlConnection &db, const QString &number)
{
    // The lines of the files go with the janitor's next purge.
    runForList(db, "UPDATE ARQCOMPRALEG SET IDSERVIDO = 'E' WHERE NRLISTA = ?1", number);
    runForList(db, "DELETE FROM LISTACOMPRALEGNF WHERE NRLISTA = ?1", number);
    SqlStatement q(db, "UPDATE LISTACOMPRALEG SET IDSITUACAO = 'F', DTATIVIDADE = ?1"
                       " WHERE NRLISTA = ?2");
    q.bind(1, now());
    q.bind(2, number);
    q.execute();
}

QStringList describe(const Outcome &outcome, const QString &why)
{
    QStringList lines;
    for (const QString &number : outcome.reverted)
        lines << QStringLiteral("list %1 undone: %2").arg(number, why);
    for (const QString &number : outcome.finalized)
        lines << QStringLiteral("list %1 final: %2").arg(number, why);
    return lines;
}

namespace {

// A list no one will go on with: final when it was delivered, undone when it was open.
void settle(SqlConnection &db, const QString &number, const QString &state, Outcome &outcome)
{
    if (state == QLatin1String(kDelivered)) {
        finalize(db, number);
        outcome.finalized << number;
    } else {
        revert(db, number);
        outcome.reverted << number;
    }
}

} // namespace

Outcome closeSession(SqlConnection &db, const QString &session)
{
    Outcome outcome;
    SqlStatement q(db, "SELECT NRLISTA, IDSITUACAO FROM LISTACOMPRALEG WHERE CDSESSAO = ?1"
                       " AND IDSITUACAO IN ('A', 'E')");
    q.bind(1, session);
    QList<std::pair<QString, QString>> lists;
    while (q.step())
        lists.append({q.text(0), q.text(1)});
    q.reset();
    for (const auto &[number, state] : std::as_const(lists))
        settle(db, number, state, outcome);
    return outcome;
}

Outcome endSession(SqlConnection &db, const QString &session)
{
    Outcome outcome;
    SqlTransaction tx(db, SqlTransaction::Kind::Write);
    const QStringList delivered = column(db,
                                         "SELECT NRLISTA FROM LISTACOMPRALEG WHERE CDSESSAO = ?1"
                                         " AND IDSITUACAO = 'E'",
                                         session);
    for (const QString &number : delivered)
        settle(db, number, QLatin1String(kDelivered), outcome);
    const QStringList empty = column(db,
                                     "SELECT NRLISTA FROM LISTACOMPRALEG L WHERE CDSESSAO = ?1"
                                     " AND IDSITUACAO = 'A' AND NOT EXISTS (SELECT 1 FROM"
                                     " ARQCOMPRALEG A WHERE A.NRLISTA = L.NRLISTA)",
                                     session);
    for (const QString &number : empty)
        settle(db, number, QLatin1String(kOpen), outcome);
    tx.commit();
    return outcome;
}

Outcome expire(SqlConnection &db, qint64 leaseMs)
{
    Outcome outcome;
    const auto stale = [&] {
        return now() - leaseMs;
    };
    QStringList candidates;
    {
        SqlStatement q(db, "SELECT NRLISTA FROM LISTACOMPRALEG WHERE IDSITUACAO IN ('A', 'E')"
                           " AND (DTATIVIDADE IS NULL OR DTATIVIDADE < ?1)");
        q.bind(1, stale());
        while (q.step())
            candidates << q.text(0);
    }
    for (const QString &number : std::as_const(candidates)) {
        SqlTransaction tx(db, SqlTransaction::Kind::Write);
        SqlStatement q(db, "SELECT IDSITUACAO FROM LISTACOMPRALEG WHERE NRLISTA = ?1"
                           " AND IDSITUACAO IN ('A', 'E')"
                           " AND (DTATIVIDADE IS NULL OR DTATIVIDADE < ?2)");
        q.bind(1, number);
        q.bind(2, stale());
        if (!q.step())
            continue; // touched or closed meanwhile
        const QString state = q.text(0);
        q.reset();
        settle(db, number, state, outcome);
        tx.commit();
    }
    return outcome;
}

ServerRegistry::ServerRegistry(SqlConnection &db, qint64 leaseMs)
    : m_db(db)
    , m_leaseMs(leaseMs)
{
    quint32 words[2];
    QRandomGenerator::system()->fillRange(words);
    m_id = QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(words), sizeof(words)).toHex());
}

void ServerRegistry::enroll()
{
    const qint64 pid = QCoreApplication::applicationPid();
    SqlTransaction tx(m_db, SqlTransaction::Kind::Write);
    SqlStatement q(m_db, sqlFor(m_db, {"INSERT OR REPLACE INTO SERVCOMPRALEG (CDSERVIDOR,"
                                       " CDMAQUINA, CDBOOT, NRPROCESSO, NRINICIOPROC, DTBATIMENTO)"
                                       " VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
                                       "INSERT INTO SERVCOMPRALEG (CDSERVIDOR, CDMAQUINA, CDBOOT,"
                                       " NRPROCESSO, NRINICIOPROC, DTBATIMENTO) VALUES (?1, ?2,"
                                       " ?3, ?4, ?5, ?6) ON CONFLICT (CDSERVIDOR) DO UPDATE SET"
                                       " CDMAQUINA = EXCLUDED.CDMAQUINA, CDBOOT = EXCLUDED.CDBOOT,"
                                       " NRPROCESSO = EXCLUDED.NRPROCESSO, NRINICIOPROC ="
                                       " EXCLUDED.NRINICIOPROC, DTBATIMENTO = EXCLUDED.DTBATIMENTO",
                                       "UPDATE OR INSERT INTO SERVCOMPRALEG (CDSERVIDOR, CDMAQUINA,"
                                       " CDBOOT, NRPROCESSO, NRINICIOPROC, DTBATIMENTO) VALUES (?1,"
                                       " ?2, ?3, ?4, ?5, ?6) MATCHING (CDSERVIDOR)"}));
    q.bind(1, m_id);
    q.bind(2, machineId());
    q.bind(3, bootId());
    q.bind(4, pid);
    q.bind(5, processStart(pid));
    q.bind(6, now());
    q.execute();
    tx.commit();
}

void ServerRegistry::heartbeat()
{
    int renewed = 0;
    {
        SqlTransaction tx(m_db, SqlTransaction::Kind::Write);
        SqlStatement q(m_db, "UPDATE SERVCOMPRALEG SET DTBATIMENTO = ?1 WHERE CDSERVIDOR = ?2");
        q.bind(1, now());
        q.bind(2, m_id);
        renewed = q.execute();
        tx.commit();
    }
    if (renewed == 0)
        enroll();
}

void ServerRegistry::withdraw()
{
    SqlTransaction tx(m_db, SqlTransaction::Kind::Write);
    runForList(m_db, "DELETE FROM SERVCOMPRALEG WHERE CDSERVIDOR = ?1", m_id);
    tx.commit();
}

bool ServerRegistry::isAlive(const QString &machine, const QString &boot, qint64 pid,
                             qint64 started, qint64 heartbeat) const
{
    if (machine == machineId() && started >= 0) {
        // On this machine the process table answers for certain: a restarted machine, or no
        // process with that number and start, means the server is gone.
        return boot == bootId() && processStart(pid) == started;
    }
    // Elsewhere only the heartbeat tells; a server silent for a whole lease counts as gone.
    return heartbeat >= now() - m_leaseMs;
}

Outcome ServerRegistry::recover()
{
    QStringList dead;
    {
        SqlStatement q(m_db, "SELECT CDSERVIDOR, CDMAQUINA, CDBOOT, NRPROCESSO, NRINICIOPROC,"
                             " DTBATIMENTO FROM SERVCOMPRALEG WHERE CDSERVIDOR <> ?1");
        q.bind(1, m_id);
        while (q.step()) {
            if (!isAlive(q.text(1), q.text(2), q.integer(3), q.integer(4), q.integer(5)))
                dead << q.text(0);
        }
    }
    if (!dead.isEmpty()) {
        SqlTransaction tx(m_db, SqlTransaction::Kind::Write);
        for (const QString &server : std::as_const(dead))
            runForList(m_db, "DELETE FROM SERVCOMPRALEG WHERE CDSERVIDOR = ?1", server);
        tx.commit();
    }
    // Open lists whose server is not among the living: no call on them can still be running,
    // and their client has been told its run failed.
    Outcome outcome;
    const QStringList orphans = column(m_db, "SELECT NRLISTA FROM LISTACOMPRALEG L"
                                             " WHERE IDSITUACAO = 'A' AND NOT EXISTS (SELECT 1"
                                             " FROM SERVCOMPRALEG S"
                                             " WHERE S.CDSERVIDOR = L.CDSERVIDOR)");
    for (const QString &number : orphans) {
        SqlTransaction tx(m_db, SqlTransaction::Kind::Write);
        if (stateOf(m_db, number) != QLatin1String(kOpen))
            continue;
        {
            SqlStatement q(m_db, "SELECT 1 FROM LISTACOMPRALEG L WHERE NRLISTA = ?1 AND"
                                 " EXISTS (SELECT 1 FROM SERVCOMPRALEG S"
                                 " WHERE S.CDSERVIDOR = L.CDSERVIDOR)");
            q.bind(1, number);
            if (q.step())
                continue; // a living server has taken it up meanwhile
        }
        revert(m_db, number);
        tx.commit();
        outcome.reverted << number;
    }
    return outcome;
}

} // namespace fis::exportlists
