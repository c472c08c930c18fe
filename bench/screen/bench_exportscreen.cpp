// The real export screen (the package's widgets on the offscreen platform, driven by clicks as a
// user does) exporting a large list with the status "Ambos": by default 150,000 invoices of the
// filter's default period, a third of them exported before, about 500,000 lines. The time runs
// from the click on Export to its end, the reload of the whole list after every page included,
// against sqlite3 writing the same lines from a table. Checks the files on their own and against
// the tool's output, the reloads (one per page), the success message and the exported flags.
//
//     bench_exportscreen [--invoices N] [--page-size LINES]
//
// Run it on the offscreen platform (QT_QPA_PLATFORM=offscreen); needs FIS_BIN_DIR (or the server
// beside this program) and sqlite3 on PATH.

#include "benchsupport/comprafile.h"
#include "benchsupport/figure.h"
#include "benchsupport/invoiceseed.h"
#include "benchsupport/screendriver.h"
#include "benchsupport/toolbaseline.h"
#include "demodata.h"
#include "hostfw/widgets/radiogroup.h"
#include "hostfw/widgets/useraction.h"
#include "rpc/memorypolicy.h"
#include "sqldb/sqldatabase.h"
#include "testsupport/demohost.h"
#include "testsupport/serverprocess.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QRadioButton>

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace fis;
using namespace fis::bench;

namespace {

// Every invoice of company 01 in the dialog's default period, whatever its flag.
const QByteArray kSelection = " WHERE N.CDEMPRESA = '01' AND date(N.DTEMISSAO) BETWEEN"
                              " '2025-05-01' AND '2025-05-20'";

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

// The invoices of the period, one third exported before: "Ambos" lists and exports them all.
void seed(const QString &path, int invoices)
{
    InvoiceBlock block;
    block.count = invoices;
    block.items = {2, 3, 2};
    block.first = QDate(2025, 5, 1);
    block.days = 20;
    block.prefix = 'A';
    block.exportedEvery = 3;
    seedInvoices(path, block);
}

struct Run
{
    double seconds = 0;
    int listed = 0;
    QStringList files;
    qint64 reloads = 0;
    Check check;
};

// The filter with "Ambos", every row marked by the title, then a click on Export.
Run exportFromScreen(TfrmCompraLegalBA &screen, const test::ServerProcess &server,
                     RecordingPresenter &presenter, const Selection &expected)
{
    Run run;
    const bool driven = confirmFilter([](TfrmFiltroCompraLEGALBA &dialog) {
        QTest::mouseClick(dialog.rdgStatus->button(2), Qt::LeftButton);
    });
    run.listed = screen.cdsNotaFiscal->recordCount();
    run.check.require(driven && run.listed == expected.invoices,
                      QStringLiteral("%1 invoices listed with \"Ambos\", %2 in the database")
                          .arg(run.listed)
                          .arg(expected.invoices));
    clickMarkTitle(screen);
    run.check.require(markedRows(*screen.cdsNotaFiscal) == run.listed,
                      QStringLiteral("the title click did not mark every row"));

    const qsizetype reloadsBefore = server.log().count(QStringLiteral(".GetNotaFiscal "));
    presenter.clear();
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(screen.sbtImportExport, Qt::LeftButton);
    run.seconds = double(clock.nsecsElapsed()) / 1e9;
    run.reloads = server.log().count(QStringLiteral(".GetNotaFiscal ")) - reloadsBefore;
    run.check.require(presenter.errors().isEmpty() &&
                          presenter.informations() ==
                              QStringList{QStringLiteral("Exportação foi concluída com sucesso.")},
                      QStringLiteral("the screen said: %1")
                          .arg((presenter.errors() + presenter.informations()).join(u' ')));
    return run;
}

// The files against the seeded invoices, one reload per page, every invoice exported.
void checkFiles(Run &run, const QString &outputDir, const QString &path, const Selection &expected,
                int pageSize)
{
    const QDir out(outputDir);
    for (const QString &name :
         out.entryList({QStringLiteral("AMBOS_*_.txt")}, QDir::Files, QDir::Name))
        run.files << out.filePath(name);
    const CompraFile file = readCompraFiles(run.files);
    run.check.add(file.check);
    run.check.require(file.count("50") == expected.invoices && file.count("54") == expected.items,
                      QStringLiteral("the files hold %1 invoices and %2 items, the database %3 "
                                     "and %4")
                          .arg(file.count("50"))
                          .arg(file.count("54"))
                          .arg(expected.invoices)
                          .arg(expected.items));
    // The server hands out pages of its size, whatever the run asks for.
    const qint64 perPage = pageSize;
    qint64 pages = 0;
    for (const QString &f : std::as_const(run.files))
        pages += (readCompraFile(f).lines + perPage - 1) / perPage;
    run.check.require(run.reloads == pages,
                      QStringLiteral("%1 reloads for %2 pages").arg(run.reloads).arg(pages));
    run.check.require(selection(path).pending == 0,
                      QStringLiteral("invoices of the list are still pending"));
}

void printResult(const Run &run, const Selection &expected, const ToolBaseline &tool)
{
    const qint64 lines = tool.lines;
    std::printf("export screen, status \"Ambos\": %d invoices listed (%lld pending), %lld lines in "
                "%lld files\n",
                run.listed, qlonglong(expected.pending), qlonglong(lines),
                qlonglong(run.files.size()));
    std::printf("  Export click to its end:   %.2f s (%lld reloads of the list)\n", run.seconds,
                qlonglong(run.reloads));
    std::printf("  sqlite3 tool:              %.2f s\n", tool.seconds);
    std::printf("  export / tool:             %.2f\n", run.seconds / tool.seconds);
    std::printf("  checked:                   %s\n",
                run.check.ok() ? "yes (files, tool's lines, reloads, flags)"
                               : qPrintable(run.check.detail()));

    Figure figure;
    figure.id = QStringLiteral("screen.ambos");
    figure.title = QStringLiteral("export screen, \"Ambos\", %1 invoices, %2 lines, reloads "
                                  "included")
                       .arg(run.listed)
                       .arg(lines);
    figure.value = run.seconds;
    figure.unit = QStringLiteral("s");
    figure.baseline = tool.seconds;
    figure.baselineName = QStringLiteral("sqlite3 writing the same lines");
    figure.targetRatio = 12;
    figure.check = run.check;
    printFigure(figure);
}

} // namespace

int main(int argc, char **argv)
{
    // As fis-host does.
    fis::reuseLargeBlocks();
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption invoicesOption(QStringLiteral("invoices"), {}, QStringLiteral("n"),
                                            QStringLiteral("150000"));
    // The server's default page size unless told.
    const QCommandLineOption pageOption(QStringLiteral("page-size"), {}, QStringLiteral("lines"),
                                        QStringLiteral("200000"));
    parser.addOptions({invoicesOption, pageOption});
    parser.process(app);
    const int pageSize = parser.value(pageOption).toInt();

    test::DemoHost host(kMinDemoInvoices);
    if (!host.isValid())
        qFatal("demo database: %s", qPrintable(host.error()));
    seed(host.databasePath(), parser.value(invoicesOption).toInt());
    const Selection expected = selection(host.databasePath());
    auto server = std::make_unique<test::ServerProcess>(
        host.serverDatabase(), host.outputDir(),
        QStringList{QStringLiteral("--page-size"), QString::number(pageSize)});
    if (!server->isRunning())
        qFatal("the server did not start");
    host.setServerPort(server->port());

    RecordingPresenter presenter;
    Run run;
    {
        TfrmCompraLegalBA screen;
        if (!openScreen(screen, QStringLiteral("AMBOS.TXT")))
            qFatal("the screen did not become active");
        run = exportFromScreen(screen, *server, presenter, expected);
        delete frmFiltroCompraLEGALBA;
    }
    checkFiles(run, host.outputDir(), host.databasePath(), expected, pageSize);
    server.reset();
    const ToolBaseline tool =
        measureToolBaseline(DatabaseTarget::parse(host.databasePath()), run.files, host.dirPath());
    run.check.add(tool.check);
    printResult(run, expected, tool);
    return run.check.ok() ? 0 : 1;
}
