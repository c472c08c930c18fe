#include "server/appserver.h"

#include "rpc/peertext.h"
#include "server/schemamigration.h"
#include "server/serverjanitor.h"
#include "server/serverworker.h"
#include "sqldb/sqliteconnection.h"

#include "rpc/rpcprotocol.h"

#include <QDateTime>
#include <QHostAddress>
#include <QMutex>
#include <QSocketNotifier>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fis {

void logServerLine(const QString &line)
{
    static QMutex mutex;
    // One event, one line, whatever text a client slipped into it.
    constexpr qsizetype kLongestLine = 8000;
    const QByteArray bytes = printable(line, kLongestLine).toUtf8() + '\n';
    QMutexLocker lock(&mutex);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

QString ConnectionCount::admit(const QString &address)
{
    QMutexLocker lock(&m_mutex);
    if (m_total >= m_maxTotal)
        return QStringLiteral("O servidor já atende o máximo de %1 conexões; tente mais tarde.")
            .arg(m_maxTotal);
    int &mine = m_byAddress[address];
    if (mine >= m_maxPerAddress) {
        if (mine == 0)
            m_byAddress.remove(address);
        return QStringLiteral("O endereço %1 já tem o máximo de %2 conexões com o servidor.")
            .arg(address)
            .arg(m_maxPerAddress);
    }
    ++mine;
    ++m_total;
    return {};
}

void ConnectionCount::release(const QString &address)
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_byAddress.find(address);
    if (it == m_byAddress.end())
        return;
    --m_total;
    if (--it.value() <= 0)
        m_byAddress.erase(it);
}

namespace {

// Bursts of clients wait in the kernel's queue rather than being refused.
constexpr int kListenBacklog = 1024;
// Connections taken per turn of the event loop, so that a burst does not starve the rest.
constexpr int kAcceptsPerTurn = 64;
// Out of descriptors, accepting waits this long at first, doubling up to the most.
constexpr int kFirstRetryMs = 50;
constexpr int kLongestRetryMs = 2000;
// Refused connections waiting for their client to read the refusal and go.
constexpr int kMostLingering = 64;
constexpr int kLingerMs = 3000;

QString addressOf(const sockaddr_storage &peer)
{
    QHostAddress address(reinterpret_cast<const sockaddr *>(&peer));
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped && address.protocol() == QAbstractSocket::IPv6Protocol)
        address = QHostAddress(v4);
    return address.toString();
}

} // namespace

ClientListener::ClientListener(QObject *parent)
    : QTcpServer(parent)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        if (m_notifier)
            m_notifier->setEnabled(true);
        acceptPending();
    });
}

ClientListener::~ClientListener() = default;

bool ClientListener::start(const QHostAddress &address, quint16 port)
{
    setListenBacklogSize(kListenBacklog);
    if (!listen(address, port))
        return false;
    // QTcpServer bound and listens; the accepting is ours.
    pauseAccepting();
    m_notifier = new QSocketNotifier(socketDescriptor(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ClientListener::acceptPending);
    // Called once now, while descriptors are free: in a sanitizer build the first call on an
    // object checks its type through a pipe, which cannot be had once they run out.
    m_notifier->setEnabled(true);
    return true;
}

void ClientListener::stop()
{
    m_retry.stop();
    delete m_notifier;
    m_notifier = nullptr;
    close();
}

void ClientListener::acceptPending()
{
    if (!m_notifier)
        return;
    for (int k = 0; k < kAcceptsPerTurn; ++k) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(int(socketDescriptor()), reinterpret_cast<sockaddr *>(&peer),
                                 &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            const int error = errno;
            if (error == EINTR || error == ECONNABORTED || error == EPROTO)
                continue;
            if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM)
                backOff(error);
            return;
        }
        if (m_retryDelayMs > 0) {
            logServerLine(QStringLiteral("accepting clients again"));
            m_retryDelayMs = 0;
        }
        const QString address = addressOf(peer);
        const QString refused = m_count ? m_count->admit(address) : QString();
        if (!refused.isEmpty())
            refuse(fd, address, refused);
        else
            dispatch(fd, address);
    }
}

void ClientListener::backOff(int error)
{
    // The pending connection stays in the kernel's queue: waiting a while and trying again is
    // all that can be done, without spinning on a socket that stays readable.
    m_notifier->setEnabled(false);
    if (m_retryDelayMs == 0)
        logServerLine(QStringLiteral("cannot accept clients: %1; trying again until it clears")
                          .arg(QString::fromLocal8Bit(std::strerror(error))));
    m_retryDelayMs = std::clamp(m_retryDelayMs * 2, kFirstRetryMs, kLongestRetryMs);
    m_retry.start(m_retryDelayMs);
}

void ClientListener::refuse(int descriptor, const QString &address, const QString &reason)
{
    // The client waits for the answer to its hello: this is that answer. A few bytes fit in any
    // socket's buffer, so the write does not block.
    RpcHelloReply reply;
    reply.ok = false;
    reply.error = reason;
    const QByteArray frame = encodeHelloReply(reply);
    [[maybe_unused]] const ssize_t sent =
        ::send(descriptor, frame.constData(), size_t(frame.size()), MSG_NOSIGNAL);
    lingerAndClose(descriptor);
    // One line a second at most, however many are refused.
    ++m_refusedSinceLog;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - m_lastRefusalLog >= 1000) {
        logServerLine(QStringLiteral("%1 refused (%2 in all since the last such line): %3")
                          .arg(address)
                          .arg(m_refusedSinceLog)
                          .arg(reason));
        m_lastRefusalLog = now;
        m_refusedSinceLog = 0;
    }
}

void ClientListener::lingerAndClose(int descriptor)
{
    // Closed at once, the client's hello arriving after would make the kernel reset the
    // connection, and a reset can discard the refusal before the client reads it. So the
    // connection is half closed and drained until the client goes, for a few seconds at most.
    if (m_lingering >= kMostLingering) {
        ::close(descriptor);
        return;
    }
    ::shutdown(descriptor, SHUT_WR);
    ++m_lingering;
    auto *notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
    auto *deadline = new QTimer(notifier);
    const auto finish = [this, notifier, deadline, descriptor] {
        if (!notifier->isEnabled())
            return; // finished already
        deadline->stop();
        notifier->setEnabled(false);
        notifier->deleteLater();
        ::close(descriptor);
        --m_lingering;
    };
    connect(notifier, &QSocketNotifier::activated, notifier, [descriptor, finish] {
        char sink[4096];
        const ssize_t n = ::recv(descriptor, sink, sizeof sink, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            finish();
    });
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, notifier, finish);
    deadline->start(kLingerMs);
}

void ClientListener::dispatch(qintptr descriptor, const QString &address)
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
    m_next = (m_next + 1) % std::max<size_t>(n, 1);
    if ((!best || best->runningCalls() > 0) && m_grow)
        if (ServerWorker *fresh = m_grow())
            best = fresh;
    if (!best) {
        ::close(int(descriptor));
        if (m_count)
            m_count->release(address);
        return;
    }
    std::shared_ptr<ConnectionCount> count = m_count;
    QMetaObject::invokeMethod(
        best,
        [best, descriptor, address, count] {
            best->adopt(descriptor, [count, address] {
                if (count)
                    count->release(address);
            });
        },
        Qt::QueuedConnection);
}

ApplicationServer::ApplicationServer(const ServerConfig &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_listener(new ClientListener(this))
    , m_pending(std::make_shared<PendingBytes>(config.maxPendingBytes))
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
        const QString error = addWorker();
        if (!error.isEmpty()) {
            m_error = error;
            stop();
            return false;
        }
    }
    m_count = std::make_shared<ConnectionCount>(m_config.maxConnections,
                                                m_config.maxConnectionsPerAddress);
    m_listener->setConnectionCount(m_count);
    m_listener->setGrowWorkers([this] { return growWorkers(); });
    if (!m_listener->start(QHostAddress(m_config.address), quint16(m_config.port))) {
        m_error = QStringLiteral("Não foi possível aguardar conexões em %1:%2: %3")
                      .arg(m_config.address)
                      .arg(m_config.port)
                      .arg(m_listener->errorString());
        stop();
        return false;
    }
    return true;
}

QString ApplicationServer::addWorker()
{
    auto thread = std::make_unique<QThread>();
    thread->setObjectName(QStringLiteral("worker-%1").arg(m_threads.size() + 1));
    auto *worker = new ServerWorker(m_config, m_janitor, m_janitor->serverId(), m_pending);
    worker->moveToThread(thread.get());
    connect(thread.get(), &QThread::finished, worker, &QObject::deleteLater);
    thread->start();
    QString error;
    QMetaObject::invokeMethod(
        worker, [worker, &error] { error = worker->open(); }, Qt::BlockingQueuedConnection);
    if (!error.isEmpty()) {
        // A worker without its connection must never be handed a client.
        thread->quit();
        thread->wait();
        return error;
    }
    m_threads.push_back(std::move(thread));
    m_workers.push_back(worker);
    m_listener->setWorkers(m_workers);
    return {};
}

ServerWorker *ApplicationServer::growWorkers()
{
    if (int(m_workers.size()) >= m_config.maxWorkers)
        return nullptr;
    const QString error = addWorker();
    if (!error.isEmpty()) {
        logServerLine(QStringLiteral("could not start another worker: ") + error);
        return nullptr;
    }
    logServerLine(QStringLiteral("every worker is in a call; started %1")
                      .arg(m_threads.back()->objectName()));
    return m_workers.back();
}

void ApplicationServer::stop()
{
    m_listener->stop();
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
