#include "testsupport/rawpeer.h"

#include "rpc/clientauth.h"
#include "rpc/framereader.h"
#include "rpc/rpcprotocol.h"
#include "testsupport/testclient.h"

#include <QElapsedTimer>

#include <algorithm>

namespace fis::test {

RawPeer::RawPeer(quint16 port)
{
    m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    m_socket.waitForConnected(5000);
}

void RawPeer::send(const QByteArray &bytes)
{
    m_socket.write(bytes);
    m_socket.waitForBytesWritten(5000);
}

void RawPeer::sendFor(const QByteArray &bytes, int msecs)
{
    m_socket.write(bytes);
    QElapsedTimer clock;
    clock.start();
    while (m_socket.bytesToWrite() > 0 && clock.elapsed() < msecs)
        m_socket.waitForBytesWritten(std::max<qint64>(1, msecs - clock.elapsed()));
}

QByteArray RawPeer::frame()
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        if (m_buffer.size() >= 4) {
            const auto *p = reinterpret_cast<const uchar *>(m_buffer.constData());
            const qint64 size = (qint64(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
            if (m_buffer.size() >= 4 + size) {
                const QByteArray body = m_buffer.mid(4, size);
                m_buffer.remove(0, 4 + size);
                return body;
            }
        }
        if (m_socket.state() != QAbstractSocket::ConnectedState && !m_socket.bytesAvailable())
            return {};
        m_socket.waitForReadyRead(100);
        m_buffer += m_socket.readAll();
    }
    return {};
}

bool RawPeer::closedByServer(int msecs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < msecs && m_socket.state() == QAbstractSocket::ConnectedState) {
        m_socket.waitForReadyRead(100);
        m_buffer += m_socket.readAll();
    }
    return m_socket.state() != QAbstractSocket::ConnectedState;
}

void RawPeer::hello()
{
    RpcHello hello;
    hello.client = testClientName();
    hello.nonce = randomBytes(kNonceBytes);
    send(encodeHello(hello));
    const RpcHelloReply challenge = decodeHelloReply(frame());
    if (!challenge.isChallenge())
        return; // a server that asks nothing
    const QByteArray message = authMessage(hello.client, hello.nonce, challenge.challenge);
    send(encodeProof(RpcProof{clientProof(
        saltedSecret(testSecret(), challenge.salt, int(challenge.iterations)), message)}));
    decodeHelloReply(frame());
}

QByteArray frameOf(const QByteArray &body)
{
    return FrameReader::prefix(body.size()) + body;
}

} // namespace fis::test
