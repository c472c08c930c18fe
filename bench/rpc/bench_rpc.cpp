// Round trip of a page-sized data packet and the rate of small calls, over loopback TCP, to a
// server that echoes its first argument back; every answer is checked against what was sent.
//
//     bench_rpc [--lines N] [--rounds N] [--seconds S]
//         a page of N lines of 126 characters (default 50000) sent N rounds (default 20), small
//         calls for S seconds (default 2)
#include "benchsupport/figure.h"
#include "rpcclient/netconnection.h"
#include "rpcserver/rpcserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>

#include <algorithm>
#include <cstdio>

using namespace fis;
using namespace fis::bench;

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

struct Options
{
    int lines = 50000;
    int rounds = 20;
    double seconds = 2;
};

Options parseOptions(const QCoreApplication &app)
{
    QCommandLineParser parser;
    const QCommandLineOption lines(QStringLiteral("lines"), {}, QStringLiteral("n"),
                                   QStringLiteral("50000"));
    const QCommandLineOption rounds(QStringLiteral("rounds"), {}, QStringLiteral("n"),
                                    QStringLiteral("20"));
    const QCommandLineOption seconds(QStringLiteral("seconds"), {}, QStringLiteral("s"),
                                     QStringLiteral("2"));
    parser.addOptions({lines, rounds, seconds});
    parser.process(app);
    return {std::max(1, parser.value(lines).toInt()), std::max(1, parser.value(rounds).toInt()),
            parser.value(seconds).toDouble()};
}

// A page as the server sends it: lines of 126 characters, opaque to the protocol.
QByteArray pageOf(int lines)
{
    QByteArray page;
    page.reserve(qsizetype(lines) * 126);
    for (int i = 0; i < lines; ++i)
        page += QByteArray::number(i).rightJustified(126, '0');
    return page;
}

void printFigures(double pageMs, double callUs, int lines, const Check &check)
{
    Figure page;
    page.id = QStringLiteral("rpc.page");
    page.title = QStringLiteral("a page of %1 lines there and back").arg(lines);
    page.value = pageMs;
    page.unit = QStringLiteral("ms");
    page.check = check;
    printFigure(page);
    Figure call = page;
    call.id = QStringLiteral("rpc.smallcall");
    call.title = QStringLiteral("one small call there and back");
    call.value = callUs;
    call.unit = QStringLiteral("us");
    printFigure(call);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Options o = parseOptions(app);
    ServerThread server;
    NetConnection c;
    c.setServerName(kObject);
    c.setHost(QStringLiteral("127.0.0.1"));
    c.setPort(server.port());
    c.open();

    const QByteArray page = pageOf(o.lines);
    const RpcValue packet = RpcValue::fromPacket(page);
    Check check;
    check.require(c.call(QStringLiteral("Echo"), {packet}).toPacket() == page,
                  QStringLiteral("the page came back changed"));
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < o.rounds; ++i)
        check.require(c.call(QStringLiteral("Echo"), {packet}).toPacket().size() == page.size(),
                      QStringLiteral("a page came back of another size"));
    const double pageMs = double(clock.nsecsElapsed()) / 1e6 / o.rounds;
    std::printf("packet of %.1f MB (%d lines of 126 characters) there and back: %.1f ms\n",
                double(page.size()) / 1e6, o.lines, pageMs);

    const QList<RpcArg> small = {QStringLiteral("01"), RpcValue(QDate(2024, 1, 31)), 50000.0};
    int calls = 0;
    clock.restart();
    while (calls == 0 || clock.elapsed() < qint64(o.seconds * 1000)) {
        if (c.call(QStringLiteral("Echo"), small).toText() != u"01")
            check.fail(QStringLiteral("a small call came back changed"));
        ++calls;
    }
    const double callUs = double(clock.nsecsElapsed()) / 1e3 / calls;
    std::printf("small calls: %.0f per second (%.1f us each)\n", 1e6 / callUs, callUs);
    std::printf("checked: %s\n", check.ok() ? "yes (answers equal)" : qPrintable(check.detail()));
    printFigures(pageMs, callUs, o.lines, check);
    return check.ok() ? 0 : 1;
}
