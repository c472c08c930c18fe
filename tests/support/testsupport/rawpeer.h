#pragma once

#include <QByteArray>
#include <QTcpSocket>

namespace fis::test {

// A raw connection to a server that speaks the frames by hand, for what no real client sends.
class RawPeer
{
public:
    explicit RawPeer(quint16 port);
    // Writes the bytes and waits up to 5 seconds for them to go.
    void send(const QByteArray &bytes);
    // Writes the bytes and gives them `msecs` to go, without waiting for all of them.
    void sendFor(const QByteArray &bytes, int msecs);
    // The next frame's body, or empty when the server closed without one (10 seconds at most).
    QByteArray frame();
    // Waits up to `msecs` for the server to close the connection, reading what comes meanwhile.
    bool closedByServer(int msecs = 10000);
    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    // A version-1 hello without a session key as the test client, its secret proved when the
    // server asks; the replies are read and dropped.
    void hello();
    QTcpSocket &socket() { return m_socket; }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

// A frame around a body, as the wire carries it.
QByteArray frameOf(const QByteArray &body);

} // namespace fis::test
