// Many clients at once: by default 20 client processes, each loading 10,000 pending invoices of
// its own day and exporting them as a list of its own, all started together on one server
// (SQLite) or on two servers on one PostgreSQL database (the clients alternate between them).
// Each client's time runs from the common start to its file on disk; the figure is their 95th
// percentile against one client alone doing the same work on the same servers first. Checks
// every file on its own (layout, the client's invoices and items, its day as the period), that
// the files are distinct, and the exported flags in the database.
//
//     bench_clients [--clients N] [--invoices N] [--engine sqlite|postgresql] [--page-size N]
//
// Needs FIS_BIN_DIR (or the server beside this program); PostgreSQL needs the throwaway server
// of scripts/engines (FIS_PG_* variables).

#include "benchsupport/comprafile.h"
#include "benchsupport/figure.h"
#include "benchsupport/invoiceseed.h"
#include "benchsupport/procstat.h"
#include "compralegal/exportrun.h"
#include "contracts/compralegalcontract.h"
#include "demodata.h"
#include "rpc/memorypolicy.h"
#include "rpcclient/netconnection.h"
#include "sqldb/sqldatabase.h"
#include "testsupport/enginedatabase.h"
#include "testsupport/serverprocess.h"
#include "testsupport/testclient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

using namespace fis;
using namespace fis::bench;
using namespace fis::compralegal;

namespace {

// Client n's invoices are all issued on this day plus n; the demo's invoices end before it.
const QDate kFirstDay(2025, 7, 1);

class QuietHost : public ExportRunHost
{
public:
    QuietHost(NetConnection &connection, MemTable &notas, NotaFiscalRequest request)
        : m_connection(connection)
        , m_notas(notas)
        , m_request(request)
    {}
    void showWait() override {}
    void hideWait() override {}
    void reloadInvoices() override
    {
        m_status = QString(kStatusPending);
        m_request.statusRef = &m_status;
        m_notas.loadFromPacket(callGetNotaFiscal(m_connection.appServer(), m_request));
    }

private:
    NetConnection &m_connection;
    MemTable &m_notas;
    NotaFiscalRequest m_request;
    QString m_status;
};

// A client: connects, says "ready", waits for a line on stdin, then loads its day's pending
// invoices, marks them all and exports them; prints its time and its files.
int clientMain(quint16 port, const QDate &day, const QString &outputName)
{
    NetConnection connection;
    connection.setServerName(serverObjectName());
    connection.setHost(QStringLiteral("127.0.0.1"));
    connection.setPort(port);
    fis::test::useTestClient(connection);
    connection.open();
    std::printf("ready\n");
    std::fflush(stdout);
    char go[16];
    if (!std::fgets(go, sizeof go, stdin))
        return 1;

    QElapsedTimer clock;
    clock.start();
    NotaFiscalRequest request;
    request.empresa = QStringLiteral("01");
    request.inicio = day;
    request.fim = day;
    RunTables tables;
    QuietHost host(connection, tables.notaFiscal, request);
    host.reloadInvoices();
    MemTable &notas = tables.notaFiscal;
    const int invoices = notas.recordCount();
    const int field = notas.indexOfField(QStringLiteral("IDSTATUS"));
    for (notas.first(); !notas.eof(); notas.next()) {
        notas.edit();
        notas.setValue(field, QString(kMarked));
        notas.post();
    }
    ExportRun run(connection, tables.tables(), host);
    const QList<WrittenFile> written =
        run.run({QStringLiteral("01"), QStringLiteral("01"), outputName, day, day});
    std::printf("seconds %.6f\ninvoices %d\n", double(clock.nsecsElapsed()) / 1e9, invoices);
    for (const WrittenFile &file : written)
        std::printf("file %s\n", qPrintable(file.path));
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The parent.

struct Options
{
    int clients = 20;
    int invoices = 10000;
    DatabaseEngine engine = DatabaseEngine::Sqlite;
    int pageSize = 0;
};

struct ClientResult
{
    int index = 0; // 0: the lone client
    double seconds = NAN;
    qint64 invoices = -1;
    QStringList files;
    Check check;
};

QDate dayOf(int client)
{
    return kFirstDay.addDays(client);
}

class Client
{
public:
    Client(int index, quint16 port)
    {
        m_result.index = index;
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--client"), QString::number(port),
                         dayOf(index).toString(Qt::ISODate),
                         QStringLiteral("C%1.TXT").arg(index, 2, 10, QLatin1Char('0'))});
    }
    bool waitReady()
    {
        while (!m_process.canReadLine())
            if (!m_process.waitForReadyRead(60000))
                return false;
        return m_process.readLine().trimmed() == "ready";
    }
    // Written through at once: QProcess sends buffered bytes only from its event loop or while
    // waiting, and the clients must start together, not as each one is waited for.
    void go()
    {
        m_process.write("go\n");
        m_process.waitForBytesWritten(10000);
    }
    ClientResult finish()
    {
        const bool ran = m_process.waitForFinished(-1) &&
                         m_process.exitStatus() == QProcess::NormalExit &&
                         m_process.exitCode() == 0;
        m_result.check.require(ran, QStringLiteral("client %1 failed").arg(m_result.index));
        for (const QByteArray &line : m_process.readAllStandardOutput().split('\n')) {
            const QString text = QString::fromUtf8(line);
            if (text.startsWith(u"seconds "))
                m_result.seconds = text.mid(8).toDouble();
            else if (text.startsWith(u"invoices "))
                m_result.invoices = text.mid(9).toLongLong();
            else if (text.startsWith(u"file "))
                m_result.files << text.mid(5);
        }
        return m_result;
    }

private:
    QProcess m_process;
    ClientResult m_result;
};

// Starts the clients, waits until every one is connected, then lets them go at once.
std::vector<ClientResult> runClients(int first, int count, const QList<quint16> &ports)
{
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < count; ++i)
        clients.push_back(std::make_unique<Client>(first + i, ports.at(i % ports.size())));
    std::vector<ClientResult> results;
    for (auto &client : clients)
        if (!client->waitReady())
            qFatal("a client did not connect");
    for (auto &client : clients)
        client->go();
    for (auto &client : clients)
        results.push_back(client->finish());
    return results;
}

qint64 count(SqlConnection &db, const QByteArray &sql)
{
    SqlStatement statement(db, sql);
    return statement.step() ? statement.integer(0) : -1;
}

QByteArray dayClause(const SqlConnection &db, const QDate &day)
{
    const QByteArray date =
        db.engine() == DatabaseEngine::Sqlite ? "date(N.DTEMISSAO)" : "N.DTEMISSAO";
    return " WHERE N.CDEMPRESA = '01' AND " + date + " = '" + day.toString(Qt::ISODate).toLatin1() +
           "'";
}

// What a client's day holds in the database: its invoices and their items.
struct Day
{
    qint64 invoices = 0, items = 0;
};

Day dayCounts(SqlConnection &db, const QDate &day)
{
    const QByteArray where = dayClause(db, day);
    return {count(db, "SELECT COUNT(*) FROM NFCOMPRA N" + where),
            count(db, "SELECT COUNT(*) FROM NFCOMPRAITEM I JOIN NFCOMPRA N ON N.CDFILIAL ="
                      " I.CDFILIAL AND N.NRLANCTONF = I.NRLANCTONF" +
                          where)};
}

// A client's files against its day, the period they declare and the invoices exported.
void checkClient(ClientResult &r, SqlConnection &db, const Day &day)
{
    const CompraFile file = readCompraFiles(r.files);
    r.check.add(file.check);
    const QString who = QStringLiteral("client %1").arg(r.index);
    r.check.require(r.invoices == day.invoices && file.count("50") == day.invoices &&
                        file.count("54") == day.items,
                    QStringLiteral("%1 listed %2 invoices, its files hold %3 and %4 items, its day"
                                   " %5 and %6")
                        .arg(who)
                        .arg(r.invoices)
                        .arg(file.count("50"))
                        .arg(file.count("54"))
                        .arg(day.invoices)
                        .arg(day.items));
    r.check.require(file.start == dayOf(r.index) && file.end == dayOf(r.index),
                    who + QStringLiteral(": its file's period is not its day"));
    const qint64 pending =
        count(db, "SELECT COUNT(*) FROM NFCOMPRA N" + dayClause(db, dayOf(r.index)) +
                      " AND N.IDNFCOMPRALEG <> 'S'");
    r.check.require(pending == 0,
                    QStringLiteral("%1: %2 invoices still pending").arg(who).arg(pending));
}

// Every file a name and a content of its own.
Check checkDistinct(const std::vector<ClientResult> &results)
{
    Check check;
    QSet<QString> names;
    QSet<QByteArray> contents;
    qsizetype files = 0;
    for (const ClientResult &r : results)
        for (const QString &path : r.files) {
            QFile file(path);
            QCryptographicHash hash(QCryptographicHash::Sha256);
            if (file.open(QIODevice::ReadOnly))
                hash.addData(&file);
            ++files;
            names << path;
            contents << hash.result();
        }
    check.require(names.size() == files && contents.size() == files,
                  QStringLiteral("%1 files, %2 names, %3 contents")
                      .arg(files)
                      .arg(names.size())
                      .arg(contents.size()));
    return check;
}

// The demo's invoices, before the clients' days, that carry the exported flag: the clients'
// exports must leave them alone.
qint64 exportedBefore(SqlConnection &db)
{
    const QByteArray date = db.engine() == DatabaseEngine::Sqlite ? "date(DTEMISSAO)" : "DTEMISSAO";
    return count(db, "SELECT COUNT(*) FROM NFCOMPRA WHERE IDNFCOMPRALEG = 'S' AND " + date +
                         " < '" + kFirstDay.toString(Qt::ISODate).toLatin1() + "'");
}

double percentile95(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(std::ceil(0.95 * double(values.size())));
    return values.empty() ? NAN : values[std::max<size_t>(rank, 1) - 1];
}

struct Servers
{
    std::unique_ptr<test::EngineDatabase> engine;
    DatabaseTarget target;
    std::vector<std::unique_ptr<test::ServerProcess>> processes;

    QList<quint16> ports() const
    {
        QList<quint16> list;
        for (const auto &p : processes)
            list << p->port();
        return list;
    }
};

// One server on the SQLite file, or two on its copy on PostgreSQL.
void startServers(Servers &s, const QString &path, const Options &o, const QString &outputDir)
{
    s.target.database = path;
    if (o.engine != DatabaseEngine::Sqlite) {
        s.engine = std::make_unique<test::EngineDatabase>(o.engine);
        if (!s.engine->isValid())
            qFatal("%s", qPrintable(s.engine->error()));
        copyDemoDatabase(path, s.engine->target());
        s.target = s.engine->target();
    }
    QStringList args;
    if (o.pageSize > 0)
        args << QStringLiteral("--page-size") << QString::number(o.pageSize);
    const int count = o.engine == DatabaseEngine::Sqlite ? 1 : 2;
    for (int i = 0; i < count; ++i) {
        s.processes.push_back(
            std::make_unique<test::ServerProcess>(s.target.toString(), outputDir, args));
        if (!s.processes.back()->isRunning())
            qFatal("a server did not start");
    }
}

void printResult(const Options &o, const ClientResult &lone, const std::vector<ClientResult> &crowd,
                 const Check &check)
{
    std::vector<double> times;
    for (const ClientResult &r : crowd)
        times.push_back(r.seconds);
    const QString engine = o.engine == DatabaseEngine::Sqlite ? QStringLiteral("sqlite")
                                                              : QStringLiteral("postgresql");
    const double p95 = percentile95(times);
    std::printf("%d clients at once on %s (%s), %d invoices each\n", o.clients, qPrintable(engine),
                o.engine == DatabaseEngine::Sqlite ? "one server" : "two servers", o.invoices);
    std::printf("  one client alone:   %.2f s\n", lone.seconds);
    std::printf("  clients at once:    fastest %.2f s, p95 %.2f s, slowest %.2f s\n",
                *std::min_element(times.begin(), times.end()), p95,
                *std::max_element(times.begin(), times.end()));
    std::printf("  p95 / alone:        %.2f\n", p95 / lone.seconds);
    std::printf("  checked:            %s\n",
                check.ok() ? "yes (files, distinct, flags)" : qPrintable(check.detail()));
    Figure figure;
    figure.id = QStringLiteral("clients.") + engine;
    figure.title = QStringLiteral("%1 clients at once (%2), %3 invoices each loaded and exported, "
                                  "p95")
                       .arg(o.clients)
                       .arg(o.engine == DatabaseEngine::Sqlite ? QStringLiteral("one server")
                                                               : QStringLiteral("two servers"))
                       .arg(o.invoices);
    figure.value = p95;
    figure.unit = QStringLiteral("s");
    figure.baseline = lone.seconds;
    figure.baselineName = QStringLiteral("one client alone, same work");
    figure.targetRatio = 3;
    figure.check = check;
    printFigure(figure);
}

// The CPU time used so far by the clients that have ended and by the application servers (a
// PostgreSQL server's own processes are not ours to count).
struct CpuUse
{
    double clients = 0;
    double servers = 0;
    double operator-(const CpuUse &earlier) const
    {
        return clients - earlier.clients + servers - earlier.servers;
    }
};

CpuUse cpuUse(const Servers &servers)
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval &t) {
        return double(t.tv_sec) + t.tv_usec / 1e6;
    };
    CpuUse use;
    use.clients = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    const double tick = double(sysconf(_SC_CLK_TCK));
    for (const auto &p : servers.processes)
        use.servers += double(cpuTicks(p->pid())) / tick;
    return use;
}

// No schedule lets the last of the clients finish before their CPU time spread over every core:
// that time, against one client alone, is the lowest p95 / alone this machine can give.
void printCpuFloor(const Options &o, const ClientResult &lone, double crowdCpu)
{
    const int cores = std::max(1, QThread::idealThreadCount());
    const double floor = crowdCpu / cores;
    std::printf("  CPU of the crowd:   %.2f s on %d cores: no client set can end before %.2f s, "
                "%.2f x one alone\n",
                crowdCpu, cores, floor, floor / lone.seconds);
    Figure figure;
    figure.id = QStringLiteral("clients.%1.cpufloor")
                    .arg(o.engine == DatabaseEngine::Sqlite ? QStringLiteral("sqlite")
                                                            : QStringLiteral("postgresql"));
    figure.title = QStringLiteral("the crowd's CPU time over every core, the least its last "
                                  "client can take (servers and clients; not PostgreSQL's own)");
    figure.value = floor;
    figure.unit = QStringLiteral("s");
    figure.baseline = lone.seconds;
    figure.baselineName = QStringLiteral("one client alone");
    figure.check = Check{};
    printFigure(figure);
}

Options parseOptions(const QCoreApplication &app)
{
    QCommandLineParser parser;
    const QCommandLineOption clients(QStringLiteral("clients"), {}, QStringLiteral("n"),
                                     QStringLiteral("20"));
    const QCommandLineOption invoices(QStringLiteral("invoices"), {}, QStringLiteral("n"),
                                      QStringLiteral("10000"));
    const QCommandLineOption engine(QStringLiteral("engine"), {}, QStringLiteral("engine"),
                                    QStringLiteral("sqlite"));
    const QCommandLineOption pageSize(QStringLiteral("page-size"), {}, QStringLiteral("lines"),
                                      QStringLiteral("0"));
    parser.addOptions({clients, invoices, engine, pageSize});
    parser.process(app);
    Options o;
    o.clients = std::max(1, parser.value(clients).toInt());
    o.invoices = std::max(1, parser.value(invoices).toInt());
    o.pageSize = parser.value(pageSize).toInt();
    if (parser.value(engine) == u"postgresql")
        o.engine = DatabaseEngine::PostgreSql;
    else if (parser.value(engine) != u"sqlite")
        qFatal("--engine: sqlite or postgresql");
    return o;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args.at(1) == u"--client") {
        reuseLargeBlocks();
        return clientMain(quint16(args.at(2).toUInt()), QDate::fromString(args.at(3), Qt::ISODate),
                          args.at(4));
    }
    const Options o = parseOptions(app);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.sqlite"));
    const QString outputDir = dir.filePath(QStringLiteral("out"));
    QDir().mkpath(outputDir);
    generateDemoDatabase(path, 1000, 1);
    InvoiceBlock block;
    block.count = (o.clients + 1) * o.invoices;
    block.items = {3};
    block.first = kFirstDay;
    block.days = o.clients + 1;
    block.prefix = 'K';
    seedInvoices(path, block);
    const qint64 demoExported = exportedBefore(*openSqlDatabase(DatabaseTarget::parse(path)));
    Servers servers;
    startServers(servers, path, o, outputDir);

    const ClientResult lone = runClients(0, 1, servers.ports()).front();
    const CpuUse before = cpuUse(servers);
    const std::vector<ClientResult> crowd = runClients(1, o.clients, servers.ports());
    const double crowdCpu = cpuUse(servers) - before;
    servers.processes.clear();

    Check check;
    const auto db = openSqlDatabase(servers.target);
    std::vector<ClientResult> all{lone};
    all.insert(all.end(), crowd.begin(), crowd.end());
    for (ClientResult &r : all) {
        checkClient(r, *db, dayCounts(*db, dayOf(r.index)));
        check.add(r.check);
    }
    check.add(checkDistinct(all));
    check.require(exportedBefore(*db) == demoExported,
                  QStringLiteral("the exports changed flags of other invoices"));
    printResult(o, all.front(), {all.begin() + 1, all.end()}, check);
    printCpuFloor(o, all.front(), crowdCpu);
    return check.ok() ? 0 : 1;
}
