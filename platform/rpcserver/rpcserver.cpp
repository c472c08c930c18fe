#include "rpcserver/rpcserver.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace fis {

RpcServer::RpcServer(QObject *parent)
    : QObject(parent)
    , m_tcp(new QTcpServer(this))
{
    m_settings.methods = &m_methods;
    connect(m_tcp, &QTcpServer::newConnection, this, &RpcServer::acceptClients);
}

RpcServer::~RpcServer()
{
    // Sessions read the settings, so they must go while these still exist.
    const QSet<RpcSession *> clients = m_clients;
    qDeleteAll(clients);
}

void RpcServer::registerMethod(const QString &object, const QString &method, RpcHandler handler)
{
    m_methods.registerMethod(object, method, std::move(handler));
}

bool RpcServer::listen(const QHostAddress &address, quint16 port)
{
    return m_tcp->listen(address, port);
}

void RpcServer::close()
{
    m_tcp->close();
    // Clients leave the set only when deleted, so the destructor still finds every one of them.
    const QSet<RpcSession *> clients = m_clients;
    for (RpcSession *c : clients)
        c->drop();
}

bool RpcServer::isListening() const
{
    return m_tcp->isListening();
}

quint16 RpcServer::serverPort() const
{
    return m_tcp->serverPort();
}

QHostAddress RpcServer::serverAddress() const
{
    return m_tcp->serverAddress();
}

QString RpcServer::errorString() const
{
    return m_tcp->errorString();
}

void RpcServer::setCallLogger(std::function<void(const RpcCallRecord &)> logger)
{
    m_settings.logger = std::move(logger);
}

qsizetype RpcServer::clientCount() const
{
    return m_clients.size();
}

void RpcServer::acceptClients()
{
    while (QTcpSocket *socket = m_tcp->nextPendingConnection()) {
        auto *session = new RpcSession(socket, m_settings, this);
        m_clients.insert(session);
        connect(session, &QObject::destroyed, this, [this, session] { m_clients.remove(session); });
    }
}

} // namespace fis
