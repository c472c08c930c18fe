#include "server/serverjanitor.h"

#include "server/appserver.h"
#include "server/exportlists.h"
#include "sqldb/sqliteconnection.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <chrono>

namespace fis {

namespace {

constexpr qint64 kSlice = 50000;
// Served lines are deleted, and the log copied, once the calls pause this long: each commit of
// ours makes a worker read its kept invoice list anew, where it would otherwise only set the
// flags it marked, and a copy of the log alongside a build takes a core the build needs. An
// export's calls follow each other within a fraction of this; a long build is one call.
constexpr int kCallPauseMs = 1000;
// ... but not later than this after they were asked for, however busy the server.
constexpr qint64 kLongestWaitMs = 10000;

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void logLines(const QStringList &lines)
{
    for (const QString &line : lines)
        logServerLine(line);
}

} // namespace

ServerJanitor::ServerJanitor(const ServerConfig &config)
    : m_config(config)
{
    m_timer.setParent(this);
    connect(&m_timer, &QTimer::timeout, this, &ServerJanitor::tick);
    m_purgeLater.work = &ServerJanitor::purge;
    m_checkpointLater.work = &ServerJanitor::checkpoint;
    for (AfterCalls *job : {&m_purgeLater, &m_checkpointLater}) {
        job->later.setParent(this);
        job->later.setSingleShot(true);
        connect(&job->later, &QTimer::timeout, this, [this, job] { runWhenCallsPause(*job); });
    }
}

ServerJanitor::~ServerJanitor() = default;

QString ServerJanitor::open()
{
    const qint64 leaseMs = qint64(m_config.leaseSecs) * 1000;
    try {
        m_db = openSqlDatabase(m_config.target(), {m_config.busyTimeoutMs});
        // Our own commits (deleting served lines, above all) leave the copy to the same wait.
        if (auto *sqlite = dynamic_cast<SqliteConnection *>(m_db.get()))
            sqlite->checkpointElsewhere([this] { requestCheckpoint(); });
        m_registry = std::make_unique<exportlists::ServerRegistry>(*m_db, leaseMs);
        m_registry->enroll();
        logLines(exportlists::describe(m_registry->recover(),
                                       QStringLiteral("its server is no longer running")));
        logLines(exportlists::describe(exportlists::expire(*m_db, leaseMs),
                                       QStringLiteral("no call within the lease")));
    } catch (const Error &e) {
        m_registry.reset();
        m_db.reset();
        return e.message();
    }
    // Often enough that a list is given up soon after its lease; the heartbeat rides along.
    m_timer.start(int(std::clamp<qint64>(leaseMs / 4, 250, 30000)));
    return {};
}

QString ServerJanitor::serverId() const
{
    return m_registry ? m_registry->id() : QString();
}

void ServerJanitor::close()
{
    m_timer.stop();
    if (m_registry) {
        try {
            m_registry->withdraw();
        } catch (const DatabaseError &e) {
            logServerLine(QStringLiteral("leaving the server registry failed: ") + e.message());
        }
    }
    m_registry.reset();
    m_db.reset();
}

void ServerJanitor::tick()
{
    if (!m_db || m_stop.load())
        return;
    try {
        m_registry->heartbeat();
        const exportlists::Outcome expired =
            exportlists::expire(*m_db, qint64(m_config.leaseSecs) * 1000);
        logLines(exportlists::describe(expired, QStringLiteral("no call within the lease")));
        if (!expired.finalized.isEmpty())
            purge();
    } catch (const DatabaseError &e) {
        // Busy with a long build elsewhere, most likely: the next tick tries again.
        logServerLine(QStringLiteral("list upkeep failed: ") + e.message());
    }
}

void ServerJanitor::sessionEnded(const QString &session)
{
    if (!m_db || m_stop.load())
        return;
    try {
        const exportlists::Outcome settled = exportlists::endSession(*m_db, session);
        logLines(exportlists::describe(settled, QStringLiteral("its client disconnected")));
        if (!settled.finalized.isEmpty())
            purge();
    } catch (const DatabaseError &e) {
        // Left to the lease.
        logServerLine(QStringLiteral("settling a session's lists failed: ") + e.message());
    }
}

void ServerJanitor::requestPurge()
{
    waitForCallsToPause(m_purgeLater);
}

void ServerJanitor::requestCheckpoint()
{
    // Every commit past the log's threshold asks: one request crosses threads at a time.
    if (!m_checkpointQueued.exchange(true))
        waitForCallsToPause(m_checkpointLater);
}

void ServerJanitor::waitForCallsToPause(AfterCalls &job)
{
    QMetaObject::invokeMethod(
        this,
        [this, &job] {
            if (job.wanted >= 0)
                return; // taken along
            job.wanted = nowMs();
            job.later.start(kCallPauseMs);
        },
        Qt::QueuedConnection);
}

void ServerJanitor::callStarted() noexcept
{
    m_callsRunning.fetch_add(1);
}

void ServerJanitor::callFinished() noexcept
{
    m_lastCallEnd.store(nowMs());
    m_callsRunning.fetch_sub(1);
}

void ServerJanitor::runWhenCallsPause(AfterCalls &job)
{
    const qint64 now = nowMs();
    const qint64 pause = now - m_lastCallEnd.load();
    const bool running = m_callsRunning.load() > 0;
    if (running || pause < kCallPauseMs) {
        const qint64 waited = now - job.wanted;
        // Past the longest wait, between two calls rather than alongside one (a build's writes
        // would wait for ours); past twice that, in any case.
        if (waited < kLongestWaitMs) {
            job.later.start(running
                                ? kCallPauseMs
                                : int(std::clamp<qint64>(kCallPauseMs - pause, 50, kCallPauseMs)));
            return;
        }
        if (running && waited < 2 * kLongestWaitMs) {
            job.later.start(20);
            return;
        }
    }
    job.wanted = -1;
    (this->*job.work)();
}

void ServerJanitor::checkpoint()
{
    m_checkpointQueued.store(false);
    if (!m_db || m_stop.load())
        return;
    try {
        // Only SQLite keeps a write-ahead log for the server to copy.
        if (auto *sqlite = dynamic_cast<SqliteConnection *>(m_db.get()))
            sqlite->checkpoint();
    } catch (const DatabaseError &e) {
        logServerLine(QStringLiteral("checkpoint failed: ") + e.message());
    }
}

void ServerJanitor::purge()
{
    if (!m_db)
        return;
    if (m_purging) {
        m_again = true;
        return;
    }
    m_purging = true;
    try {
        do {
            m_again = false;
            QStringList files;
            {
                SqlStatement q(*m_db, "SELECT A.NRSEQARQMAG FROM ARQCOMPRALEG A"
                                      " WHERE A.IDSERVIDO IN ('S', 'E') AND EXISTS (SELECT 1 FROM"
                                      " BLOCOARQCOMPRALEG B WHERE B.NRSEQARQMAG = A.NRSEQARQMAG)");
                while (q.step())
                    files << q.text(0);
            }
            for (const QString &file : std::as_const(files)) {
                const qint64 deleted = purgeFile(file);
                logServerLine(
                    QStringLiteral("deleted %1 served lines of file %2").arg(deleted).arg(file));
            }
        } while (m_again && !m_stop.load());
    } catch (const DatabaseError &e) {
        logServerLine(QStringLiteral("deleting served lines failed: ") + e.message());
    }
    m_purging = false;
}

qint64 ServerJanitor::purgeFile(const QString &file)
{
    // Blocks by the number of their first line, kSlice lines a transaction; only while the file
    // is still served (a rebuild sets it back to 'N').
    constexpr char kServed[] = " FROM BLOCOARQCOMPRALEG WHERE NRSEQARQMAG = ?1 AND NRORDREGARQ"
                               " < ?2 AND EXISTS (SELECT 1 FROM ARQCOMPRALEG WHERE"
                               " NRSEQARQMAG = ?1 AND IDSERVIDO IN ('S', 'E'))";
    SqlStatement lines(*m_db,
                       QByteArray(QByteArray("SELECT coalesce(sum(NRLINHAS), 0)") + kServed));
    SqlStatement slice(*m_db, QByteArray(QByteArray("DELETE") + kServed));
    SqlStatement left(*m_db, "SELECT 1 FROM BLOCOARQCOMPRALEG WHERE NRSEQARQMAG = ?1"
                             " AND NRORDREGARQ >= ?2");
    qint64 deleted = 0;
    for (qint64 below = kSlice + 1; !m_stop.load(); below += kSlice) {
        SqlTransaction tx(*m_db, SqlTransaction::Kind::Write);
        lines.bind(1, file);
        lines.bind(2, below);
        const qint64 n = lines.step() ? lines.integer(0) : 0;
        lines.reset();
        slice.bind(1, file);
        slice.bind(2, below);
        slice.execute();
        tx.commit();
        deleted += n;
        left.bind(1, file);
        left.bind(2, below);
        const bool more = left.step();
        left.reset();
        if (!more)
            break;
    }
    return deleted;
}

} // namespace fis
