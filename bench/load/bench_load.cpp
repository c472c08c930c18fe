// Load on one server over TLS, every client proving its secret: by default 50 clients at once,
// each making 200 mixed calls (the directory, an invoice list, a new export list, its marked
// invoices, the list deleted), all started together. Prints the calls' latency (p50, p95, p99)
// and the server's resident memory after the first tenth of the calls against at the end,
// which must stay within 10 %. Checks that no call failed, the server still runs, and that no
// invoice's exported flag moved (no list here is exported).
//
//     bench_load [--clients N] [--calls N] [--invoices N] [--plain]
//
// Needs FIS_BIN_DIR (or the server beside this program).

#include "benchsupport/figure.h"
#include "benchsupport/procstat.h"
#include "rpc/memorypolicy.h"
#include "rpcclient/netconnection.h"
#include "testsupport/servercalls.h"
#include "testsupport/serverprocess.h"
#include "testsupport/testcerts.h"
#include "testsupport/testclient.h"
#include "testsupport/testdatabase.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMutex>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

using namespace fis;
using namespace fis::bench;
using namespace fis::test;

namespace {

struct ClientWork
{
    QList<QPair<QString, QString>> invoices; // (branch, posting)
    QStringList registrations;               // each invoice's
};

struct ClientResult
{
    std::vector<double> latencies; // ms
    QString error;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[at];
}

// One client's calls, five kinds in turn.
void runClient(quint16 port, int calls, const ClientWork &work, const QString &caFile,
               std::atomic<int> &done, ClientResult &result)
{
    try {
        NetConnection c;
        c.setServerName(QStringLiteral("FIS11000.rdmCompraLEGALBA"));
        c.setHost(QStringLiteral("127.0.0.1"));
        c.setPort(port);
        useTestClient(c);
        if (!caFile.isEmpty())
            c.setTls({true, caFile, {}});
        c.open();
        QString list;
        for (int i = 0; i < calls; ++i) {
            QElapsedTimer clock;
            clock.start();
            switch (i % 5) {
            case 0:
                c.call(QStringLiteral("GetDiretorio"));
                break;
            case 1: {
                NotaFilter filter;
                filter.stateReg = work.registrations.first();
                getNotaFiscal(c, filter);
                break;
            }
            case 2:
                list = c.call(QStringLiteral("GetLista")).toText();
                break;
            case 3:
                c.call(
                    QStringLiteral("getNotasMarcadas"),
                    {RpcValue::fromPacket(listaPacket(list, work.invoices, work.registrations))});
                break;
            default:
                c.call(QStringLiteral("GetDeletaLista"), {list});
                break;
            }
            result.latencies.push_back(double(clock.nsecsElapsed()) / 1e6);
            ++done;
        }
    } catch (const std::exception &e) {
        result.error = QString::fromUtf8(e.what());
    }
}

} // namespace

int main(int argc, char **argv)
{
    reuseLargeBlocks();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption clientsOpt(QStringLiteral("clients"), QStringLiteral("Clients."),
                                        QStringLiteral("N"), QStringLiteral("50"));
    const QCommandLineOption callsOpt(QStringLiteral("calls"), QStringLiteral("Calls a client."),
                                      QStringLiteral("N"), QStringLiteral("200"));
    const QCommandLineOption plainOpt(QStringLiteral("plain"),
                                      QStringLiteral("Without TLS (the clients still prove their "
                                                     "secret)."));
    const QCommandLineOption invoicesOpt(QStringLiteral("invoices"),
                                         QStringLiteral("Invoices in the database."),
                                         QStringLiteral("N"), QStringLiteral("3000"));
    parser.addOptions({clientsOpt, callsOpt, invoicesOpt, plainOpt});
    parser.process(app);
    const int clients = std::max(1, parser.value(clientsOpt).toInt());
    const int calls = std::max(5, parser.value(callsOpt).toInt());

    TestDatabase db(std::max(100, parser.value(invoicesOpt).toInt()));
    if (!db.isValid())
        return 1;
    const auto flags = [&db] {
        return db.rows(QStringLiteral(
            "SELECT CDFILIAL, NRLANCTONF, IDNFCOMPRALEG FROM NFCOMPRA ORDER BY 1, 2"));
    };
    const QList<QVariantList> flagsBefore = flags();
    const bool tls = !parser.isSet(plainOpt);
    const TestCertificates &certs = testCertificates();
    if (tls && !certs.ok)
        return 1;
    QStringList serverArgs{QStringLiteral("--max-connections-per-address"),
                           QString::number(clients + 8)};
    if (tls)
        serverArgs << QStringLiteral("--tls-certificate") << certs.serverCertificate
                   << QStringLiteral("--tls-key") << certs.serverKey;
    ServerProcess server(db.path(), db.outputDir(), serverArgs);
    if (!server.isRunning())
        return 1;
    // Each client marks five invoices of its own, which no other client touches.
    const QList<QVariantList> all = db.rows(QStringLiteral(
        "SELECT CDFILIAL, NRLANCTONF, CDINSCESTA FROM NFCOMPRA WHERE CDEMPRESA = '01' "
        "ORDER BY 1, 2"));
    if (all.size() < qsizetype(clients) * 5) {
        std::fprintf(stderr, "bench_load: %d clients need %d invoices of company 01\n", clients,
                     clients * 5);
        return 1;
    }
    std::vector<ClientWork> work(static_cast<size_t>(clients));
    for (int k = 0; k < clients; ++k)
        for (int i = 5 * k; i < 5 * k + 5; ++i) {
            work[size_t(k)].invoices.append({all[i][0].toString(), all[i][1].toString()});
            work[size_t(k)].registrations.append(all[i][2].toString());
        }

    std::vector<ClientResult> results(static_cast<size_t>(clients));
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < clients; ++k)
        threads.emplace_back(runClient, server.port(), calls, std::cref(work[size_t(k)]),
                             tls ? certs.ca : QString(), std::ref(done),
                             std::ref(results[size_t(k)]));
    // The server's memory once a tenth of the calls are made (its caches and heap warm), and at
    // the end.
    const int total = clients * calls;
    qint64 firstKb = -1;
    while (done.load() < total / 10 &&
           !std::all_of(results.begin(), results.end(), [](auto &r) { return !r.error.isEmpty(); }))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    firstKb = residentKb(server.pid());
    for (std::thread &t : threads)
        t.join();
    const qint64 lastKb = residentKb(server.pid());

    Check check;
    std::vector<double> latencies;
    for (const ClientResult &r : results) {
        check.require(r.error.isEmpty(), QStringLiteral("a client failed: ") + r.error);
        latencies.insert(latencies.end(), r.latencies.begin(), r.latencies.end());
    }
    check.require(qsizetype(latencies.size()) == total,
                  QStringLiteral("%1 of %2 calls made").arg(latencies.size()).arg(total));
    check.require(server.process().state() == QProcess::Running, QStringLiteral("server died"));
    check.require(flags() == flagsBefore,
                  QStringLiteral("exported flags moved, though no list was exported"));

    std::printf("  %d clients x %d calls: p50 %.2f ms, p95 %.2f ms, p99 %.2f ms; server "
                "%lld kB after a tenth, %lld kB at the end\n",
                clients, calls, percentile(latencies, 0.5), percentile(latencies, 0.95),
                percentile(latencies, 0.99), static_cast<long long>(firstKb),
                static_cast<long long>(lastKb));
    const QString what = QStringLiteral("%1 clients x %2 mixed calls, authenticated%3")
                             .arg(clients)
                             .arg(calls)
                             .arg(tls ? QStringLiteral(", TLS") : QString());
    const struct
    {
        const char *id;
        double p;
    } percentiles[] = {{"load.p50", 0.5}, {"load.p95", 0.95}, {"load.p99", 0.99}};
    for (const auto &p : percentiles) {
        Figure f;
        f.id = QString::fromLatin1(p.id);
        f.title = QStringLiteral("%1 of a call, %2").arg(f.id.mid(5), what);
        f.value = percentile(latencies, p.p);
        f.unit = QStringLiteral("ms");
        f.check = check;
        printFigure(f);
    }
    Figure memory;
    memory.id = QStringLiteral("load.memory");
    memory.title = QStringLiteral("server's resident memory at the end against after a tenth of "
                                  "the calls (%1 vs %2 kB), %3")
                       .arg(lastKb)
                       .arg(firstKb)
                       .arg(what);
    memory.value = firstKb > 0 ? 100.0 * double(std::abs(lastKb - firstKb)) / double(firstKb) : 0;
    memory.unit = QStringLiteral("%");
    memory.targetMax = 10;
    memory.check = check;
    printFigure(memory);
    return check.ok() ? 0 : 1;
}
