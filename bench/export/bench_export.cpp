// Times one whole export the way the screen runs it: the real server process, the real protocol
// and ExportRun writing the file, against the sqlite3 command-line tool writing the same lines
// from the database; checks that both files hold the same lines. Then compares the client's peak
// memory for a small and a large export, which must stay about the same.
//
//     bench_export [small_items large_items [invoices]]
//         Both exports hold the same invoices (default 25000) and differ in the items per
//         invoice (default 9 and 39, about 250,000 and 1,000,000 lines: one record 50 per
//         invoice, one record 54 per item). The invoice list the client loads and marks before
//         the export is then the same size in both, so a difference in its peak memory comes
//         from the export itself.
//     bench_export --by-invoices [small large]
//         The same lines reached by more invoices of three items each (default 62500 and
//         250000); here the loaded list grows with the file.
//
// Every export runs in a fresh child process of this program (mode --client), against its own
// freshly seeded database and server, so that its peak memory (VmHWM) is its own. Needs
// FIS_BIN_DIR (or the server beside this program) and the sqlite3 tool on PATH.
#include "compralegal/exportrun.h"
#include "contracts/compralegalcontract.h"
#include "dataset/memtable.h"
#include "demodata.h"
#include "rpc/memorypolicy.h"
#include "rpcclient/netconnection.h"
#include "testsupport/seeding.h"
#include "testsupport/serverprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <stdexcept>

using namespace fis;
using namespace fis::compralegal;

namespace {

const QString kCompany = QStringLiteral("01");
const QString kTax = QStringLiteral("01");
const QString kRegistration = QStringLiteral("052147836");
const QDate kStart(2025, 1, 1);
const QDate kEnd(2025, 5, 20);

qint64 statusKb(const QString &pid, const char *key)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression re(QLatin1StringView(key) + QStringLiteral(":\\s+(\\d+) kB"));
    const auto m = re.match(QString::fromLatin1(status.readAll()));
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

// User and system CPU ticks the process has used so far.
qint64 cpuTicks(const QString &pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which may hold blanks: state is the first, utime the 12th.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : -1;
}

double seconds(const QElapsedTimer &clock)
{
    return clock.nsecsElapsed() / 1e9;
}

// ---------------------------------------------------------------------------------------------
// The client: a fresh process per export.

// The invoice list as the filter dialog confirmed it: company, registration, period, pending.
NotaFiscalRequest invoiceRequest()
{
    NotaFiscalRequest request;
    request.empresa = kCompany;
    request.inscEstadual = kRegistration;
    request.inicio = kStart;
    request.fim = kEnd;
    return request;
}

class BenchHost : public ExportRunHost
{
public:
    BenchHost(NetConnection &connection, MemTable &notas)
        : m_connection(connection)
        , m_notas(notas)
    {}

    void showWait() override {}
    void hideWait() override {}

    void progress(const ExportProgress &p) override
    {
        if (p.stage == ExportProgress::Stage::Fetching && p.page == 1 && p.file == 1) {
            listSent = clock->nsecsElapsed();
            hwmListSentKb = statusKb(QStringLiteral("self"), "VmHWM");
        }
        if (p.stage == ExportProgress::Stage::Written && p.page == 1 && p.file == 1) {
            firstPageWritten = clock->nsecsElapsed();
            hwmFirstPageKb = statusKb(QStringLiteral("self"), "VmHWM");
        }
        if (onProgress)
            onProgress(p);
    }

    // As the screen does: the list again with the filter's criteria and the status by
    // reference.
    void reloadInvoices() override
    {
        QElapsedTimer t;
        t.start();
        m_status = QString(kStatusPending);
        NotaFiscalRequest request = invoiceRequest();
        request.statusRef = &m_status;
        m_notas.loadFromPacket(callGetNotaFiscal(m_connection.appServer(), request));
        reloading += t.nsecsElapsed();
        ++reloads;
    }

    const QElapsedTimer *clock = nullptr;
    std::function<void(const ExportProgress &)> onProgress;
    qint64 listSent = 0, firstPageWritten = 0, reloading = 0, hwmListSentKb = -1;
    qint64 hwmFirstPageKb = -1; // one page held: what the later pages should not raise
    int reloads = 0;

private:
    NetConnection &m_connection;
    MemTable &m_notas;
    QString m_status;
};

// Prints "key value" lines for the parent.
int clientMain(quint16 port, const QString &serverPid, const QString &dbPath,
               const QString &toolOut)
{
    NetConnection connection;
    connection.setServerName(serverObjectName());
    connection.setHost(QStringLiteral("127.0.0.1"));
    connection.setPort(port);
    connection.open();

    MemTable notas(QStringLiteral("cdsNotaFiscal"));
    notas.setFields(notaFiscalFields());
    MemTable lista(QStringLiteral("cdsLista"));
    lista.setFields(listaFields());
    MemTable arquivos(QStringLiteral("cdsArquivos"));
    arquivos.setFields(arquivosFields());
    MemTable registros(QStringLiteral("cdsRegistros"));
    registros.setFields(registrosFields());

    // What the user does before the export: load the pending invoices and mark them all.
    QElapsedTimer clock;
    clock.start();
    {
        QString status = QString(kStatusPending);
        NotaFiscalRequest request = invoiceRequest();
        request.statusRef = &status;
        notas.loadFromPacket(callGetNotaFiscal(connection.appServer(), request));
    }
    const int field = notas.indexOfField(QStringLiteral("IDSTATUS"));
    for (notas.first(); !notas.eof(); notas.next()) {
        notas.edit();
        notas.setValue(field, QString(kMarked));
        notas.post();
    }
    std::printf("invoices %d\n", notas.recordCount());
    std::printf("list_load_s %.3f\n", seconds(clock));
    std::printf("hwm_before_kb %lld\n", statusKb(QStringLiteral("self"), "VmHWM"));

    BenchHost host(connection, notas);
    ExportRun exportRun(connection, {&notas, &lista, &arquivos, &registros}, host);
    ExportRunInput input;
    input.empresa = kCompany;
    input.imposto = kTax;
    input.nomeArquivo = QStringLiteral("BENCH.TXT");
    input.inicio = kStart;
    input.fim = kEnd;

    // The tool writes the same SELECT the server pages. It must run while the file's lines are
    // still stored (the server deletes them after the last page), so it runs just before the
    // last page is fetched: by then the server has long finished the build and its checkpoint.
    // The export's clock does not run meanwhile. The line count that tells the last page is
    // taken once the first call has built the file.
    const auto sqlite3Tool = [&](const QStringList &args) {
        QProcess sqlite;
        sqlite.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sqlite.start(QStringLiteral("sqlite3"), QStringList{dbPath} + args);
        if (!sqlite.waitForFinished(-1) || sqlite.exitCode() != 0)
            qFatal("sqlite3 failed");
        return sqlite.readAllStandardOutput();
    };
    const QString ofTheFile =
        QStringLiteral(" FROM REGARQCOMPRALEG WHERE NRSEQARQMAG ="
                       " (SELECT NRSEQARQMAG FROM ARQCOMPRALEG WHERE NRLISTA = '%1')");
    double tool = 0;
    qint64 paused = 0, storedLines = -1, lastPage = -1, serverCpuDuringTool = -1;
    host.clock = &clock;
    host.onProgress = [&](const ExportProgress &p) {
        QElapsedTimer t;
        t.start();
        if (p.stage == ExportProgress::Stage::Written && p.page == 1) {
            storedLines = sqlite3Tool({QStringLiteral("SELECT count(*)") +
                                       ofTheFile.arg(exportRun.listNumber())})
                              .trimmed()
                              .toLongLong();
            lastPage = (storedLines + qint64(kPageSize) - 1) / qint64(kPageSize);
        }
        if (p.stage == ExportProgress::Stage::Fetching && p.page == lastPage) {
            const qint64 cpuBefore = cpuTicks(serverPid);
            QElapsedTimer toolClock;
            toolClock.start();
            sqlite3Tool({QStringLiteral(".output ") + toolOut,
                         QStringLiteral("SELECT DSREGARQMAG") +
                             ofTheFile.arg(exportRun.listNumber()) +
                             QStringLiteral(" ORDER BY NRORDREGARQ;")});
            tool = seconds(toolClock);
            serverCpuDuringTool = cpuTicks(serverPid) - cpuBefore;
        }
        paused += t.nsecsElapsed();
    };

    clock.restart();
    const QList<WrittenFile> written = exportRun.run(input);
    const qint64 total = clock.nsecsElapsed() - paused;
    if (written.size() != 1)
        qFatal("expected one file, got %d", int(written.size()));
    if (tool == 0)
        qFatal("the tool did not run: the file needs two pages at least (%lld lines)", storedLines);

    std::printf("file %s\n", qPrintable(written.first().path));
    std::printf("lines %lld\n", written.first().lines);
    std::printf("export_s %.3f\n", total / 1e9);
    std::printf("until_list_sent_s %.3f\n", host.listSent / 1e9);
    std::printf("first_page_s %.3f\n", (host.firstPageWritten - host.listSent) / 1e9);
    std::printf("reloads %d\n", host.reloads);
    std::printf("reloading_s %.3f\n", host.reloading / 1e9);
    std::printf("tool_s %.3f\n", tool);
    std::printf("stored_lines %lld\n", storedLines);
    std::printf("paused_s %.3f\n", paused / 1e9);
    std::printf("server_ticks_during_tool %lld\n", serverCpuDuringTool);
    std::printf("hwm_list_sent_kb %lld\n", host.hwmListSentKb);
    std::printf("hwm_first_page_kb %lld\n", host.hwmFirstPageKb);
    std::printf("hwm_kb %lld\n", statusKb(QStringLiteral("self"), "VmHWM"));
    std::fflush(stdout);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The parent: seeds, serves, runs a client and checks its file.

struct Comparison
{
    qint64 lines = 0;
    bool equal = false;
    QString detail;
};

// The export writes ISO-8859-1 lines ended by CR LF; the tool UTF-8 lines ended by LF.
Comparison compareFiles(const QString &exported, const QString &tool)
{
    Comparison c;
    QFile a(exported), b(tool);
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly)) {
        c.detail = QStringLiteral("cannot open the files");
        return c;
    }
    while (true) {
        const bool endA = a.atEnd(), endB = b.atEnd();
        if (endA || endB) {
            c.equal = endA && endB;
            if (!c.equal)
                c.detail = QStringLiteral("%1 ends first, after %2 lines")
                               .arg(endA ? QStringLiteral("the export") : QStringLiteral("sqlite3"))
                               .arg(c.lines);
            return c;
        }
        QByteArray la = a.readLine(), lb = b.readLine();
        ++c.lines;
        if (!la.endsWith("\r\n") || !lb.endsWith('\n') || lb.endsWith("\r\n")) {
            c.detail = QStringLiteral("line %1: wrong line end").arg(c.lines);
            return c;
        }
        la.chop(2);
        lb.chop(1);
        if (la != lb && QString::fromLatin1(la) != QString::fromUtf8(lb)) {
            c.detail = QStringLiteral("line %1 differs:\n  export:  %2\n  sqlite3: %3")
                           .arg(c.lines)
                           .arg(QString::fromLatin1(la), QString::fromUtf8(lb));
            return c;
        }
    }
}

// Sums the server's log lines ("peer object.method 12.3 ms ok") per method; the first
// GetRegistro, which builds the file, apart from the pages after it.
QString serverTimes(const QString &logPath)
{
    QFile log(logPath);
    if (!log.open(QIODevice::ReadOnly))
        return QStringLiteral("no server log");
    static const QRegularExpression call(QStringLiteral("^\\S+ \\S+\\.(\\w+) ([0-9.]+) ms"));
    QStringList order;
    QHash<QString, QPair<int, double>> sums;
    while (!log.atEnd()) {
        const auto m = call.match(QString::fromUtf8(log.readLine()));
        if (!m.hasMatch())
            continue;
        QString method = m.captured(1);
        if (method == u"GetRegistro" && !sums.contains(method) &&
            !sums.contains(QStringLiteral("GetRegistro (first)")))
            method = QStringLiteral("GetRegistro (first)");
        if (!sums.contains(method))
            order << method;
        sums[method].first += 1;
        sums[method].second += m.captured(2).toDouble();
    }
    QString text;
    for (const QString &method : std::as_const(order))
        text += QStringLiteral("\n    %1 %2 x, %3 s")
                    .arg(method + u':', -24)
                    .arg(sums[method].first)
                    .arg(sums[method].second / 1000, 0, 'f', 2);
    return text;
}

struct ExportFigures
{
    QHash<QString, QString> values;
    Comparison comparison;
    double setup = 0;
    qint64 serverHwmKb = -1;
    QString serverCalls; // the server's own time per method, from its log

    double number(const char *key) const { return values.value(QLatin1StringView(key)).toDouble(); }
};

// What one export seeds: generated invoices and items per invoice.
struct Size
{
    int invoices = 0;
    int items = 0;
};

ExportFigures exportOnce(Size size)
{
    ExportFigures figures;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.sqlite"));
    const QString outputDir = dir.filePath(QStringLiteral("out"));
    QDir().mkpath(outputDir);
    QElapsedTimer clock;
    clock.start();
    generateDemoDatabase(path, 1000, 1);
    test::addInvoices(path, size.invoices, size.items);

    test::ServerProcess server(path, outputDir);
    if (!server.isRunning())
        qFatal("the server did not start");
    const quint16 port = server.port();
    figures.setup = seconds(clock);

    const QString toolOut = dir.filePath(QStringLiteral("tool.txt"));
    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    client.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--client"), QString::number(port), QString::number(server.pid()),
                  path, toolOut});
    if (!client.waitForFinished(-1) || client.exitStatus() != QProcess::NormalExit ||
        client.exitCode() != 0)
        qFatal("the client failed (exit %d)", client.exitCode());
    const QList<QByteArray> lines = client.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        const qsizetype space = line.indexOf(' ');
        if (space > 0)
            figures.values.insert(QString::fromUtf8(line.left(space)),
                                  QString::fromUtf8(line.mid(space + 1)));
    }
    figures.serverHwmKb = statusKb(QString::number(server.pid()), "VmHWM");
    server.stop();

    figures.serverCalls = serverTimes(server.logPath());
    figures.comparison = compareFiles(figures.values.value(QStringLiteral("file")), toolOut);
    return figures;
}

void printExport(const char *title, Size size, const ExportFigures &f)
{
    const double exportS = f.number("export_s"), toolS = f.number("tool_s");
    std::printf("\n%s: %d generated invoices of %d items, %d in the list, %lld lines\n", title,
                size.invoices, size.items, int(f.number("invoices")), qlonglong(f.number("lines")));
    std::printf("  setup (database, server):      %.1f s\n", f.setup);
    std::printf("  list load and marking:         %.2f s (before the export, not timed)\n",
                f.number("list_load_s"));
    std::printf("  export (ExportRun::run):       %.2f s\n", exportS);
    std::printf("    up to getNotasMarcadas:      %.2f s\n", f.number("until_list_sent_s"));
    std::printf("    first page (builds file):    %.2f s\n", f.number("first_page_s"));
    std::printf("    later pages:                 %.2f s\n",
                exportS - f.number("until_list_sent_s") - f.number("first_page_s"));
    std::printf("    invoice reloads:             %d, %.2f s in all\n", int(f.number("reloads")),
                f.number("reloading_s"));
    std::printf("  sqlite3 tool:                  %.2f s (server CPU meanwhile: %lld ticks)\n",
                toolS, qlonglong(f.number("server_ticks_during_tool")));
    std::printf("  export clock stopped:          %.2f s (line count and tool, not timed)\n",
                f.number("paused_s"));
    std::printf("  export / sqlite3:              %.2f (target at most 10)\n", exportS / toolS);
    std::printf("  files match:                   %s (%lld lines compared)%s%s\n",
                f.comparison.equal ? "yes" : "NO", qlonglong(f.comparison.lines),
                f.comparison.detail.isEmpty() ? "" : "\n    ", qPrintable(f.comparison.detail));
    std::printf("  client peak memory:            %lld kB (VmHWM; %lld kB before the run, with the"
                " invoice list loaded; %lld kB once getNotasMarcadas answered; %lld kB once the"
                " first page was written)\n",
                qlonglong(f.number("hwm_kb")), qlonglong(f.number("hwm_before_kb")),
                qlonglong(f.number("hwm_list_sent_kb")), qlonglong(f.number("hwm_first_page_kb")));
    std::printf("  server peak memory:            %lld kB (VmHWM)\n", qlonglong(f.serverHwmKb));
    std::printf("  server time per method (its log, the list load included):%s\n",
                qPrintable(f.serverCalls));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 6 && args.at(1) == u"--client") {
        // As fis-host and fis11000-export do.
        useSystemMemoryForLargeBlocks();
        return clientMain(quint16(args.at(2).toUInt()), args.at(3), args.at(4), args.at(5));
    }

    // Either the items per invoice grow (the default) or, for comparison, the invoices do.
    const bool byInvoices = args.size() > 1 && args.at(1) == u"--by-invoices";
    const QStringList sizes = args.mid(byInvoices ? 2 : 1);
    const auto arg = [&](int i, int fallback) {
        return sizes.size() > i ? sizes.at(i).toInt() : fallback;
    };
    Size small, large;
    if (byInvoices) {
        small = {arg(0, 62500), 3};
        large = {arg(1, 250000), 3};
    } else {
        const int invoices = arg(2, 25000);
        small = {invoices, arg(0, 9)};
        large = {invoices, arg(1, 39)};
    }
    // NRITEM and the item number of record 54 hold three digits.
    for (const Size &s : {small, large})
        if (s.invoices < 1 || s.items < 1 || s.items > 999)
            qFatal("bad size: %d invoices of %d items (items 1 to 999)", s.invoices, s.items);

    const ExportFigures smallRun = exportOnce(small);
    printExport("small export", small, smallRun);
    const ExportFigures largeRun = exportOnce(large);
    printExport("large export", large, largeRun);

    const auto row = [](const char *label, const QString &a, const QString &b) {
        std::printf("  %-32s %14s %14s\n", label, qPrintable(a), qPrintable(b));
    };
    const auto both = [&](const char *label, const char *key, int decimals) {
        row(label, QString::number(smallRun.number(key), 'f', decimals),
            QString::number(largeRun.number(key), 'f', decimals));
    };
    const auto ratio = [](const ExportFigures &f) {
        return QString::number(f.number("export_s") / f.number("tool_s"), 'f', 2);
    };
    const auto equal = [](const ExportFigures &f) {
        return f.comparison.equal ? QStringLiteral("yes") : QStringLiteral("NO");
    };
    const double smallKb = smallRun.number("hwm_kb"), largeKb = largeRun.number("hwm_kb");
    std::printf("\nsummary (%s)\n",
                byInvoices ? "more invoices, three items each" : "same invoices, more items each");
    row("", QStringLiteral("small"), QStringLiteral("large"));
    both("lines", "lines", 0);
    row("invoices generated", QString::number(small.invoices), QString::number(large.invoices));
    both("invoices in the list", "invoices", 0);
    row("items per invoice", QString::number(small.items), QString::number(large.items));
    both("export (s)", "export_s", 2);
    both("sqlite3 tool (s)", "tool_s", 2);
    row("export / sqlite3 (at most 10)", ratio(smallRun), ratio(largeRun));
    row("files equal", equal(smallRun), equal(largeRun));
    both("client peak with the list (kB)", "hwm_before_kb", 0);
    both("client peak, first page (kB)", "hwm_first_page_kb", 0);
    both("client peak (kB)", "hwm_kb", 0);
    std::printf("  client peak, large vs small:     %+.1f %% (target within 10 %%)\n",
                (largeKb - smallKb) * 100.0 / smallKb);
    return 0;
}
