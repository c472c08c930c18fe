#include "server/serverworker.h"

#include "server/appserver.h"
#include "server/compralegalservice.h"
#include "server/serverjanitor.h"
#include "sqldb/sqliteconnection.h"

#include <QThread>

namespace fis {

ServerWorker::ServerWorker(const ServerConfig &config, ServerJanitor *janitor, QString serverId,
                           std::shared_ptr<PendingBytes> pending)
    : m_config(config)
    , m_janitor(janitor)
    , m_serverId(std::move(serverId))
{
    m_settings.pending = std::move(pending);
}

ServerWorker::~ServerWorker() = default;

QString ServerWorker::open()
{
    try {
        m_db = openSqlDatabase(m_config.target(), {m_config.busyTimeoutMs});
    } catch (const Error &e) {
        return e.message();
    }
    ServerJanitor *janitor = m_janitor;
    if (janitor)
        if (auto *sqlite = dynamic_cast<SqliteConnection *>(m_db.get()))
            sqlite->checkpointElsewhere([janitor] { janitor->requestCheckpoint(); });
    m_service = std::make_unique<CompraLegalService>(*m_db, m_config, m_serverId, [janitor] {
        if (janitor)
            janitor->requestPurge();
    });
    m_service->registerMethods(m_methods);

    m_settings.methods = &m_methods;
    m_settings.idleTimeout = m_config.idleTimeoutSecs * 1000;
    m_settings.frameTimeout = m_config.frameTimeoutSecs * 1000;
    m_settings.maxFrameSize = m_config.maxFrameSize;
    m_settings.maxRequestSize = m_config.maxRequestSize;
    m_settings.clients = m_config.clients;
    m_settings.tls = m_config.tls;
    m_settings.logger = [](const RpcCallRecord &record) {
        logServerLine(record.toLogLine());
    };
    // Away from this thread: settling a session's lists may wait for another writer.
    m_settings.sessionEnded = [janitor](const QString &session) {
        if (janitor)
            QMetaObject::invokeMethod(
                janitor, [janitor, session] { janitor->sessionEnded(session); },
                Qt::QueuedConnection);
    };
    return {};
}

void ServerWorker::adopt(qintptr descriptor, std::function<void()> ended)
{
    m_clients.fetch_add(1, std::memory_order_relaxed);
    auto *session = new RpcSession(descriptor, m_settings, this);
    logServerLine(
        QStringLiteral("%1 connected on %2").arg(session->peer(), thread()->objectName()));
    connect(session, &RpcSession::finished, this, [this, ended = std::move(ended)] {
        m_clients.fetch_sub(1, std::memory_order_relaxed);
        if (ended)
            ended();
    });
    // The listener reads these to send new clients to a worker that is not stuck in a long call.
    // The janitor waits for the calls to pause before it deletes served lines or copies the log.
    ServerJanitor *janitor = m_janitor;
    connect(session, &RpcSession::callStarted, this, [this, janitor] {
        m_running.fetch_add(1, std::memory_order_relaxed);
        if (janitor)
            janitor->callStarted();
    });
    connect(session, &RpcSession::callFinished, this, [this, janitor] {
        m_running.fetch_sub(1, std::memory_order_relaxed);
        if (janitor)
            janitor->callFinished();
    });
}

void ServerWorker::shutdown()
{
    const QList<RpcSession *> sessions = findChildren<RpcSession *>();
    for (RpcSession *s : sessions)
        s->drop();
    m_service.reset();
    m_db.reset();
}

} // namespace fis
