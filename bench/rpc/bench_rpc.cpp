// Round trip of a page-sized data packet and the rate of small calls, over loopback TCP.
#include "rpcclient/netconnection.h"
#include "rpcserver/rpcserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>

#include <cstdio>

using namespace fis;

namespace {

const QString kObject = QStringLiteral("FIS11000.rdmCompraLEGALBA");

class ServerThread : public QThread
{
public:
    ServerThread()
    {
        start();
        m_ready.acquire();
    }
    ~ServerThread() override
    {
        quit();
        wait();
    }
    quint16 port() const { return m_port; }

protected:
    void run() override
    {
        RpcServer server;
        server.registerMethod(kObject, QStringLiteral("Echo"), [](RpcArgs &a) { return a.at(0); });
        server.listen(QHostAddress::LocalHost, 0);
        m_port = server.serverPort();
        m_ready.release();
        exec();
    }

private:
    QSemaphore m_ready;
    quint16 m_port = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ServerThread server;
    NetConnection c;
    c.setServerName(kObject);
    c.setHost(QStringLiteral("127.0.0.1"));
    c.setPort(server.port());
    c.open();

    // A page as the server sends it: 50,000 lines of 126 characters, opaque to the protocol.
    QByteArray page;
    page.reserve(50000 * 126);
    for (int i = 0; i < 50000; ++i)
        page += QByteArray::number(i).rightJustified(126, '0');
    const RpcValue packet = RpcValue::fromPacket(page);

    constexpr int kPageRounds = 20;
    c.call(QStringLiteral("Echo"), {packet});
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kPageRounds; ++i)
        c.call(QStringLiteral("Echo"), {packet});
    const double pageMs = double(clock.nsecsElapsed()) / 1e6 / kPageRounds;
    std::printf("packet of %.1f MB (50,000 lines of 126 characters) there and back: %.1f ms\n",
                double(page.size()) / 1e6, pageMs);

    const QList<RpcArg> small = {QStringLiteral("01"), RpcValue(QDate(2024, 1, 31)), 50000.0};
    int calls = 0;
    clock.restart();
    while (clock.elapsed() < 2000) {
        c.call(QStringLiteral("Echo"), small);
        ++calls;
    }
    std::printf("small calls: %.0f per second (%.1f us each)\n",
                calls * 1000.0 / double(clock.elapsed()),
                double(clock.nsecsElapsed()) / 1e3 / calls);
    return 0;
}
