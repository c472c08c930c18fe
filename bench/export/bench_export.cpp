// Times one whole export the way the screen runs it: the real server process, the real protocol
// and ExportRun writing the file, against the engine's command-line tool (sqlite3, psql) writing
// the same lines from a table; checks the file on its own (layout, counts against the seeded
// invoices), against the tool's output line by line, and the exported flags in the database.
// Then compares the memory a small and a large export add, client and server, which must stay
// about the same.
//
//     bench_export [--invoices N] [--small ITEMS] [--large ITEMS]
//         Both exports hold the same invoices (default 25000) and differ in the items per
//         invoice (default 9 and 39, about 250,000 and 1,000,000 lines: one record 50 per
//         invoice, one record 54 per item). The invoice list the client loads and marks before
//         the export is then the same size in both, so a difference in memory comes from the
//         export itself.
//     bench_export --by-invoices [--small INVOICES] [--large INVOICES]
//         The same lines reached by more invoices of three items each (default 62500 and
//         250000); here the loaded list grows with the file. The large list also gives the
//         client's memory per loaded invoice.
//     --engine postgresql   the database on the throwaway PostgreSQL server (scripts/engines),
//                           the large export only; the baseline is psql's \copy
//     --page-size N         the server's page size (default its own, 200000 lines)
//
// Every export runs in a fresh child process of this program (mode --client), against its own
// freshly seeded database and server, so that its peak memory (VmHWM) is its own. Needs
// FIS_BIN_DIR (or the server beside this program) and the tool on PATH.
#include "benchsupport/comprafile.h"
#include "benchsupport/figure.h"
#include "benchsupport/procstat.h"
#include "benchsupport/toolbaseline.h"
#include "compralegal/exportrun.h"
#include "contracts/compralegalcontract.h"
#include "dataset/memtable.h"
#include "demodata.h"
#include "rpc/memorypolicy.h"
#include "rpcclient/netconnection.h"
#include "sqldb/sqldatabase.h"
#include "testsupport/enginedatabase.h"
#include "testsupport/seeding.h"
#include "testsupport/serverprocess.h"
#include "testsupport/testclient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <memory>

using namespace fis;
using namespace fis::bench;
using namespace fis::compralegal;

namespace {

const QString kCompany = QStringLiteral("01");
const QString kTax = QStringLiteral("01");
const QString kRegistration = QStringLiteral("052147836");
const QDate kStart(2025, 1, 1);
const QDate kEnd(2025, 5, 20);

double seconds(qint64 nsecs)
{
    return double(nsecs) / 1e9;
}

// ---------------------------------------------------------------------------------------------
// The client: a fresh process per export.

// The invoice list as the filter dialog confirmed it: company, registration, period, pending.
NotaFiscalRequest invoiceRequest(QString *status)
{
    NotaFiscalRequest request;
    request.empresa = kCompany;
    request.inscEstadual = kRegistration;
    request.inicio = kStart;
    request.fim = kEnd;
    *status = QString(kStatusPending);
    request.statusRef = status;
    return request;
}

class BenchHost : public ExportRunHost
{
public:
    BenchHost(NetConnection &connection, MemTable &notas, const QElapsedTimer &clock)
        : m_connection(connection)
        , m_notas(notas)
        , m_clock(clock)
    {}

    void showWait() override {}
    void hideWait() override {}

    // A later page is timed from its call to its lines on disk, without the reload between.
    void progress(const ExportProgress &p) override
    {
        const qint64 now = m_clock.nsecsElapsed();
        const bool first = p.page == 1 && p.file == 1;
        if (p.stage == ExportProgress::Stage::Fetching) {
            if (first) {
                listSent = now;
                hwmListSentKb = peakKb();
            }
            m_pageStart = now;
            m_reloadingAtStart = reloading;
            return;
        }
        if (first) {
            firstPageWritten = now;
            hwmFirstPageKb = peakKb();
        }
        if (p.page > 1) {
            laterPages += now - m_pageStart - (reloading - m_reloadingAtStart);
            laterLines += p.lines - m_fileLines;
        }
        m_fileLines = p.lines;
    }

    // As the screen does: the list again with the filter's criteria and the status by
    // reference.
    void reloadInvoices() override
    {
        QElapsedTimer t;
        t.start();
        m_notas.loadFromPacket(
            callGetNotaFiscal(m_connection.appServer(), invoiceRequest(&m_status)));
        reloading += t.nsecsElapsed();
        ++reloads;
    }

    qint64 listSent = 0, firstPageWritten = 0, reloading = 0, laterPages = 0, laterLines = 0;
    qint64 hwmListSentKb = -1;
    qint64 hwmFirstPageKb = -1; // one page held: what the later pages should not raise
    int reloads = 0;

private:
    NetConnection &m_connection;
    MemTable &m_notas;
    const QElapsedTimer &m_clock;
    QString m_status;
    qint64 m_pageStart = 0, m_reloadingAtStart = 0, m_fileLines = 0;
};

void print(const char *key, qint64 value)
{
    std::printf("%s %lld\n", key, qlonglong(value));
}

void print(const char *key, double value)
{
    std::printf("%s %.6f\n", key, value);
}

// What the user does before the export: load the pending invoices and mark them all. The
// resident memory is read before and after the load, with the packet gone.
void loadAndMark(NetConnection &connection, MemTable &notas, qint64 serverPid)
{
    const qint64 rssBefore = residentKb();
    QElapsedTimer clock;
    clock.start();
    {
        QString status;
        const QByteArray packet =
            callGetNotaFiscal(connection.appServer(), invoiceRequest(&status));
        print("list_packet_bytes", qint64(packet.size()));
        notas.loadFromPacket(packet);
    }
    print("list_load_s", seconds(clock.nsecsElapsed()));
    print("rss_before_list_kb", rssBefore);
    print("rss_list_kb", residentKb());
    const int field = notas.indexOfField(QStringLiteral("IDSTATUS"));
    for (notas.first(); !notas.eof(); notas.next()) {
        notas.edit();
        notas.setValue(field, QString(kMarked));
        notas.post();
    }
    print("invoices", qint64(notas.recordCount()));
    print("hwm_before_kb", peakKb());
    print("server_hwm_list_kb", peakKb(serverPid));
}

// Prints "key value" lines for the parent.
int clientMain(quint16 port, qint64 serverPid)
{
    NetConnection connection;
    connection.setServerName(serverObjectName());
    connection.setHost(QStringLiteral("127.0.0.1"));
    connection.setPort(port);
    fis::test::useTestClient(connection);
    connection.open();

    RunTables tables;
    loadAndMark(connection, tables.notaFiscal, serverPid);

    QElapsedTimer clock;
    BenchHost host(connection, tables.notaFiscal, clock);
    ExportRun exportRun(connection, tables.tables(), host);
    ExportRunInput input;
    input.empresa = kCompany;
    input.imposto = kTax;
    input.nomeArquivo = QStringLiteral("BENCH.TXT");
    input.inicio = kStart;
    input.fim = kEnd;
    clock.start();
    const QList<WrittenFile> written = exportRun.run(input);
    const qint64 total = clock.nsecsElapsed();

    qint64 lines = 0;
    for (const WrittenFile &file : written) {
        std::printf("file %s\n", qPrintable(file.path));
        lines += file.lines;
    }
    print("lines", lines);
    print("export_s", seconds(total));
    print("until_list_sent_s", seconds(host.listSent));
    print("first_page_s", seconds(host.firstPageWritten - host.listSent));
    print("later_pages_s", seconds(host.laterPages));
    print("later_lines", host.laterLines);
    print("reloads", qint64(host.reloads));
    print("reloading_s", seconds(host.reloading));
    print("hwm_list_sent_kb", host.hwmListSentKb);
    print("hwm_first_page_kb", host.hwmFirstPageKb);
    print("hwm_kb", peakKb());
    std::fflush(stdout);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The parent: seeds, serves, runs a client and checks its file.

struct Options
{
    bool byInvoices = false;
    DatabaseEngine engine = DatabaseEngine::Sqlite;
    int invoices = 25000; // per export, when the items grow
    int small = 0, large = 0;
    int pageSize = 0; // 0: the server's own
};

// What one export seeds: generated invoices and items per invoice.
struct Size
{
    int invoices = 0;
    int items = 0;
};

// The invoices the client's list selects, counted in the database itself.
struct Selection
{
    qint64 invoices = 0, items = 0, exported = 0;
};

qint64 count(SqlConnection &db, const QByteArray &sql)
{
    SqlStatement statement(db, sql);
    return statement.step() ? statement.integer(0) : -1;
}

Selection pendingSelection(SqlConnection &db)
{
    const QByteArray date =
        db.engine() == DatabaseEngine::Sqlite ? "date(N.DTEMISSAO)" : "N.DTEMISSAO";
    const QByteArray where = " WHERE N.CDEMPRESA = '01' AND N.CDINSCESTA = '052147836' AND " +
                             date +
                             " BETWEEN '2025-01-01' AND '2025-05-20' AND"
                             " N.IDNFCOMPRALEG <> 'S'";
    Selection s;
    s.invoices = count(db, "SELECT COUNT(*) FROM NFCOMPRA N" + where);
    s.items = count(db, "SELECT COUNT(*) FROM NFCOMPRAITEM I JOIN NFCOMPRA N ON N.CDFILIAL ="
                        " I.CDFILIAL AND N.NRLANCTONF = I.NRLANCTONF" +
                            where);
    s.exported = count(db, "SELECT COUNT(*) FROM NFCOMPRA WHERE IDNFCOMPRALEG = 'S'");
    return s;
}

struct ExportFigures
{
    QHash<QString, QString> values;
    QStringList files;
    Selection expected;
    ToolBaseline tool;
    Check check;
    double setup = 0;
    qint64 serverHwmKb = -1;
    QString serverCalls; // the server's own time per method, from its log

    double number(const char *key) const { return values.value(QLatin1StringView(key)).toDouble(); }
    double exportSeconds() const { return number("export_s"); }
};

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
        if (method == u"GetRegistro" && !order.contains(QStringLiteral("GetRegistro (first)")))
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

// The client's "key value" lines; "file" may come more than once.
void readClient(ExportFigures &figures, const QByteArray &output)
{
    for (const QByteArray &line : output.split('\n')) {
        const qsizetype space = line.indexOf(' ');
        if (space <= 0)
            continue;
        const QString key = QString::fromUtf8(line.left(space));
        const QString value = QString::fromUtf8(line.mid(space + 1));
        if (key == u"file")
            figures.files << value;
        else
            figures.values.insert(key, value);
    }
}

// Runs the client against the server; false when it failed.
bool runClient(ExportFigures &figures, const test::ServerProcess &server)
{
    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    client.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--client"), QString::number(server.port()),
                  QString::number(server.pid())});
    const bool ran = client.waitForFinished(-1) && client.exitStatus() == QProcess::NormalExit &&
                     client.exitCode() == 0;
    readClient(figures, client.readAllStandardOutput());
    return figures.check.require(
        ran, QStringLiteral("the client failed (exit %1)").arg(client.exitCode()));
}

// The file against the seeded invoices, and the flags in the database afterwards.
void checkExport(ExportFigures &f, SqlConnection &db)
{
    const CompraFile file = readCompraFiles(f.files);
    f.check.add(file.check);
    const qint64 invoices = qint64(f.number("invoices"));
    f.check.require(invoices == f.expected.invoices,
                    QStringLiteral("%1 invoices listed, %2 pending in the database")
                        .arg(invoices)
                        .arg(f.expected.invoices));
    f.check.require(
        file.count("50") == f.expected.invoices && file.count("54") == f.expected.items,
        QStringLiteral("the file holds %1 invoices and %2 items, the database %3 and %4")
            .arg(file.count("50"))
            .arg(file.count("54"))
            .arg(f.expected.invoices)
            .arg(f.expected.items));
    f.check.require(file.lines == qint64(f.number("lines")),
                    QStringLiteral("the run wrote %1 lines, the files hold %2")
                        .arg(f.values.value(QStringLiteral("lines")))
                        .arg(file.lines));
    const Selection after = pendingSelection(db);
    f.check.require(after.invoices == 0 && after.exported == f.expected.exported + invoices,
                    QStringLiteral("after the export %1 invoices of the list are still pending and"
                                   " %2 more are exported, not %3")
                        .arg(after.invoices)
                        .arg(after.exported - f.expected.exported)
                        .arg(invoices));
}

// The database the server serves: the seeded SQLite file, or its copy on the engine's server.
struct ServedDatabase
{
    DatabaseTarget target;
    std::unique_ptr<test::EngineDatabase> engine;
};

ServedDatabase serve(const QString &sqlitePath, DatabaseEngine engine)
{
    ServedDatabase served;
    if (engine == DatabaseEngine::Sqlite) {
        served.target.database = sqlitePath;
        return served;
    }
    served.engine = std::make_unique<test::EngineDatabase>(engine);
    if (!served.engine->isValid())
        qFatal("%s", qPrintable(served.engine->error()));
    copyDemoDatabase(sqlitePath, served.engine->target());
    served.target = served.engine->target();
    return served;
}

ExportFigures exportOnce(Size size, const Options &options)
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
    figures.expected = pendingSelection(*openSqlDatabase(DatabaseTarget::parse(path)));
    const ServedDatabase db = serve(path, options.engine);
    QStringList serverArgs;
    if (options.pageSize > 0)
        serverArgs << QStringLiteral("--page-size") << QString::number(options.pageSize);
    test::ServerProcess server(db.target.toString(), outputDir, serverArgs);
    if (!server.isRunning())
        qFatal("the server did not start");
    figures.setup = seconds(clock.nsecsElapsed());

    const bool ran = runClient(figures, server);
    figures.serverHwmKb = peakKb(server.pid());
    server.stop();
    figures.serverCalls = serverTimes(server.logPath());
    if (!ran)
        return figures;
    checkExport(figures, *openSqlDatabase(db.target));
    figures.tool = measureToolBaseline(db.target, figures.files, dir.path());
    figures.check.add(figures.tool.check);
    return figures;
}

void printExport(const char *title, Size size, const ExportFigures &f)
{
    const double exportS = f.exportSeconds(), toolS = f.tool.seconds;
    std::printf("\n%s: %d generated invoices of %d items, %d in the list, %lld lines\n", title,
                size.invoices, size.items, int(f.number("invoices")), qlonglong(f.number("lines")));
    std::printf("  setup (database, server):      %.1f s\n", f.setup);
    std::printf("  list load and marking:         %.2f s (before the export, not timed)\n",
                f.number("list_load_s"));
    std::printf("  export (ExportRun::run):       %.2f s\n", exportS);
    std::printf("    up to getNotasMarcadas:      %.2f s\n", f.number("until_list_sent_s"));
    std::printf("    first page (builds file):    %.2f s\n", f.number("first_page_s"));
    std::printf("    later pages, no reloads:     %.2f s (%lld lines)\n", f.number("later_pages_s"),
                qlonglong(f.number("later_lines")));
    std::printf("    invoice reloads:             %d, %.2f s in all\n", int(f.number("reloads")),
                f.number("reloading_s"));
    std::printf("  %-30s %.2f s\n", qPrintable(f.tool.tool + QStringLiteral(" tool:")), toolS);
    std::printf("  export / tool:                 %.2f\n", exportS / toolS);
    std::printf("  checked:                       %s\n",
                f.check.ok() ? "yes (file, tool's lines, flags)" : qPrintable(f.check.detail()));
    std::printf("  client peak memory:            %lld kB (VmHWM; %lld kB before the run, with the"
                " invoice list loaded; %lld kB once getNotasMarcadas answered; %lld kB once the"
                " first page was written)\n",
                qlonglong(f.number("hwm_kb")), qlonglong(f.number("hwm_before_kb")),
                qlonglong(f.number("hwm_list_sent_kb")), qlonglong(f.number("hwm_first_page_kb")));
    std::printf("  server peak memory:            %lld kB (VmHWM; %lld kB with the list loaded)\n",
                qlonglong(f.serverHwmKb), qlonglong(f.number("server_hwm_list_kb")));
    std::printf("  server time per method (its log, the list load included):%s\n",
                qPrintable(f.serverCalls));
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------------------------
// The figures.

QString engineSuffix(const Options &o)
{
    return o.engine == DatabaseEngine::PostgreSql ? QStringLiteral(".postgresql") : QString();
}

void exportFigure(const Options &o, Size size, const ExportFigures &f)
{
    Figure figure;
    figure.id = (o.byInvoices ? QStringLiteral("export.250k") : QStringLiteral("export.25k")) +
                engineSuffix(o);
    figure.title = QStringLiteral("export of %1 lines, %2 invoices of %3 items, end to end")
                       .arg(qlonglong(f.number("lines")))
                       .arg(size.invoices)
                       .arg(size.items);
    figure.value = f.exportSeconds();
    figure.unit = QStringLiteral("s");
    figure.baseline = f.tool.seconds;
    figure.baselineName = f.tool.tool + QStringLiteral(" writing the same lines");
    figure.targetRatio = o.byInvoices ? 5.0 : 3.5;
    figure.check = f.check;
    printFigure(figure);
}

void pagesFigure(const Options &o, const ExportFigures &f)
{
    Figure figure;
    figure.id = QStringLiteral("pages.perline") + engineSuffix(o);
    figure.title = QStringLiteral("later pages alone per line (%1 lines after the first page)")
                       .arg(qlonglong(f.number("later_lines")));
    const double laterLines = f.number("later_lines");
    figure.value = laterLines > 0 ? f.number("later_pages_s") * 1e6 / laterLines : NAN;
    figure.unit = QStringLiteral("us");
    figure.baseline = f.tool.seconds * 1e6 / f.number("lines");
    figure.baselineName = f.tool.tool + QStringLiteral(" per line");
    figure.targetRatio = 1.5;
    figure.check = f.check;
    figure.check.require(laterLines > 0, QStringLiteral("the file had one page only"));
    printFigure(figure);
}

// What the export adds to the peak, small against large: within 10 % either way.
void memoryFigure(const Options &o, const char *who, double smallKb, double largeKb,
                  const Check &check)
{
    Figure figure;
    const QString kind = o.byInvoices ? QStringLiteral("invoices") : QStringLiteral("items");
    figure.id = QStringLiteral("memory.export.%1.%2").arg(kind, QLatin1StringView(who));
    figure.title = QStringLiteral("%1 memory the export adds, large vs small (%2: %3 vs %4 kB)")
                       .arg(QLatin1StringView(who), o.byInvoices ? QStringLiteral("more invoices")
                                                                 : QStringLiteral("more items"))
                       .arg(qlonglong(largeKb))
                       .arg(qlonglong(smallKb));
    figure.value = smallKb > 0 ? std::abs(largeKb - smallKb) * 100.0 / smallKb : NAN;
    figure.unit = QStringLiteral("%");
    figure.targetMax = 10;
    figure.check = check;
    figure.check.require(smallKb > 0, QStringLiteral("the small export added no memory"));
    printFigure(figure);
}

void memoryFigures(const Options &o, const ExportFigures &small, const ExportFigures &large)
{
    Check both = small.check;
    both.add(large.check);
    const auto client = [](const ExportFigures &f) {
        return f.number("hwm_kb") - f.number("hwm_before_kb");
    };
    const auto server = [](const ExportFigures &f) {
        return double(f.serverHwmKb) - f.number("server_hwm_list_kb");
    };
    memoryFigure(o, "client", client(small), client(large), both);
    memoryFigure(o, "server", server(small), server(large), both);
}

// The loaded list's resident memory per invoice against its packet's bytes per row.
void perInvoiceFigure(const ExportFigures &f)
{
    const double invoices = f.number("invoices");
    Figure figure;
    figure.id = QStringLiteral("memory.perinvoice");
    figure.title = QStringLiteral("client memory of a loaded list per invoice (%1 invoices)")
                       .arg(qlonglong(invoices));
    figure.value = (f.number("rss_list_kb") - f.number("rss_before_list_kb")) * 1024 / invoices;
    figure.unit = QStringLiteral("B");
    figure.baseline = f.number("list_packet_bytes") / invoices;
    figure.baselineName = QStringLiteral("its packet's bytes per row");
    figure.targetRatio = 2;
    figure.check = f.check;
    printFigure(figure);
}

Options parseOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption byInvoices(QStringLiteral("by-invoices"));
    const QCommandLineOption engine(QStringLiteral("engine"), {}, QStringLiteral("engine"),
                                    QStringLiteral("sqlite"));
    const QCommandLineOption invoices(QStringLiteral("invoices"), {}, QStringLiteral("n"));
    const QCommandLineOption small(QStringLiteral("small"), {}, QStringLiteral("n"));
    const QCommandLineOption large(QStringLiteral("large"), {}, QStringLiteral("n"));
    const QCommandLineOption pageSize(QStringLiteral("page-size"), {}, QStringLiteral("lines"));
    parser.addOptions({byInvoices, engine, invoices, small, large, pageSize});
    parser.process(arguments);
    Options o;
    o.byInvoices = parser.isSet(byInvoices);
    if (parser.value(engine) == u"postgresql")
        o.engine = DatabaseEngine::PostgreSql;
    else if (parser.value(engine) != u"sqlite")
        qFatal("--engine: sqlite or postgresql");
    o.invoices = parser.isSet(invoices) ? parser.value(invoices).toInt() : 25000;
    o.small = parser.isSet(small) ? parser.value(small).toInt() : (o.byInvoices ? 62500 : 9);
    o.large = parser.isSet(large) ? parser.value(large).toInt() : (o.byInvoices ? 250000 : 39);
    o.pageSize = parser.value(pageSize).toInt();
    return o;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args.at(1) == u"--client") {
        // As fis-host and fis11000-export do.
        reuseLargeBlocks();
        return clientMain(quint16(args.at(2).toUInt()), args.at(3).toLongLong());
    }
    const Options o = parseOptions(args);
    const Size small = o.byInvoices ? Size{o.small, 3} : Size{o.invoices, o.small};
    const Size large = o.byInvoices ? Size{o.large, 3} : Size{o.invoices, o.large};
    // NRITEM and the item number of record 54 hold three digits.
    for (const Size &s : {small, large})
        if (s.invoices < 1 || s.items < 1 || s.items > 999)
            qFatal("bad size: %d invoices of %d items (items 1 to 999)", s.invoices, s.items);

    // The memory figures compare two runs; on a server engine the large run alone is timed.
    const bool both = o.engine == DatabaseEngine::Sqlite;
    ExportFigures smallRun;
    if (both) {
        smallRun = exportOnce(small, o);
        printExport("small export", small, smallRun);
    }
    const ExportFigures largeRun = exportOnce(large, o);
    printExport("large export", large, largeRun);

    exportFigure(o, large, largeRun);
    if (!o.byInvoices)
        pagesFigure(o, largeRun);
    if (both)
        memoryFigures(o, smallRun, largeRun);
    if (o.byInvoices && both)
        perInvoiceFigure(largeRun);
    // A failed check fails the program too, for a run by hand.
    return largeRun.check.ok() && smallRun.check.ok() ? 0 : 1;
}
