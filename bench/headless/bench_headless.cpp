// The headless command fis11000-export on the demo database (`fis-demodata --invoices 250000` by
// default) against the real server: status "both" over the whole period 2024-12-01..2025-05-20,
// its list load included, from the command's start to its end, against sqlite3 writing the
// same lines from a table. Checks the command's exit status and files, the files on their own
// and against the tool's output, and the exported flags.
//
//     bench_headless [--invoices N]
//
// Needs FIS_BIN_DIR (or the programs beside this program) and sqlite3 on PATH.

#include "benchsupport/comprafile.h"
#include "benchsupport/figure.h"
#include "benchsupport/toolbaseline.h"
#include "hostfw/hostconfig.h"
#include "sqldb/sqldatabase.h"
#include "testsupport/paths.h"
#include "testsupport/serverprocess.h"
#include "testsupport/testclient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

using namespace fis;
using namespace fis::bench;

namespace {

const QByteArray kSelection = " WHERE N.CDEMPRESA = '01' AND date(N.DTEMISSAO) BETWEEN"
                              " '2024-12-01' AND '2025-05-20'";

qint64 count(SqlConnection &db, const QByteArray &sql)
{
    SqlStatement statement(db, sql);
    return statement.step() ? statement.integer(0) : -1;
}

struct Selection
{
    qint64 invoices = 0, items = 0, pending = 0;
};

Selection selection(const QString &path)
{
    const auto db = openSqlDatabase(DatabaseTarget::parse(path));
    Selection s;
    s.invoices = count(*db, "SELECT COUNT(*) FROM NFCOMPRA N" + kSelection);
    s.items = count(*db, "SELECT COUNT(*) FROM NFCOMPRAITEM I JOIN NFCOMPRA N ON N.CDFILIAL ="
                         " I.CDFILIAL AND N.NRLANCTONF = I.NRLANCTONF" +
                             kSelection);
    s.pending =
        count(*db, "SELECT COUNT(*) FROM NFCOMPRA N" + kSelection + " AND N.IDNFCOMPRALEG <> 'S'");
    return s;
}

struct Command
{
    int exitCode = -1;
    QByteArray out;
    double seconds = 0;
};

Command run(const QString &program, const QStringList &arguments, bool forwardOutput)
{
    QProcess process;
    process.setProcessChannelMode(forwardOutput ? QProcess::ForwardedChannels
                                                : QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    process.start(test::binDir() + u'/' + program, arguments);
    process.closeWriteChannel();
    Command c;
    if (process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit)
        c.exitCode = process.exitCode();
    c.seconds = double(clock.nsecsElapsed()) / 1e9;
    c.out = process.readAllStandardOutput();
    return c;
}

// The host's configuration for the command: the database, the server, branch 0001.
QString writeConfig(const QString &dir, const QString &database, int port)
{
    HostConfig config;
    config.databaseDriver = QStringLiteral("QSQLITE");
    config.databaseName = database;
    config.branch = QStringLiteral("0001");
    config.serverHost = QStringLiteral("127.0.0.1");
    config.serverPort = port;
    fis::test::useTestClient(config);
    const QString path = QDir(dir).filePath(QStringLiteral("fis-host.ini"));
    config.save(path);
    return path;
}

// The files the command names, against the database's invoices of the period.
Check checkExport(const Command &command, const QStringList &files, const QString &database,
                  const Selection &expected)
{
    Check check;
    check.require(command.exitCode == 0,
                  QStringLiteral("fis11000-export ended with %1").arg(command.exitCode));
    const CompraFile file = readCompraFiles(files);
    check.add(file.check);
    check.require(file.count("50") == expected.invoices && file.count("54") == expected.items,
                  QStringLiteral("the files hold %1 invoices and %2 items, the database %3 and %4")
                      .arg(file.count("50"))
                      .arg(file.count("54"))
                      .arg(expected.invoices)
                      .arg(expected.items));
    const qint64 pending = selection(database).pending;
    check.require(pending == 0,
                  QStringLiteral("%1 invoices of the period are still pending").arg(pending));
    return check;
}

void printResult(const Command &command, const Selection &expected, const QStringList &files,
                 const ToolBaseline &tool, const Check &check)
{
    std::printf("fis11000-export, status both, 2024-12-01..2025-05-20: %lld invoices (%lld "
                "pending), %lld lines in %lld files\n",
                qlonglong(expected.invoices), qlonglong(expected.pending), qlonglong(tool.lines),
                qlonglong(files.size()));
    std::printf("  the command, start to end: %.2f s\n", command.seconds);
    std::printf("  sqlite3 tool:              %.2f s\n", tool.seconds);
    std::printf("  command / tool:            %.2f\n", command.seconds / tool.seconds);
    std::printf("  checked:                   %s\n",
                check.ok() ? "yes (files, tool's lines, flags)" : qPrintable(check.detail()));
    Figure figure;
    figure.id = QStringLiteral("headless.demo");
    figure.title = QStringLiteral("fis11000-export on the demo data, both, %1 lines, list load "
                                  "included")
                       .arg(tool.lines);
    figure.value = command.seconds;
    figure.unit = QStringLiteral("s");
    figure.baseline = tool.seconds;
    figure.baselineName = QStringLiteral("sqlite3 writing the same lines");
    figure.targetRatio = 10;
    figure.check = check;
    printFigure(figure);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption invoicesOption(QStringLiteral("invoices"), {}, QStringLiteral("n"),
                                            QStringLiteral("250000"));
    parser.addOption(invoicesOption);
    parser.process(app);

    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("demo.sqlite"));
    const QString outputDir = dir.filePath(QStringLiteral("out"));
    QDir().mkpath(outputDir);
    const Command generated = run(QStringLiteral("fis-demodata"),
                                  {QStringLiteral("--database"), database,
                                   QStringLiteral("--invoices"), parser.value(invoicesOption)},
                                  false);
    if (generated.exitCode != 0)
        qFatal("fis-demodata failed");
    std::printf("demo data generated in %.1f s\n", generated.seconds);
    const Selection expected = selection(database);

    auto server = std::make_unique<test::ServerProcess>(database, outputDir);
    if (!server->isRunning())
        qFatal("the server did not start");
    const QString config = writeConfig(dir.path(), database, server->port());
    const Command command =
        run(QStringLiteral("fis11000-export"),
            {QStringLiteral("--config"), config, QStringLiteral("--tax"), QStringLiteral("01"),
             QStringLiteral("--company"), QStringLiteral("01"), QStringLiteral("--output"),
             QStringLiteral("DEMO.TXT"), QStringLiteral("--status"), QStringLiteral("both"),
             QStringLiteral("--from"), QStringLiteral("2024-12-01"), QStringLiteral("--to"),
             QStringLiteral("2025-05-20")},
            false);
    server.reset();
    const QStringList files = QString::fromUtf8(command.out).split(u'\n', Qt::SkipEmptyParts);
    Check check = checkExport(command, files, database, expected);
    const ToolBaseline tool =
        measureToolBaseline(DatabaseTarget::parse(database), files, dir.path());
    check.add(tool.check);
    printResult(command, expected, files, tool, check);
    return check.ok() ? 0 : 1;
}
