#include "testsupport/faultproxy.h"

#include "rpc/framereader.h"
#include "rpc/rpcprotocol.h"

#include <QHash>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

namespace fis::test {

namespace {

// One client and its connection to the server.
struct Pair
{
    int number = 0;
    QPointer<QTcpSocket> client;
    QPointer<QTcpSocket> server;
    FrameReader up{kLargestFrameSize};
    FrameReader down{kLargestFrameSize};
    bool greeted = false;  // the hello went up
    bool answered = false; // the hello reply came down
    QHash<quint64, ProxiedCall> pending;
    QList<std::pair<QTcpSocket *, QByteArray>> held;
    bool holding = false;
    bool cutting = false; // the client gets what was sent before its side closes
};

} // namespace

class ProxyWorker : public QObject
{
public:
    ProxyWorker(FaultProxy &proxy, QList<ProxiedCall> &calls, QMutex &mutex, quint16 serverPort)
        : m_proxy(proxy)
        , m_calls(calls)
        , m_mutex(mutex)
        , m_serverPort(serverPort)
    {
        connect(&m_listener, &QTcpServer::newConnection, this, &ProxyWorker::accept);
        m_listener.listen(QHostAddress::LocalHost, 0);
    }

    quint16 port() const { return m_listener.serverPort(); }

    void release()
    {
        for (const auto &pair : std::as_const(m_pairs)) {
            pair->holding = false;
            for (const auto &[socket, frame] : std::as_const(pair->held))
                if (socket == pair->client || socket == pair->server)
                    socket->write(frame);
            pair->held.clear();
        }
    }

private:
    void accept()
    {
        while (QTcpSocket *client = m_listener.nextPendingConnection()) {
            auto pair = std::make_shared<Pair>();
            pair->number = ++m_connections;
            pair->client = client;
            pair->server = new QTcpSocket(this);
            client->setParent(this);
            connect(client, &QTcpSocket::readyRead, this, [this, pair] { fromClient(*pair); });
            connect(pair->server, &QTcpSocket::readyRead, this,
                    [this, pair] { fromServer(*pair); });
            // Either side gone: the other one goes too, as a real network path would.
            connect(client, &QTcpSocket::disconnected, this, [this, pair] { closeBoth(*pair); });
            connect(pair->server, &QTcpSocket::disconnected, this,
                    [this, pair] { closeBoth(*pair); });
            connect(pair->server, &QTcpSocket::errorOccurred, this,
                    [this, pair] { closeBoth(*pair); });
            pair->server->connectToHost(QHostAddress::LocalHost, m_serverPort);
            m_pairs << pair;
        }
    }

    void closeBoth(Pair &pair)
    {
        if (pair.client && pair.cutting)
            pair.client->disconnectFromHost();
        else if (pair.client)
            pair.client->abort();
        if (pair.server)
            pair.server->abort();
    }

    void pass(Pair &pair, QTcpSocket *to, const QByteArray &frame, ProxyAction action)
    {
        if (!to)
            return;
        const QByteArray bytes = FrameReader::prefix(frame.size()) + frame;
        if (pair.holding) {
            pair.held.append({to, bytes});
            return;
        }
        switch (action) {
        case ProxyAction::Forward:
            to->write(bytes);
            break;
        case ProxyAction::Hold:
            pair.holding = true;
            pair.held.append({to, bytes});
            break;
        case ProxyAction::CutHalfway:
            pair.cutting = true;
            to->write(bytes.left(4 + frame.size() / 2));
            to->flush();
            if (pair.server)
                pair.server->abort();
            to->disconnectFromHost();
            break;
        case ProxyAction::Close:
            closeBoth(pair);
            break;
        }
    }

    void fromClient(Pair &pair)
    {
        pair.up.feed(pair.client->readAll());
        while (pair.up.hasFrame()) {
            const QByteArray frame = pair.up.takeFrame();
            if (!pair.greeted) {
                pair.greeted = true;
                pass(pair, pair.server, frame, ProxyAction::Forward);
                continue;
            }
            ProxiedCall call;
            call.connection = pair.number;
            quint64 id = 0;
            try {
                const RpcCall decoded = decodeCall(frame);
                id = decoded.id;
                call.method = decoded.method;
                call.firstPage = decoded.method.compare(QLatin1String("GetRegistro"),
                                                        Qt::CaseInsensitive) == 0 &&
                                 decoded.args.size() > 5 && decoded.args.at(5).isText() &&
                                 decoded.args.at(5).toText().isEmpty();
            } catch (const std::exception &) {
                call.method = QStringLiteral("<unreadable>");
            }
            {
                QMutexLocker lock(&m_mutex);
                call.ordinal = 1;
                for (const ProxiedCall &c : std::as_const(m_calls))
                    if (c.method == call.method)
                        ++call.ordinal;
                m_calls << call;
            }
            pair.pending.insert(id, call);
            pass(pair, pair.server, frame,
                 m_proxy.onCall ? m_proxy.onCall(call) : ProxyAction::Forward);
        }
    }

    void fromServer(Pair &pair)
    {
        pair.down.feed(pair.server->readAll());
        while (pair.down.hasFrame()) {
            const QByteArray frame = pair.down.takeFrame();
            if (!pair.answered) {
                pair.answered = true;
                pass(pair, pair.client, frame, ProxyAction::Forward);
                continue;
            }
            ProxiedCall call;
            try {
                const RpcAnswer answer = decodeAnswer(frame);
                if (answer.id)
                    call = pair.pending.take(*answer.id);
            } catch (const std::exception &) {
            }
            pass(pair, pair.client, frame,
                 m_proxy.onAnswer && !call.method.isEmpty() ? m_proxy.onAnswer(call)
                                                            : ProxyAction::Forward);
        }
    }

    FaultProxy &m_proxy;
    QList<ProxiedCall> &m_calls;
    QMutex &m_mutex;
    quint16 m_serverPort;
    QTcpServer m_listener;
    QList<std::shared_ptr<Pair>> m_pairs;
    int m_connections = 0;
};

FaultProxy::FaultProxy(quint16 serverPort)
    : m_serverPort(serverPort)
{
    start();
    m_ready.acquire();
}

FaultProxy::~FaultProxy()
{
    quit();
    wait();
}

void FaultProxy::run()
{
    ProxyWorker worker(*this, m_calls, m_mutex, m_serverPort);
    m_worker = &worker;
    m_port = worker.port();
    m_ready.release();
    exec();
    m_worker = nullptr;
}

void FaultProxy::release()
{
    QMetaObject::invokeMethod(
        m_worker, [this] { static_cast<ProxyWorker *>(m_worker)->release(); },
        Qt::QueuedConnection);
}

QList<ProxiedCall> FaultProxy::calls() const
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

} // namespace fis::test
