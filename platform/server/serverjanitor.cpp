#include "server/linejanitor.h"

#include "server/appserver.h"
#include "server/sqliteconnection.h"

#include <QCoreApplication>
#include <QStringList>

namespace fis {

namespace {

constexpr qint64 kSlice = 50000;

} // namespace

LineJanitor::LineJanitor(const ServerConfig &config)
    : m_config(config)
{}

LineJanitor::~LineJanitor() = default;

QString LineJanitor::open()
{
    try {
        m_db = std::make_unique<SqliteConnection>(m_config.database, m_config.busyTimeoutMs);
    } catch (const DatabaseError &e) {
        return e.message();
    }
    return {};
}

void LineJanitor::close()
{
    m_db.reset();
}

void LineJanitor::requestCheckpoint()
{
    if (m_checkpointQueued.exchange(true))
        return;
    QMetaObject::invokeMethod(this, [this] { checkpoint(); }, Qt::QueuedConnection);
}

void LineJanitor::checkpoint()
{
    m_checkpointQueued.store(false);
    if (!m_db || m_stop.load())
        return;
    try {
        m_db->checkpoint();
    } catch (const DatabaseError &e) {
        logServerLine(QStringLiteral("checkpoint failed: ") + e.message());
    }
}

void LineJanitor::purge()
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
                SqliteStatement q(*m_db, "SELECT A.NRSEQARQMAG FROM ARQCOMPRALEG A"
                                         " WHERE A.IDSERVIDO = 'S' AND EXISTS (SELECT 1 FROM"
                                         " REGARQCOMPRALEG R WHERE R.NRSEQARQMAG = A.NRSEQARQMAG)");
                while (q.step())
                    files << q.text(0);
            }
            SqliteStatement slice(*m_db, "DELETE FROM REGARQCOMPRALEG WHERE NRSEQARQMAG = ?1"
                                         " AND NRORDREGARQ < ?2 AND EXISTS (SELECT 1 FROM"
                                         " ARQCOMPRALEG WHERE NRSEQARQMAG = ?1 AND"
                                         " IDSERVIDO = 'S')");
            for (const QString &file : std::as_const(files)) {
                qint64 deleted = 0;
                for (qint64 below = kSlice + 1; !m_stop.load(); below += kSlice) {
                    SqliteTransaction tx(*m_db, SqliteTransaction::Kind::Write);
                    slice.bind(1, file);
                    slice.bind(2, below);
                    const int n = slice.execute();
                    tx.commit();
                    deleted += n;
                    SqliteStatement left(*m_db, "SELECT 1 FROM REGARQCOMPRALEG WHERE"
                                                " NRSEQARQMAG = ?1 AND NRORDREGARQ >= ?2");
                    left.bind(1, file);
                    left.bind(2, below);
                    if (!left.step())
                        break;
                }
                logServerLine(
                    QStringLiteral("deleted %1 served lines of file %2").arg(deleted).arg(file));
            }
        } while (m_again && !m_stop.load());
    } catch (const DatabaseError &e) {
        logServerLine(QStringLiteral("deleting served lines failed: ") + e.message());
    }
    m_purging = false;
}

} // namespace fis
