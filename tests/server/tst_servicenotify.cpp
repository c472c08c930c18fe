// The readiness the server reports to systemd: a datagram to the socket $NOTIFY_SOCKET names,
// a path or a name in the abstract namespace ("@..."), and nothing at all without the variable.
#include "server/servicenotify.h"

#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace fis;

namespace {

// A datagram socket bound as systemd binds its notify socket; `name` starting with '@' is
// abstract.
class Listener
{
public:
    explicit Listener(const QByteArray &name)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        if (name.startsWith('@'))
            address.sun_path[0] = '\0';
        const auto size = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(name.size()));
        m_bound = ::bind(m_fd, reinterpret_cast<const sockaddr *>(&address), size) == 0;
        const timeval timeout = {2, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~Listener() { ::close(m_fd); }
    bool bound() const { return m_bound; }
    QByteArray receive() const
    {
        char buffer[512];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        return n > 0 ? QByteArray(buffer, n) : QByteArray();
    }

private:
    int m_fd = -1;
    bool m_bound = false;
};

} // namespace

class TestServiceNotify : public QObject
{
    Q_OBJECT

private slots:
    void readinessReachesThePathOrAbstractSocket_data();
    void readinessReachesThePathOrAbstractSocket();
    void withoutTheVariableNothingIsSent();
};

void TestServiceNotify::readinessReachesThePathOrAbstractSocket_data()
{
    QTest::addColumn<bool>("abstract");
    QTest::newRow("path") << false;
    QTest::newRow("abstract") << true;
}

void TestServiceNotify::readinessReachesThePathOrAbstractSocket()
{
    QFETCH(bool, abstract);
    QTemporaryDir dir;
    const QByteArray name = abstract ? "@fis-notify-" + QByteArray::number(::getpid())
                                     : QFile::encodeName(dir.filePath(QStringLiteral("notify")));
    Listener systemd(name);
    QVERIFY(systemd.bound());
    qputenv("NOTIFY_SOCKET", name);
    QVERIFY(notifyServiceManager("READY=1\nSTATUS=listening on 127.0.0.1:4711"));
    QCOMPARE(systemd.receive(), QByteArray("READY=1\nSTATUS=listening on 127.0.0.1:4711"));
    QVERIFY(notifyServiceManager("STOPPING=1"));
    QCOMPARE(systemd.receive(), QByteArray("STOPPING=1"));
    qunsetenv("NOTIFY_SOCKET");
}

void TestServiceNotify::withoutTheVariableNothingIsSent()
{
    qunsetenv("NOTIFY_SOCKET");
    QVERIFY(!notifyServiceManager("READY=1"));
    // A socket that is not there, or a name too long for an address, is a failure, not a crash.
    qputenv("NOTIFY_SOCKET", "/nonexistent/notify");
    QVERIFY(!notifyServiceManager("READY=1"));
    qputenv("NOTIFY_SOCKET", QByteArray(200, 'x'));
    QVERIFY(!notifyServiceManager("READY=1"));
    qunsetenv("NOTIFY_SOCKET");
}

QTEST_GUILESS_MAIN(TestServiceNotify)
#include "tst_servicenotify.moc"
