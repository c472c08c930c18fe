// Builds and pages one Compra LEGAL file of about a million lines through the real server, and
// times the sqlite3 command-line tool writing the same lines from the database for comparison.
// Prints generation, paging, their sum (the server's side of an export) against the tool's time,
// the server's peak memory and a hash of the lines served, to compare runs of different builds.
// Also times the calls around the file: getNotasMarcadas with the whole list, and GetNotaFiscal
// for the pending invoices before the export (every invoice) and after it (none of them), the
// call the client repeats after every page.
//
//     bench_server [invoices]     (default 250000 invoices of three items each)
//
// Needs FIS_BIN_DIR (or the server beside this program) and the sqlite3 tool on PATH.
#include "dataset/datapacket.h"
#include "demodata.h"
#include "rpcclient/netconnection.h"
#include "testsupport/seeding.h"
#include "testsupport/serverprocess.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <utility>

using namespace fis;

namespace {

qint64 peakMemoryKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    static const QRegularExpression hwm(QStringLiteral("VmHWM:\\s+(\\d+) kB"));
    const auto m = hwm.match(QString::fromLatin1(status.readAll()));
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int invoices = argc > 1 ? QByteArray(argv[1]).toInt() : 250000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.sqlite"));
    QElapsedTimer clock;
    clock.start();
    generateDemoDatabase(path, 1000, 1);
    test::addInvoices(path, invoices, 3);
    std::printf("seeded %d invoices of one registration in %.1f s\n", invoices,
                clock.elapsed() / 1000.0);

    test::ServerProcess server(path, dir.path());
    if (!server.isRunning())
        qFatal("the server did not start");
    const quint16 port = server.port();

    NetConnection client;
    client.setServerName(QStringLiteral("FIS11000.rdmCompraLEGALBA"));
    client.setHost(QStringLiteral("127.0.0.1"));
    client.setPort(port);
    client.open();

    // The client's refresh of the grid: company 01, pending, the period, minimum value 0.
    const auto pendingNotas = [&] {
        QString series, operations;
        QElapsedTimer t;
        t.start();
        const RpcValue answer =
            client.call(QStringLiteral("GetNotaFiscal"),
                        {"01", "", "", "", "", "", byRef(series), byRef(operations),
                         QDate(2025, 1, 1), QDate(2025, 5, 20), "N", 0.0});
        const double seconds = t.nsecsElapsed() / 1e9;
        return std::pair(seconds, decodePacket(answer.toPacket()).rows.size());
    };
    const auto [pendingBefore, pendingRowsBefore] = pendingNotas();
    std::printf("GetNotaFiscal pending before the export: %.3f s (%zu invoices)\n", pendingBefore,
                pendingRowsBefore);

    QString list = client.call(QStringLiteral("GetLista")).toText();
    std::vector<DataRow> rows;
    for (int n = 1; n <= invoices; ++n)
        rows.push_back(DataRow{list, QStringLiteral("0001B%1").arg(n, 9, 10, QLatin1Char('0')),
                               n == 1 ? QStringLiteral("052147836") : QString()});
    const QList<FieldDef> fields = {
        {QStringLiteral("NRLISTA"), FieldType::String, 10, {}, true, false, false, {}},
        {QStringLiteral("CDLISTA"), FieldType::String, 50, {}, true, false, false, {}},
        {QStringLiteral("CDINSCESTA"), FieldType::String, 20, {}, true, false, false, {}}};
    clock.restart();
    client.call(QStringLiteral("getNotasMarcadas"),
                {RpcValue::fromPacket(encodePacket(fields, rows))});
    rows.clear();
    std::printf("getNotasMarcadas with %d invoices: %.2f s\n", invoices, clock.elapsed() / 1000.0);
    const qint64 peakBeforeBuild = peakMemoryKb(server.pid());

    // Bounds 0 and 0: the first call builds the file and hands out no line, so that generation
    // and paging are timed apart.
    QString baseName = QStringLiteral("BENCH"), continuation, lastFile = QStringLiteral("F");
    double first = 0, last = 0;
    const auto call = [&] {
        return client.call(QStringLiteral("GetRegistro"),
                           {byRef(baseName), "01", "01", QDate(2025, 1, 1), QDate(2025, 5, 20),
                            byRef(continuation), "S", byRef(first), byRef(last), "052147836",
                            byRef(lastFile), byRef(list)});
    };
    clock.restart();
    RpcValue answer = call();
    const double generation = clock.elapsed() / 1000.0;
    if (answer.at(0).toText() != u"OK")
        qFatal("GetRegistro: %s", qPrintable(answer.at(0).toText()));
    continuation = answer.at(4).toText();

    double tool = 0;
    {
        // Right after the build, while the lines are stored (they go once the file is fully
        // served): the same SELECT by the command-line tool, written to a file.
        const QString out = dir.filePath(QStringLiteral("tool.txt"));
        QProcess sqlite;
        sqlite.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        clock.restart();
        sqlite.start(QStringLiteral("sqlite3"),
                     {path, QStringLiteral(".output ") + out,
                      QStringLiteral("SELECT DSREGARQMAG FROM REGARQCOMPRALEG WHERE"
                                     " NRSEQARQMAG = '%1' ORDER BY NRORDREGARQ;")
                          .arg(continuation)});
        sqlite.waitForFinished(-1);
        tool = clock.nsecsElapsed() / 1e9;
        std::printf("sqlite3 tool wrote %lld bytes in %.2f s\n", qlonglong(QFileInfo(out).size()),
                    tool);
    }

    QCryptographicHash served(QCryptographicHash::Sha256);
    qint64 lines = 0, pages = 0;
    double paging = 0, decoding = 0;
    QString more = answer.at(3).toText();
    while (more == u"S") {
        first = last + 1;
        last = last + 50000;
        clock.restart();
        answer = call();
        paging += clock.nsecsElapsed() / 1e9;
        ++pages;
        more = answer.at(3).toText();
        clock.restart();
        const DataPacket page = decodePacket(answer.at(1).toPacket());
        for (const DataRow &row : page.rows) {
            served.addData(row.at(2).toString().toLatin1());
            served.addData(QByteArrayView("\r\n"));
        }
        lines += qint64(page.rows.size());
        decoding += clock.nsecsElapsed() / 1e9;
    }
    const qint64 peak = peakMemoryKb(server.pid());

    // As often as the client asks after the pages of a million-line file.
    double pendingAfter = 0, pendingAfterWorst = 0;
    std::size_t pendingRowsAfter = 0;
    constexpr int refreshes = 21;
    for (int n = 0; n < refreshes; ++n) {
        const auto [seconds, count] = pendingNotas();
        pendingAfter += seconds;
        pendingAfterWorst = std::max(pendingAfterWorst, seconds);
        pendingRowsAfter = count;
    }
    client.close();
    server.stop();
    if (qEnvironmentVariableIsSet("BENCH_SERVER_LOG"))
        std::fputs(server.log().toUtf8().constData(), stdout);

    const double total = generation + paging;
    std::printf("file lines:            %lld in %lld pages\n", qlonglong(lines), qlonglong(pages));
    std::printf("lines sha256:          %s\n", served.result().toHex().constData());
    std::printf("generation:            %.2f s (%.0f lines/s)\n", generation, lines / generation);
    std::printf("paging (calls):        %.2f s (%.0f lines/s)\n", paging, lines / paging);
    std::printf("server total:          %.2f s (generation + paging)\n", total);
    std::printf("client page decoding:  %.2f s\n", decoding);
    std::printf("sqlite3 tool:          %.2f s (%.0f lines/s)\n", tool, lines / tool);
    std::printf("server total / tool:   %.2f (the whole export must stay within 10)\n",
                total / tool);
    std::printf("GetNotaFiscal pending after the export: %.1f ms a call (worst %.1f ms, %d calls,"
                " %zu invoices)\n",
                pendingAfter * 1000 / refreshes, pendingAfterWorst * 1000, refreshes,
                pendingRowsAfter);
    std::printf("server peak memory:    %lld kB (VmHWM; %lld kB before the build)\n",
                qlonglong(peak), qlonglong(peakBeforeBuild));
    return 0;
}
