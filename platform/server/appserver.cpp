#include "server/appserver.h"

#include "server/schemamigration.h"
#include "server/serverjanitor.h"
#include "server/serverworker.h"
#include "sqldb/sqliteconnection.h"

#include <QHostAddress>
#include <QMutex>
#include <QThread>

#include <cstdio>

namespace fis {

void logServerLine(const QString &line)
{
    static QMutex mutex;
    const QByteArray bytes = line.toUtf8() + '\n';
    QMutexLocker lock(&mutex);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

ClientListener::ClientListener(QObject *parent)
    : QTcpServer(parent)
{}

void ClientListener::incomingConnection(qintptr descriptor)
{
    // Fewest running calls first, then fewest clients; ties go round robin.
    ServerWorker *best = nullptr;
    const size_t n = m_workers.size();
    for (size_t k = 0; k < n; ++k) {
        ServerWorker *w = m_workers[(m_next + k) % n];
        if (!best || w->runningCalls() < best->runningCalls() ||
            (w->runningCalls() == best->runningCalls() && w->clients() < best->clients()))
            best = w;
    }
    m_next = (m_next + 1) % n;
    QMetaObject::invokeMethod(
        best, [best, descriptor] { best->adopt(descriptor); }, Qt::QueuedConnection);
}

ApplicationServer::ApplicationServer(const ServerConfig &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_listener(new ClientListener(this))
{}

ApplicationServer::~ApplicationServer()
{
    stop();
}

bool ApplicationServer::start()
{
    try {
        const std::unique_ptr<SqlConnection> db =
            openSqlDatabase(m_config.target(), {m_config.busyTimeoutMs});
        prepareServerSchema(*db);
    } catch (const Error &e) {
        m_error = e.message();
        return false;
    }
    m_janitorThread = std::make_unique<QThread>();
    m_janitorThread->setObjectName(QStringLiteral("janitor"));
    m_janitor = new ServerJanitor(m_config);
    m_janitor->moveToThread(m_janitorThread.get());
    connect(m_janitorThread.get(), &QThread::finished, m_janitor, &QObject::deleteLater);
    m_janitorThread->start();
    {
        QString error;
        ServerJanitor *janitor = m_janitor;
        QMetaObject::invokeMethod(
            janitor, [janitor, &error] { error = janitor->open(); }, Qt::BlockingQueuedConnection);
        if (!error.isEmpty()) {
            m_error = error;
            stop();
            return false;
        }
        // Lines a stopped process left behind of files it had served.
        QMetaObject::invokeMethod(
            janitor, [janitor] { janitor->purge(); }, Qt::QueuedConnection);
    }
    for (int i = 0; i < m_config.workers; ++i) {
        auto thread = std::make_unique<QThread>();
        thread->setObjectName(QStringLiteral("worker-%1").arg(i + 1));
        auto *worker = new ServerWorker(m_config, m_janitor, m_janitor->serverId());
        worker->moveToThread(thread.get());
        connect(thread.get(), &QThread::finished, worker, &QObject::deleteLater);
        thread->start();
        QString error;
        QMetaObject::invokeMethod(
            worker, [worker, &error] { error = worker->open(); }, Qt::BlockingQueuedConnection);
        m_threads.push_back(std::move(thread));
        m_workers.push_back(worker);
        if (!error.isEmpty()) {
            m_error = error;
            stop();
            return false;
        }
    }
    m_listener->setWorkers(m_workers);
    if (!m_listener->listen(QHostAddress(m_config.address), quint16(m_config.port))) {
        m_error = QStringLiteral("Não foi possível aguardar conexões em %1:%2: %3")
                      .arg(m_config.address)
                      .arg(m_config.port)
                      .arg(m_listener->errorString());
        stop();
        return false;
    }
    return true;
}

void ApplicationServer::stop()
{
    m_listener->close();
    for (size_t i = 0; i < m_workers.size(); ++i) {
        ServerWorker *worker = m_workers[i];
        QMetaObject::invokeMethod(
            worker, [worker] { worker->shutdown(); }, Qt::BlockingQueuedConnection);
        m_threads[i]->quit();
        m_threads[i]->wait();
    }
    m_workers.clear();
    m_threads.clear();
    m_listener->setWorkers({});
    if (m_janitorThread) {
        ServerJanitor *janitor = m_janitor;
        janitor->requestStop();
        QMetaObject::invokeMethod(
            janitor, [janitor] { janitor->close(); }, Qt::BlockingQueuedConnection);
        m_janitorThread->quit();
        m_janitorThread->wait();
        m_janitorThread.reset();
        m_janitor = nullptr;
    }
}

QString ApplicationServer::listenAddress() const
{
    return m_listener->serverAddress().toString();
}

quint16 ApplicationServer::port() const
{
    return m_listener->serverPort();
}

} // namespace fis
