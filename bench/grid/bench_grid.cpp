// The invoice grid with 100,000 rows: loading the packet and showing the grid once, a title-click
// pass over every row with the grid and the table's views suspended, and a single toggle.
// Prints the median of several runs of each step. Run it on the offscreen platform.

#include "contracts/compralegalcontract.h"
#include "dataset/datasource.h"
#include "dataset/memtable.h"
#include "hostfw/widgets/dbgrid.h"
#include "hostfw/widgets/transparentdraw.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace fis;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int kRows = 100000;
constexpr int kRuns = 5;

QByteArray invoicePacket()
{
    MemTable table;
    table.setFields(compralegal::notaFiscalFields());
    table.createDataSet();
    const QDateTime base(QDate(2024, 1, 1), QTime(0, 0));
    for (int i = 0; i < kRows; ++i) {
        table.append();
        table.setValue(u"IDENTRSAIDOP"_s, i % 2 ? u"E"_s : u"S"_s);
        table.setValue(u"IDNFCOMPRALEG"_s, i % 5 ? u"N"_s : u"S"_s);
        table.setValue(u"IDSTATUS"_s, u"U"_s);
        table.setValue(u"CDFILIAL"_s, u"0001"_s);
        table.setValue(u"CLIENTE"_s, u"CLIENTE DE TESTE NUMERO %1 LTDA"_s.arg(i));
        table.setValue(u"NRLANCTONF"_s, QString::number(1000000 + i));
        table.setValue(u"DTEMISSAO"_s, base.addDays(i % 365));
        table.setValue(u"NRNOTAFISC"_s, QString::number(500000 + i));
        table.setValue(u"VRNOTAFISC"_s, 100.0 + i * 0.37);
        table.setValue(u"CDTIPOOPER"_s, u"01"_s);
        table.setValue(u"CDINSCESTA"_s, u"123456789"_s);
        table.setValue(u"CDINSCMUNI"_s, u"987654"_s);
        table.setValue(u"CDSERIE"_s, u"1"_s);
        table.setValue(u"CDCLIENTE"_s, QString::number(i));
        table.post();
    }
    return table.saveToPacket();
}

QList<GridColumn> invoiceColumns()
{
    GridColumn mark(u"IDSTATUS"_s, 25, u"4"_s);
    mark.titleFont = QFont(u"Monotype Sorts"_s);
    mark.titleAlignment = Qt::AlignHCenter;
    mark.titleMark = GridColumn::TitleMark::HeavyCheck;
    return {mark,
            GridColumn(u"IDENTRSAIDOP"_s, 47),
            GridColumn(u"CDFILIAL"_s),
            GridColumn(u"CLIENTE"_s, 381),
            GridColumn(u"DTEMISSAO"_s, 89),
            GridColumn(u"NRNOTAFISC"_s, 78),
            GridColumn(u"VRNOTAFISC"_s, 72),
            GridColumn(u"IDNFCOMPRALEG"_s)};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double timed(const std::function<void()> &step)
{
    QElapsedTimer timer;
    timer.start();
    step();
    return double(timer.nsecsElapsed()) / 1e6;
}

// The screen's painting of the image columns, so that painting costs what it will.
void paintImages(DBGrid &grid, const QImage &check, const QImage &uncheck)
{
    grid.onDrawColumnCell = [&check, &uncheck](QPainter &canvas, const QRect &rect, int,
                                               const GridColumn &column, DBGrid::DrawState) {
        if (column.fieldName != "IDSTATUS"_L1)
            return;
        const QString mark = column.value().toString();
        const QImage *image = mark == "C"_L1 ? &check : mark == "U"_L1 ? &uncheck : nullptr;
        canvas.fillRect(rect, canvas.brush());
        if (image)
            drawTransparentImage(canvas,
                                 QRect(rect.left() + 4, rect.top(), image->width(), rect.height()),
                                 *image, canvas.brush().color());
    };
}

// The title click: decide, then change every row, the grid and the views suspended.
void toggleAll(DBGrid &grid, MemTable &table)
{
    DBGridUpdateGuard guard(grid, &table);
    bool someMarked = false;
    for (table.first(); !table.eof(); table.next())
        someMarked = someMarked || table.asString(u"IDSTATUS"_s) == "C"_L1;
    const QString from = someMarked ? u"C"_s : u"U"_s;
    const QString to = someMarked ? u"U"_s : u"C"_s;
    for (table.first(); !table.eof(); table.next()) {
        if (table.asString(u"IDSTATUS"_s) == from) {
            table.edit();
            table.setValue(u"IDSTATUS"_s, to);
            table.post();
        }
    }
    table.first();
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QByteArray packet = invoicePacket();
    const QImage check(u":/fis11000/imgcheck.xpm"_s);
    const QImage uncheck(u":/fis11000/imguncheck.xpm"_s);

    std::vector<double> loadShow, load, toggles, single;
    for (int run = 0; run < kRuns; ++run) {
        MemTable table(u"cdsNotaFiscal"_s);
        table.setFields(compralegal::notaFiscalFields());
        DataSource source(&table);
        DBGrid grid;
        grid.setBackgroundColor(grid.palette().color(QPalette::ToolTipBase));
        grid.setBorder(false);
        grid.setDataSource(&source);
        grid.setColumns(invoiceColumns());
        paintImages(grid, check, uncheck);
        grid.resize(1000, 600);

        double loadOnly = 0;
        loadShow.push_back(timed([&] {
            loadOnly = timed([&] { table.loadFromPacket(packet); });
            grid.show();
            QApplication::processEvents();
            grid.grab();
        }));
        load.push_back(loadOnly);

        // Both directions: every row marked, then every mark cleared.
        toggles.push_back(timed([&] {
            toggleAll(grid, table);
            QApplication::processEvents();
        }));
        toggles.push_back(timed([&] {
            toggleAll(grid, table);
            QApplication::processEvents();
        }));

        table.moveTo(kRows / 2);
        QApplication::processEvents();
        single.push_back(timed([&] {
            table.edit();
            table.setValue(u"IDSTATUS"_s, u"C"_s);
            table.post();
            QApplication::processEvents();
        }));
    }

    std::printf("grid of %d invoice rows, median of %d runs\n", kRows, kRuns);
    std::printf("  load packet + show + paint once  %8.1f ms  (target < 300 ms; load alone "
                "%.1f ms)\n",
                median(loadShow), median(load));
    std::printf("  title-click pass (two passes)    %8.1f ms  (target < 100 ms)\n",
                median(toggles));
    std::printf("  single toggle (edit/post + paint) %7.3f ms\n", median(single));
    return 0;
}
