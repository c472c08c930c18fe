// Builds and pages one Compra LEGAL file of about a million lines through the real server, and
// times the sqlite3 command-line tool writing the same lines from a table for comparison.
// Prints generation, paging, their sum (the server's side of an export) against the tool's time,
// the server's peak memory and a hash of the lines served, to compare runs of different builds.
// Also times the calls around the file: getNotasMarcadas with the whole list, and GetNotaFiscal
// for the pending invoices before the export (every invoice) and after it (none of them), the
// call the client repeats after every page. The lines served are written to a file, checked on
// their own (layout, counts against the seeded invoices) and against the tool's output.
//
//     bench_server [--invoices N | N] [--page-size LINES]  (default 250000 invoices of three items)
//
// Needs FIS_BIN_DIR (or the server beside this program) and the sqlite3 tool on PATH.
#include "benchsupport/comprafile.h"
#include "benchsupport/figure.h"
#include "benchsupport/procstat.h"
#include "benchsupport/toolbaseline.h"
#include "dataset/datapacket.h"
#include "demodata.h"
#include "rpcclient/netconnection.h"
#include "testsupport/seeding.h"
#include "testsupport/serverprocess.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <tuple>
#include <utility>

using namespace fis;
using namespace fis::bench;

namespace {

double secondsOf(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e9;
}

// The client's refresh of the grid: company 01, pending, the period, minimum value 0.
std::pair<double, size_t> pendingNotas(NetConnection &client)
{
    QString series, operations;
    QElapsedTimer t;
    t.start();
    const RpcValue answer = client.call(QStringLiteral("GetNotaFiscal"),
                                        {"01", "", "", "", "", "", byRef(series), byRef(operations),
                                         QDate(2025, 1, 1), QDate(2025, 5, 20), "N", 0.0});
    const double seconds = secondsOf(t);
    return std::pair(seconds, decodePacket(answer.toPacket()).rows.size());
}

// getNotasMarcadas with the seeded invoices, the first one carrying the registration.
void sendList(NetConnection &client, const QString &list, int invoices)
{
    std::vector<DataRow> rows;
    for (int n = 1; n <= invoices; ++n)
        rows.push_back(DataRow{list, QStringLiteral("0001B%1").arg(n, 9, 10, QLatin1Char('0')),
                               n == 1 ? QStringLiteral("052147836") : QString()});
    const QList<FieldDef> fields = {
        {QStringLiteral("NRLISTA"), FieldType::String, 10, {}, true, false, false, {}},
        {QStringLiteral("CDLISTA"), FieldType::String, 50, {}, true, false, false, {}},
        {QStringLiteral("CDINSCESTA"), FieldType::String, 20, {}, true, false, false, {}}};
    client.call(QStringLiteral("getNotasMarcadas"),
                {RpcValue::fromPacket(encodePacket(fields, rows))});
}

struct Paged
{
    double generation = 0, paging = 0, decoding = 0;
    qint64 lines = 0, pages = 0, invoices = 0;
    QByteArray sha256;
    Check check;
};

// Bounds 0 and 0: the first call builds the file and hands out no line, so that generation
// and paging are timed apart. The pages are written to `path` as the client writes them.
Paged buildAndPage(NetConnection &client, QString list, const QString &path)
{
    Paged p;
    QString baseName = QStringLiteral("BENCH"), continuation, lastFile = QStringLiteral("F");
    double first = 0, last = 0;
    const auto call = [&] {
        return client.call(QStringLiteral("GetRegistro"),
                           {byRef(baseName), "01", "01", QDate(2025, 1, 1), QDate(2025, 5, 20),
                            byRef(continuation), "S", byRef(first), byRef(last), "052147836",
                            byRef(lastFile), byRef(list)});
    };
    QElapsedTimer clock;
    clock.start();
    RpcValue answer = call();
    p.generation = secondsOf(clock);
    if (!p.check.require(answer.at(0).toText() == u"OK",
                         QStringLiteral("GetRegistro: %1").arg(answer.at(0).toText())))
        return p;
    continuation = answer.at(4).toText();
    QFile out(path);
    p.check.require(out.open(QIODevice::WriteOnly), QStringLiteral("cannot write %1").arg(path));
    QCryptographicHash served(QCryptographicHash::Sha256);
    for (QString more = answer.at(3).toText(); more == u"S"; more = answer.at(3).toText()) {
        first = last + 1;
        last = last + 50000;
        clock.restart();
        answer = call();
        p.paging += secondsOf(clock);
        ++p.pages;
        clock.restart();
        const DataPacket page = decodePacket(answer.at(1).toPacket());
        for (const DataRow &row : page.rows) {
            const QByteArray line = row.at(2).toString().toLatin1() + "\r\n";
            served.addData(line);
            out.write(line);
        }
        p.lines += qint64(page.rows.size());
        p.decoding += secondsOf(clock);
    }
    p.sha256 = served.result().toHex();
    return p;
}

struct Calls
{
    double pendingBefore = 0, marked = 0, pendingAfter = 0, pendingAfterWorst = 0;
    size_t rowsBefore = 0, rowsAfter = 0;
    qint64 peakBeforeBuildKb = -1, peakKb = -1;
};

// The lines served, on their own and against the tool writing them from a table.
ToolBaseline checkServed(Paged &p, const QString &served, const QString &database, int invoices)
{
    const CompraFile file = readCompraFile(served);
    p.check.add(file.check);
    p.invoices = file.count("50");
    p.check.require(file.count("50") == invoices && file.count("54") == 3 * qint64(invoices),
                    QStringLiteral("%1 invoices and %2 items served of %3 invoices of three items")
                        .arg(file.count("50"))
                        .arg(file.count("54"))
                        .arg(invoices));
    const ToolBaseline tool =
        measureToolBaseline(DatabaseTarget::parse(database), {served}, QFileInfo(served).path());
    p.check.add(tool.check);
    return tool;
}

void printResult(const Paged &p, const Calls &c, const ToolBaseline &tool, int invoices)
{
    const double total = p.generation + p.paging;
    std::printf("GetNotaFiscal pending before the export: %.3f s (%zu invoices)\n", c.pendingBefore,
                c.rowsBefore);
    std::printf("getNotasMarcadas with %d invoices: %.2f s\n", invoices, c.marked);
    std::printf("file lines:            %lld in %lld pages\n", qlonglong(p.lines),
                qlonglong(p.pages));
    std::printf("lines sha256:          %s\n", p.sha256.constData());
    std::printf("generation:            %.2f s (%.0f lines/s)\n", p.generation,
                p.lines / p.generation);
    std::printf("paging (calls):        %.2f s (%.0f lines/s)\n", p.paging, p.lines / p.paging);
    std::printf("server total:          %.2f s (generation + paging)\n", total);
    std::printf("client page decoding:  %.2f s\n", p.decoding);
    std::printf("sqlite3 tool:          %.2f s (%.0f lines/s)\n", tool.seconds,
                p.lines / tool.seconds);
    std::printf("server total / tool:   %.2f\n", total / tool.seconds);
    std::printf("GetNotaFiscal pending after the export: %.1f ms a call (worst %.1f ms, %zu "
                "invoices)\n",
                c.pendingAfter * 1000, c.pendingAfterWorst * 1000, c.rowsAfter);
    std::printf("server peak memory:    %lld kB (VmHWM; %lld kB before the build)\n",
                qlonglong(c.peakKb), qlonglong(c.peakBeforeBuildKb));
    std::printf("checked:               %s\n",
                p.check.ok() ? "yes (lines, tool's lines)" : qPrintable(p.check.detail()));
}

void printFigures(const Paged &p, const Calls &c, const ToolBaseline &tool)
{
    Figure total;
    total.id = QStringLiteral("server.file");
    total.title =
        QStringLiteral("server's side of a file of %1 lines: build and pages").arg(p.lines);
    total.value = p.generation + p.paging;
    total.unit = QStringLiteral("s");
    total.baseline = tool.seconds;
    total.baselineName = QStringLiteral("sqlite3 writing the same lines");
    total.check = p.check;
    printFigure(total);

    Figure build = total;
    build.id = QStringLiteral("server.build");
    build.title = QStringLiteral("the file's first GetRegistro, which builds it");
    build.value = p.generation;
    build.baseline.reset();
    printFigure(build);

    Figure marked;
    marked.id = QStringLiteral("server.marked");
    marked.title = QStringLiteral("getNotasMarcadas with the whole list");
    marked.value = c.marked;
    marked.unit = QStringLiteral("s");
    marked.check = p.check;
    printFigure(marked);

    Figure after = marked;
    after.id = QStringLiteral("server.pendingafter");
    after.title = QStringLiteral("GetNotaFiscal of the pending invoices after the export, a call");
    after.value = c.pendingAfter;
    // Only the demo's invoices of other registrations stay pending.
    after.check.require(c.rowsAfter + size_t(p.invoices) == c.rowsBefore,
                        QStringLiteral("%1 invoices pending after the export, %2 before")
                            .arg(c.rowsAfter)
                            .arg(c.rowsBefore));
    printFigure(after);

    Figure memory = marked;
    memory.id = QStringLiteral("server.memory");
    memory.title = QStringLiteral("server's peak memory");
    memory.value = double(c.peakKb) / 1024;
    memory.unit = QStringLiteral("MB");
    printFigure(memory);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption invoicesOption(QStringLiteral("invoices"), {}, QStringLiteral("n"),
                                            QStringLiteral("250000"));
    // The server's default page size unless told.
    const QCommandLineOption pageOption(QStringLiteral("page-size"), {}, QStringLiteral("lines"),
                                        QStringLiteral("200000"));
    parser.addOptions({invoicesOption, pageOption});
    parser.process(app);
    // A bare number is the invoices too, as the program has always taken it.
    const QStringList positional = parser.positionalArguments();
    const int invoices =
        (positional.isEmpty() ? parser.value(invoicesOption) : positional.first()).toInt();

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.sqlite"));
    QElapsedTimer clock;
    clock.start();
    generateDemoDatabase(path, 1000, 1);
    test::addInvoices(path, invoices, 3);
    std::printf("seeded %d invoices of one registration in %.1f s\n", invoices, secondsOf(clock));

    auto server = std::make_unique<test::ServerProcess>(
        path, dir.path(), QStringList{QStringLiteral("--page-size"), parser.value(pageOption)});
    if (!server->isRunning())
        qFatal("the server did not start");
    const std::unique_ptr<NetConnection> client = server->connect();

    Calls c;
    std::tie(c.pendingBefore, c.rowsBefore) = pendingNotas(*client);
    const QString list = client->call(QStringLiteral("GetLista")).toText();
    clock.restart();
    sendList(*client, list, invoices);
    c.marked = secondsOf(clock);
    c.peakBeforeBuildKb = peakKb(server->pid());
    const QString served = dir.filePath(QStringLiteral("served.txt"));
    Paged p = buildAndPage(*client, list, served);
    c.peakKb = peakKb(server->pid());

    // As often as the client asks after the pages of a million-line file.
    constexpr int refreshes = 21;
    for (int n = 0; n < refreshes; ++n) {
        const auto [seconds, rows] = pendingNotas(*client);
        c.pendingAfter += seconds / refreshes;
        c.pendingAfterWorst = std::max(c.pendingAfterWorst, seconds);
        c.rowsAfter = rows;
    }
    client->close();
    server.reset();

    const ToolBaseline tool = checkServed(p, served, path, invoices);
    printResult(p, c, tool, invoices);
    printFigures(p, c, tool);
    return p.check.ok() ? 0 : 1;
}
