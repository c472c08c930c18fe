// The export screen's invoice grid over a large list (default 100,000 invoices), real widgets on
// the offscreen platform against the real server: the filter dialog's Confirm clicked until the
// grid is painted (the server's query, the packet, its decoding, the table and the model),
// against decoding the same packet alone (with the server's own time and the table's load alone
// beside it); then a click on the mark's title, repainted, and a Space until the event loop has
// painted what it changed, which must include the row's mark. Each is the median of several
// repeats; the rows loaded are checked against the database, the marks against what the click and
// the key must do.
//
//     bench_invoicegrid [--invoices N] [--repeats R]
//
// Run it on the offscreen platform (QT_QPA_PLATFORM=offscreen); needs FIS_BIN_DIR (or the server
// beside this program).

#include "benchsupport/figure.h"
#include "benchsupport/invoiceseed.h"
#include "benchsupport/screendriver.h"
#include "compralegal/filtercriteria.h"
#include "dataset/datapacket.h"
#include "dataset/memtable.h"
#include "demodata.h"
#include "hostfw/widgets/useraction.h"
#include "sqldb/sqldatabase.h"
#include "testsupport/demohost.h"
#include "testsupport/serverprocess.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace fis;
using namespace fis::bench;

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? NAN : values[values.size() / 2];
}

double timeIt(const std::function<void()> &step)
{
    QElapsedTimer timer;
    timer.start();
    step();
    return double(timer.nsecsElapsed()) / 1e9;
}

// The pending invoices of company 01 in the dialog's default period, counted in the database.
qint64 pendingInPeriod(const QString &path)
{
    const auto db = openSqlDatabase(DatabaseTarget::parse(path));
    SqlStatement count(*db, "SELECT COUNT(*) FROM NFCOMPRA WHERE CDEMPRESA = '01' AND"
                            " date(DTEMISSAO) BETWEEN '2025-05-01' AND '2025-05-20' AND"
                            " IDNFCOMPRALEG <> 'S'");
    return count.step() ? count.integer(0) : -1;
}

// A commit of another client that changes nothing listed. The server gives its last list again
// while nothing has been committed since; after this it reads the list anew, the path the
// confirm measures.
void commitElsewhere(const QString &path)
{
    const auto db = openSqlDatabase(DatabaseTarget::parse(path));
    SqlTransaction tx(*db, SqlTransaction::Kind::Write);
    db->exec("CREATE TABLE IF NOT EXISTS BENCHOUTROCLIENTE (N INTEGER)");
    db->exec("INSERT INTO BENCHOUTROCLIENTE (N) VALUES (1)");
    tx.commit();
}

// The region a widget painted since the last clear().
class PaintedRegion : public QObject
{
public:
    explicit PaintedRegion(QWidget *widget) { widget->installEventFilter(this); }
    void clear() { m_region = QRegion(); }
    QRegion region() const { return m_region; }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            m_region += static_cast<QPaintEvent *>(event)->region();
        return false;
    }

private:
    QRegion m_region;
};

struct Measured
{
    std::vector<double> confirm, decode, load, title, space;
    Check check;
    qint64 rows = 0;
    qint64 packetBytes = 0;
};

// Confirm clicked in the dialog until the grid is painted, then the same packet decoded alone.
void measureConfirm(TfrmCompraLegalBA &screen, qint64 expected, Measured &m)
{
    QElapsedTimer clock;
    const bool driven = confirmFilter({}, [&clock] { clock.start(); });
    QApplication::processEvents();
    screen.dbgPadrao->viewport()->repaint();
    m.confirm.push_back(double(clock.nsecsElapsed()) / 1e9);
    if (!m.check.require(driven, QStringLiteral("the filter dialog did not open")))
        return;
    // Back to the screen, as the user is once the dialog has gone.
    screen.activateWindow();
    m.check.require(QTest::qWaitForWindowActive(&screen),
                    QStringLiteral("the screen did not become active again"));

    compralegal::NotaFiscalRequest request =
        frmFiltroCompraLEGALBA->notaFiscalRequest(screen.companyCode());
    request.status = *compralegal::statusCode(0);
    const QByteArray packet = compralegal::callGetNotaFiscal(screen.appServer(), request);
    m.packetBytes = packet.size();
    DataPacket decoded;
    m.decode.push_back(timeIt([&] { decoded = decodePacket(packet); }));
    // Where the confirm's time goes besides the server: the packet into a table of its own.
    MemTable table(QStringLiteral("cdsNotaFiscal"));
    table.setFields(compralegal::notaFiscalFields());
    m.load.push_back(timeIt([&] { table.loadFromPacket(packet); }));

    m.rows = screen.cdsNotaFiscal->recordCount();
    m.check.require(m.rows == expected && qint64(decoded.rows.size()) == expected &&
                        screen.dbgPadrao->model()->rowCount() == m.rows,
                    QStringLiteral("%1 rows listed, %2 in the grid, %3 in the packet, %4 pending "
                                   "in the database")
                        .arg(m.rows)
                        .arg(screen.dbgPadrao->model()->rowCount())
                        .arg(decoded.rows.size())
                        .arg(expected));
}

// Two title clicks (all marked, then none) and two Spaces on the first row (marked, then not).
void measureMarks(TfrmCompraLegalBA &screen, Measured &m)
{
    const MemTable &list = *screen.cdsNotaFiscal;
    DataGrid *grid = screen.dbgPadrao;
    for (const int wanted : {list.recordCount(), 0}) {
        m.title.push_back(timeIt([&] {
            clickMarkTitle(screen);
            grid->viewport()->repaint();
        }));
        m.check.require(markedRows(list) == wanted,
                        QStringLiteral("a title click left %1 of %2 rows marked, not %3")
                            .arg(markedRows(list))
                            .arg(list.recordCount())
                            .arg(wanted));
    }
    grid->setFocus();
    QApplication::processEvents();
    const int row = list.recNo() - 1;
    const int field = list.indexOfField(QStringLiteral("IDSTATUS"));
    // A Space is timed until the event loop has painted what it changed, as a user sees it; the
    // painted region must hold the row's mark.
    PaintedRegion painted(grid->viewport());
    for (const bool marked : {true, false}) {
        painted.clear();
        m.space.push_back(timeIt([&] {
            QTest::keyClick(grid, Qt::Key_Space);
            QApplication::processEvents();
        }));
        const QString mark = list.viewValue(row, field).toString();
        m.check.require((mark == QLatin1String("C")) == marked,
                        QStringLiteral("Space left row %1 \"%2\", %3 marked")
                            .arg(row + 1)
                            .arg(mark, marked ? QStringLiteral("not") : QStringLiteral("still")));
        const QRect cell = grid->cellRect(row, 0);
        m.check.require(painted.region().contains(cell),
                        QStringLiteral("Space did not repaint the mark of row %1").arg(row + 1));
    }
}

// The server's own time for each GetNotaFiscal, from its log ("... GetNotaFiscal 12.3 ms ok").
std::vector<double> serverCallTimes(const test::ServerProcess &server)
{
    std::vector<double> times;
    static const QRegularExpression call(QStringLiteral("GetNotaFiscal ([0-9.]+) ms ok"));
    for (auto it = call.globalMatch(server.log()); it.hasNext();)
        times.push_back(it.next().captured(1).toDouble() / 1e3);
    return times;
}

void printFigures(const Measured &m)
{
    const QString rows = QStringLiteral("%1 invoices").arg(m.rows);
    Figure confirm;
    confirm.id = QStringLiteral("grid.confirm");
    confirm.title = QStringLiteral("confirm -> grid painted, %1 (server, packet, decode, table, "
                                   "model)")
                        .arg(rows);
    confirm.value = median(m.confirm);
    confirm.unit = QStringLiteral("s");
    confirm.baseline = median(m.decode);
    confirm.baselineName = QStringLiteral("decoding the packet alone");
    confirm.targetRatio = 2.5;
    confirm.targetMax = 0.4;
    confirm.check = m.check;
    printFigure(confirm);

    Figure title = confirm;
    title.id = QStringLiteral("grid.titleclick");
    title.title = QStringLiteral("title click over %1, repainted").arg(rows);
    title.value = median(m.title);
    title.baseline.reset();
    title.targetRatio.reset();
    title.targetMax = 0.1;
    printFigure(title);

    Figure space = title;
    space.id = QStringLiteral("grid.space");
    space.title = QStringLiteral("one Space in the grid of %1, repainted").arg(rows);
    space.value = median(m.space);
    space.targetMax = 0.005;
    printFigure(space);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption invoicesOption(QStringLiteral("invoices"), {}, QStringLiteral("n"),
                                            QStringLiteral("100000"));
    const QCommandLineOption repeatsOption(QStringLiteral("repeats"), {}, QStringLiteral("n"),
                                           QStringLiteral("3"));
    parser.addOptions({invoicesOption, repeatsOption});
    parser.process(app);
    const int invoices = parser.value(invoicesOption).toInt();
    const int repeats = std::max(1, parser.value(repeatsOption).toInt());

    // The smallest demo database, and the invoices in the dialog's default period (the
    // processing month of branch 0001 up to 2025-05-20).
    test::DemoHost host(kMinDemoInvoices);
    if (!host.isValid())
        qFatal("demo database: %s", qPrintable(host.error()));
    InvoiceBlock block;
    block.count = invoices;
    block.items = {1};
    block.first = QDate(2025, 5, 1);
    block.days = 20;
    block.prefix = 'G';
    seedInvoices(host.databasePath(), block);
    const qint64 expected = pendingInPeriod(host.databasePath());
    test::ServerProcess server(host.serverDatabase(), host.outputDir());
    if (!server.isRunning())
        qFatal("the server did not start");
    host.setServerPort(server.port());

    RecordingPresenter presenter;
    TfrmCompraLegalBA screen;
    if (!openScreen(screen, QStringLiteral("GRID.TXT")))
        qFatal("the screen did not become active");
    Measured m;
    for (int run = 0; run < repeats; ++run) {
        commitElsewhere(host.databasePath());
        measureConfirm(screen, expected, m);
        measureMarks(screen, m);
    }
    m.check.require(presenter.errors().isEmpty(), presenter.errors().join(u' '));
    std::printf("invoice grid, %lld rows, packet %.1f MB, median of %d repeats\n",
                qlonglong(m.rows), double(m.packetBytes) / 1e6, repeats);
    std::printf("  confirm -> painted grid:   %8.1f ms (decoding the packet alone %.1f ms)\n",
                median(m.confirm) * 1e3, median(m.decode) * 1e3);
    std::printf("  of which the server:       %8.1f ms; the packet into a table alone %.1f ms\n",
                median(serverCallTimes(server)) * 1e3, median(m.load) * 1e3);
    std::printf("  title click, repainted:    %8.1f ms\n", median(m.title) * 1e3);
    std::printf("  one Space, repainted:      %8.2f ms\n", median(m.space) * 1e3);
    std::printf("  checked:                   %s\n",
                m.check.ok() ? "yes (rows, marks)" : qPrintable(m.check.detail()));
    printFigures(m);
    delete frmFiltroCompraLEGALBA;
    return m.check.ok() ? 0 : 1;
}
