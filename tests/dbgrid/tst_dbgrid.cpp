#include "hostfw/widgets/dbgrid.h"
#include "hostfw/widgets/transparentdraw.h"
#include "hostfw/widgets/useraction.h"

#include "dataset/datasource.h"
#include "dataset/memtable.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

using namespace fis;
using namespace Qt::Literals::StringLiterals;

namespace {

FieldDef textField(const QString &name, int size, const QString &label, bool visible = true)
{
    FieldDef f;
    f.name = name;
    f.size = size;
    f.label = label;
    f.visible = visible;
    return f;
}

// A small invoice list: the mark hidden, the columns of the screen and one field left out.
QList<FieldDef> invoiceFields()
{
    FieldDef status = textField(u"IDSTATUS"_s, 1, {}, false);
    status.type = FieldType::FixedString;
    FieldDef filial = textField(u"CDFILIAL"_s, 4, u"Filial"_s);
    filial.required = true;
    FieldDef valor;
    valor.name = u"VRNOTAFISC"_s;
    valor.type = FieldType::Float;
    valor.label = u"Valor"_s;
    valor.displayFormat = u"#,##0.00"_s;
    return {textField(u"IDENTRSAIDOP"_s, 1, u"Tipo NF"_s),
            textField(u"IDNFCOMPRALEG"_s, 1, u"Status"_s),
            status,
            filial,
            textField(u"CLIENTE"_s, 40, u"Cliente"_s),
            textField(u"NRLANCTONF"_s, 10, {}, false),
            valor};
}

void fill(MemTable &table, int rows, int offset = 0)
{
    table.close();
    table.setFields(invoiceFields());
    table.createDataSet();
    for (int i = 0; i < rows; ++i) {
        table.append();
        table.setValue(u"IDSTATUS"_s, i % 2 ? u"C"_s : u"U"_s);
        table.setValue(u"IDENTRSAIDOP"_s, u"E"_s);
        table.setValue(u"IDNFCOMPRALEG"_s, i % 3 ? u"N"_s : u"S"_s);
        table.setValue(u"CDFILIAL"_s, u"0001"_s);
        table.setValue(u"CLIENTE"_s, u"Cliente %1"_s.arg(i + offset));
        table.setValue(u"NRLANCTONF"_s, QString::number(i + offset));
        table.setValue(u"VRNOTAFISC"_s, 10.5 * (i + offset));
        table.post();
    }
    table.first();
}

// The columns of the invoice screen.
QList<GridColumn> screenColumns()
{
    GridColumn mark(u"IDSTATUS"_s, 25, u"4"_s);
    mark.titleFont = QFont(u"Monotype Sorts"_s);
    mark.titleAlignment = Qt::AlignHCenter;
    mark.titleMark = GridColumn::TitleMark::HeavyCheck;
    return {mark,
            GridColumn(u"IDENTRSAIDOP"_s, 47),
            GridColumn(u"CDFILIAL"_s),
            GridColumn(u"CLIENTE"_s, 160),
            GridColumn(u"VRNOTAFISC"_s, 72),
            GridColumn(u"IDNFCOMPRALEG"_s)};
}

enum Col { Mark, Tipo, Filial, Cliente, Valor, Status };

struct GridWindow
{
    explicit GridWindow(int rows = 40)
    {
        fill(table, rows);
        source.setTable(&table);
        grid = new DBGrid(&window);
        other = new QLineEdit(&window);
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(grid);
        layout->addWidget(other);
        grid->setBackgroundColor(QColor(255, 255, 225));
        grid->setBorder(false);
        grid->setDataSource(&source);
        grid->setColumns(screenColumns());
        window.resize(640, 420);
    }

    bool showActive()
    {
        window.show();
        if (!QTest::qWaitForWindowActive(&window))
            return false;
        grid->setFocus();
        return grid->hasFocus();
    }

    QPoint cell(int row, int column) const { return grid->cellRect(row, column).center(); }
    void click(int row, int column)
    {
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell(row, column));
    }
    QImage shot() const { return grid->viewport()->grab().toImage(); }
    QColor highlight() const
    {
        return grid->palette().color(QPalette::Active, QPalette::Highlight);
    }

    QWidget window;
    MemTable table{u"cdsNotaFiscal"_s};
    DataSource source;
    DBGrid *grid;
    QLineEdit *other;
};

QColor pixel(const QImage &image, QPoint point)
{
    return image.pixelColor(point);
}

} // namespace

class TestDBGrid : public QObject
{
    Q_OBJECT
private slots:
    void columnsAsConfigured();
    void followsReloadAndClose();
    void notEditable();
    void currentCellFollowsTheCursor();
    void refusedMoveKeepsTheRow();
    void clickAndTitleEvents();
    void keyDownSeesKeysFirst();
    void tabMovesCellToCell();
    void highlightKeptWithoutFocus();
    void drawHandlerRunsAfterTheDefaultPaint();
    void transparentCopy();
    void transparentCopyInACell();
    void images_data();
    void images();
    void checkMarkTitleWithoutTheSymbolFont();
    void suspendedUpdates();
};

void TestDBGrid::columnsAsConfigured()
{
    GridWindow w;
    DBGrid &g = *w.grid;
    QVERIFY(g.verticalHeader()->isHidden());
    QVERIFY(!g.horizontalHeader()->isHidden());

    // Exactly the configured columns, in their order, the hidden mark field included.
    QStringList shown;
    QHeaderView *header = g.horizontalHeader();
    for (int visual = 0; visual < header->count(); ++visual) {
        const int section = header->logicalIndex(visual);
        if (!header->isSectionHidden(section))
            shown << w.table.field(section).name;
    }
    QCOMPARE(shown, QStringList({u"IDSTATUS"_s, u"IDENTRSAIDOP"_s, u"CDFILIAL"_s, u"CLIENTE"_s,
                                 u"VRNOTAFISC"_s, u"IDNFCOMPRALEG"_s}));
    QCOMPARE(g.column(Status).field()->name, u"IDNFCOMPRALEG"_s);
    QCOMPARE(g.column(Status).fieldIndex(), w.table.fieldIndex(u"IDNFCOMPRALEG"_s));

    QCOMPARE(g.titleRect(Mark).width(), 25);
    QCOMPARE(g.titleRect(Tipo).width(), 47);
    QCOMPARE(g.titleRect(Cliente).width(), 160);
    // Default width: four characters of the grid's font, but never narrower than "Filial".
    const int chars = 4 * g.fontMetrics().averageCharWidth() + 4;
    const int title = g.horizontalHeader()->fontMetrics().horizontalAdvance(u"Filial"_s);
    QCOMPARE(g.titleRect(Filial).width(), g.defaultWidth(g.column(Filial)));
    QVERIFY(g.titleRect(Filial).width() >= qMax(chars, title));
    QVERIFY(g.titleRect(Filial).width() <= qMax(chars, title) + 24);
    // Columns sit side by side in their order.
    QCOMPARE(g.titleRect(Tipo).left(), g.titleRect(Mark).right() + 1);

    // Titles: the field labels, or the set text.
    QAbstractItemModel *m = g.model();
    const int tipo = g.column(Tipo).fieldIndex();
    QCOMPARE(m->headerData(tipo, Qt::Horizontal).toString(), u"Tipo NF"_s);
    const int status = g.column(Status).fieldIndex();
    QCOMPARE(m->headerData(status, Qt::Horizontal).toString(), u"Status"_s);
    // Values come straight from the table, numbers in the field's format, aligned right.
    const QModelIndex valor = m->index(2, g.column(Valor).fieldIndex());
    QCOMPARE(m->data(valor).toString(), w.table.displayText(2, g.column(Valor).fieldIndex()));
    QVERIFY(Qt::Alignment(m->data(valor, Qt::TextAlignmentRole).toInt()) & Qt::AlignRight);

    // A column whose field the table lacks is not shown and is not bound.
    QList<GridColumn> columns = screenColumns();
    columns.insert(1, GridColumn(u"NOSUCHFIELD"_s, 30));
    g.setColumns(columns);
    QVERIFY(g.column(1).field() == nullptr);
    QVERIFY(g.titleRect(1).isEmpty());
    QCOMPARE(g.titleRect(2).left(), g.titleRect(0).right() + 1);
}

void TestDBGrid::followsReloadAndClose()
{
    GridWindow w(30);
    DBGrid &g = *w.grid;
    QVERIFY(w.showActive());
    w.table.moveTo(20);
    QCOMPARE(g.currentIndex().row(), 20);

    // A reload (fields declared again) keeps the layout and starts on the first row.
    const QByteArray packet = [] {
        MemTable other;
        fill(other, 5, 100);
        return other.saveToPacket();
    }();
    w.table.loadFromPacket(packet);
    QCOMPARE(g.model()->rowCount(), 5);
    QCOMPARE(g.currentIndex().row(), 0);
    QCOMPARE(g.titleRect(Cliente).width(), 160);
    QCOMPARE(g.model()->data(g.model()->index(0, g.column(Cliente).fieldIndex())).toString(),
             u"Cliente 100"_s);

    w.table.close();
    QCOMPARE(g.model()->rowCount(), 0);
    QVERIFY(!g.currentIndex().isValid());
    QVERIFY(!g.grab().isNull()); // painting a closed table is harmless

    fill(w.table, 8);
    QCOMPARE(g.model()->rowCount(), 8);
    QCOMPARE(g.currentIndex().row(), 0);
    QCOMPARE(g.currentColumn(), Mark);
    QCOMPARE(g.titleRect(Tipo).width(), 47);
}

void TestDBGrid::notEditable()
{
    GridWindow w;
    DBGrid &g = *w.grid;
    QVERIFY(w.showActive());
    w.click(3, Cliente);
    const QByteArray before = w.table.saveToPacket();

    QTest::mouseDClick(g.viewport(), Qt::LeftButton, {}, w.cell(3, Cliente));
    QTest::keyClick(&g, Qt::Key_F2);
    QTest::keyClick(&g, Qt::Key_Return);
    QTest::keyClicks(&g, u"Cliente 1"_s);
    QTest::keyClick(&g, Qt::Key_Delete);

    QVERIFY(g.findChildren<QLineEdit *>().isEmpty());
    QCOMPARE(w.table.state(), MemTable::State::Browse);
    QCOMPARE(w.table.saveToPacket(), before);
    // Typing does not search for a row either.
    QCOMPARE(g.currentIndex().row(), 3);
    QCOMPARE(w.table.currentRow(), 3);
}

void TestDBGrid::currentCellFollowsTheCursor()
{
    GridWindow w(200);
    DBGrid &g = *w.grid;
    QVERIFY(w.showActive());

    w.click(4, Cliente);
    QCOMPARE(w.table.currentRow(), 4);
    QCOMPARE(g.currentColumn(), int(Cliente));

    QTest::keyClick(&g, Qt::Key_Down);
    QCOMPARE(w.table.currentRow(), 5);
    QTest::keyClick(&g, Qt::Key_PageDown);
    QVERIFY(w.table.currentRow() > 10);
    QCOMPARE(g.currentIndex().row(), w.table.currentRow());

    // The table moves: the grid follows, keeps its column, and shows the row.
    w.table.last();
    QCOMPARE(g.currentIndex().row(), 199);
    QCOMPARE(g.currentColumn(), int(Cliente));
    QVERIFY(g.viewport()->rect().intersects(g.cellRect(199, Cliente)));
    w.table.first();
    QCOMPARE(g.currentIndex().row(), 0);
    QVERIFY(w.table.locate(u"CLIENTE"_s, u"Cliente 77"_s));
    QCOMPARE(g.currentIndex().row(), 77);

    // Leaving a row that is being edited posts it.
    w.table.edit();
    w.table.setValue(u"IDSTATUS"_s, u"X"_s);
    w.click(78, Tipo);
    QCOMPARE(w.table.state(), MemTable::State::Browse);
    QCOMPARE(w.table.valueAt(77, w.table.fieldIndex(u"IDSTATUS"_s)).toString(), u"X"_s);
    QCOMPARE(w.table.currentRow(), 78);
}

void TestDBGrid::refusedMoveKeepsTheRow()
{
    RecordingPresenter presenter;
    GridWindow w;
    DBGrid &g = *w.grid;
    QVERIFY(w.showActive());
    w.click(1, Cliente);
    w.table.edit();
    w.table.setValue(u"CDFILIAL"_s, QString()); // required: the post will fail
    int clicks = 0;
    g.onCellClick = [&](int) {
        ++clicks;
    };

    w.click(3, Cliente);
    QCOMPARE(presenter.errors().size(), 1);
    QCOMPARE(w.table.currentRow(), 1);
    QCOMPARE(w.table.state(), MemTable::State::Edit);
    QCOMPARE(g.currentIndex().row(), 1);
    QCOMPARE(clicks, 0); // a click that could not move the cursor is no click
}

void TestDBGrid::clickAndTitleEvents()
{
    RecordingPresenter presenter;
    GridWindow w;
    DBGrid &g = *w.grid;
    QVERIFY(w.showActive());
    w.click(2, Tipo);

    QList<QPair<int, int>> cellClicks; // column, table row at the time
    QList<QPair<int, int>> titleClicks;
    g.onCellClick = [&](int column) {
        cellClicks.append({column, w.table.currentRow()});
    };
    g.onTitleClick = [&](int column) {
        titleClicks.append({column, w.table.currentRow()});
    };

    w.click(6, Mark);
    w.click(7, Valor);
    QCOMPARE(cellClicks, (QList<QPair<int, int>>{{Mark, 6}, {Valor, 7}}));

    // A title click reports its column and leaves the current cell, the rows and their order.
    const QByteArray before = w.table.saveToPacket();
    QTest::mouseClick(g.horizontalHeader()->viewport(), Qt::LeftButton, {},
                      g.titleRect(Cliente).center());
    QTest::mouseClick(g.horizontalHeader()->viewport(), Qt::LeftButton, {},
                      g.titleRect(Mark).center());
    QCOMPARE(titleClicks, (QList<QPair<int, int>>{{Cliente, 7}, {Mark, 7}}));
    QCOMPARE(g.currentIndex().row(), 7);
    QCOMPARE(g.currentColumn(), int(Valor));
    QCOMPARE(w.table.saveToPacket(), before);
    QVERIFY(!g.horizontalHeader()->isSortIndicatorShown());
    QCOMPARE(cellClicks.size(), 2);

    // A handler that ends its action does not escape the event loop.
    g.onCellClick = [](int) {
        MensErro(u"parou"_s);
    };
    w.click(9, Mark);
    QCOMPARE(presenter.errors(), QStringList{u"parou"_s});
    QCOMPARE(w.table.currentRow(), 9);
}

void TestDBGrid::keyDownSeesKeysFirst()
{
    GridWindow w;
    DBGrid &g = *w.grid;
    QVERIFY(w.showActive());
    w.click(3, Tipo);

    QList<QPair<int, Qt::KeyboardModifiers>> keys;
    int rowSeen = -1;
    bool swallowDown = false;
    g.onKeyDown = [&](int &key, Qt::KeyboardModifiers modifiers) {
        if (key == Qt::Key_Shift || key == Qt::Key_Control)
            return; // the modifier keys come too, as in the classic grid
        keys.append({key, modifiers});
        rowSeen = g.currentIndex().row();
        if (swallowDown && key == Qt::Key_Down)
            key = 0;
    };

    QTest::keyClick(&g, Qt::Key_Space, Qt::ShiftModifier);
    QTest::keyClick(&g, Qt::Key_Space, Qt::ControlModifier);
    QCOMPARE(keys.size(), 2);
    QCOMPARE(keys.at(0).first, 32);
    QCOMPARE(keys.at(0).second, Qt::KeyboardModifiers(Qt::ShiftModifier));
    QCOMPARE(keys.at(1).second, Qt::KeyboardModifiers(Qt::ControlModifier));
    QCOMPARE(g.currentIndex().row(), 3); // Space leaves the current cell alone

    // Seen before the grid moves; the key still goes on to the grid.
    QTest::keyClick(&g, Qt::Key_Down);
    QCOMPARE(rowSeen, 3);
    QCOMPARE(w.table.currentRow(), 4);
    // Set to 0, it stops there.
    swallowDown = true;
    QTest::keyClick(&g, Qt::Key_Down);
    QCOMPARE(keys.last().first, int(Qt::Key_Down));
    QCOMPARE(w.table.currentRow(), 4);
}

void TestDBGrid::tabMovesCellToCell()
{
    GridWindow w;
    DBGrid &g = *w.grid;
    QVERIFY(w.showActive());
    w.click(0, Valor);

    QTest::keyClick(&g, Qt::Key_Tab);
    QCOMPARE(g.currentColumn(), int(Status));
    QTest::keyClick(&g, Qt::Key_Tab); // past the last column: the next row's first
    QCOMPARE(g.currentColumn(), int(Mark));
    QCOMPARE(w.table.currentRow(), 1);
    QVERIFY(g.hasFocus());

    QTest::keyClick(&g, Qt::Key_Tab, Qt::ShiftModifier); // back to the previous row's last
    QCOMPARE(g.currentColumn(), int(Status));
    QCOMPARE(w.table.currentRow(), 0);
    QTest::keyClick(&g, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(g.currentColumn(), int(Valor));
    QVERIFY(g.hasFocus());
    QVERIFY(!w.other->hasFocus());

    // On the first row the column wraps and the focus still stays.
    w.click(0, Mark);
    QTest::keyClick(&g, Qt::Key_Tab, Qt::ShiftModifier);
    QCOMPARE(g.currentColumn(), int(Status));
    QCOMPARE(w.table.currentRow(), 0);
    QVERIFY(g.hasFocus());
}

void TestDBGrid::highlightKeptWithoutFocus()
{
    GridWindow w;
    DBGrid &g = *w.grid;
    QVERIFY(w.showActive());
    w.click(2, Tipo);
    // A point of the cell that the (left-aligned, short) text does not reach.
    const QPoint current = g.cellRect(2, Tipo).topRight() + QPoint(-2, 2);
    const QPoint other = g.cellRect(3, Tipo).topRight() + QPoint(-2, 2);
    QCOMPARE(pixel(w.shot(), current), w.highlight());

    w.other->setFocus();
    QTRY_VERIFY(!g.hasFocus());
    const QImage unfocused = w.shot();
    QCOMPARE(pixel(unfocused, current), w.highlight());
    QCOMPARE(pixel(unfocused, other), QColor(255, 255, 225));
}

void TestDBGrid::drawHandlerRunsAfterTheDefaultPaint()
{
    GridWindow w;
    DBGrid &g = *w.grid;
    QVERIFY(w.showActive());
    w.click(1, Mark);

    struct Call
    {
        int row;
        int column;
        QColor brush;
        DBGrid::DrawState state;
        QString value;
    };
    QList<Call> calls;
    g.onDrawColumnCell = [&](QPainter &canvas, const QRect &rect, int column, const GridColumn &gc,
                             DBGrid::DrawState state) {
        calls.append(
            {g.drawingRow(), column, canvas.brush().color(), state, gc.value().toString()});
        // A mark in the corner: it must survive, so the grid painted before, not after.
        if (column == Mark)
            canvas.fillRect(QRect(rect.topLeft(), QSize(3, 3)), Qt::red);
    };
    const QImage image = w.shot();

    QVERIFY(!calls.isEmpty());
    bool sawCurrent = false;
    for (const Call &c : std::as_const(calls)) {
        const bool current = c.row == 1 && c.column == Mark;
        sawCurrent |= current;
        QCOMPARE(c.brush, current ? w.highlight() : QColor(255, 255, 225));
        QCOMPARE(c.state.testFlag(DBGrid::DrawStateFlag::Selected), current);
        // The column's value is that of the row being painted.
        const int field = g.column(c.column).fieldIndex();
        QCOMPARE(c.value, w.table.valueAt(c.row, field).toString());
    }
    QVERIFY(sawCurrent);
    QCOMPARE(pixel(image, g.cellRect(1, Mark).topLeft()), QColor(Qt::red));
    QCOMPARE(pixel(image, g.cellRect(4, Mark).topLeft() + QPoint(1, 1)), QColor(Qt::red));
}

void TestDBGrid::transparentCopy()
{
    const QColor olive(128, 128, 0);
    const QColor nearOlive(128, 128, 1);
    const QColor fill(10, 200, 30);
    const QColor canvasColor(Qt::magenta);
    // 6 x 10: olive with a black diagonal and one almost-olive pixel.
    QImage source(6, 10, QImage::Format_RGB32);
    source.fill(olive);
    for (int i = 0; i < 6; ++i)
        source.setPixelColor(i, i, Qt::black);
    source.setPixelColor(5, 0, nearOlive);

    struct Case
    {
        const char *name;
        int cellHeight;
    };
    for (const Case &c : {Case{"taller than the cell", 7}, Case{"shorter than the cell", 14}}) {
        QImage canvas(20, 20, QImage::Format_RGB32);
        canvas.fill(canvasColor);
        const QRect cell(3, 2, 12, c.cellHeight);
        {
            QPainter painter(&canvas);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            drawTransparentImage(painter,
                                 QRect(cell.left() + 4, cell.top(), source.width(), cell.height()),
                                 source, fill);
        }
        for (int y = 0; y < canvas.height(); ++y) {
            for (int x = 0; x < canvas.width(); ++x) {
                const int sx = x - cell.left() - 4;
                const int sy = y - cell.top();
                QColor expected = canvasColor;
                if (sx >= 0 && sx < source.width() && sy >= 0 && sy < source.height() &&
                    sy < c.cellHeight) {
                    expected = source.pixelColor(sx, sy);
                    if (expected == olive)
                        expected = fill;
                }
                if (canvas.pixelColor(x, y) != expected)
                    QFAIL(qPrintable(
                        u"%1: pixel (%2, %3)"_s.arg(QLatin1StringView(c.name)).arg(x).arg(y)));
            }
        }
    }
}

void TestDBGrid::transparentCopyInACell()
{
    GridWindow w;
    DBGrid &g = *w.grid;
    QVERIFY(w.showActive());
    w.click(0, Tipo);
    const QImage check(u":/fis11000/imgcheck.xpm"_s);
    QVERIFY(!check.isNull());
    // The screen's way: fill with the brush, then the image at (left + 4, top).
    g.onDrawColumnCell = [&](QPainter &canvas, const QRect &rect, int column, const GridColumn &,
                             DBGrid::DrawState) {
        if (column != Mark)
            return;
        canvas.fillRect(rect, canvas.brush());
        drawTransparentImage(canvas,
                             QRect(rect.left() + 4, rect.top(), check.width(), rect.height()),
                             check, canvas.brush().color());
    };
    w.click(1, Mark);
    const QImage shot = w.shot();
    for (int row : {1, 2}) {
        const QRect rect = g.cellRect(row, Mark);
        const QColor back = row == 1 ? w.highlight() : QColor(255, 255, 225);
        for (int y = 0; y < qMin(rect.height(), check.height()); ++y) {
            for (int x = 0; x < check.width(); ++x) {
                QColor expected = check.pixelColor(x, y);
                if (expected == transparentKeyColor())
                    expected = back;
                QCOMPARE(pixel(shot, rect.topLeft() + QPoint(4 + x, y)), expected);
            }
        }
        QCOMPARE(pixel(shot, rect.topLeft() + QPoint(1, 1)), back);
    }
}

void TestDBGrid::images_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QList<QColor>>("mustHave");
    const QColor black(Qt::black), white(Qt::white), silver(192, 192, 192);
    QTest::newRow("imgCheck") << u":/fis11000/imgcheck.xpm"_s << QSize(16, 16)
                              << QList<QColor>{black, white, silver};
    QTest::newRow("imgUncheck") << u":/fis11000/imguncheck.xpm"_s << QSize(16, 16)
                                << QList<QColor>{black, white, silver};
    QTest::newRow("imgAprovado") << u":/fis11000/imgaprovado.xpm"_s << QSize(20, 20)
                                 << QList<QColor>{QColor(Qt::blue), QColor(Qt::cyan)};
    QTest::newRow("imgNAprovado") << u":/fis11000/imgnaprovado.xpm"_s << QSize(18, 18)
                                  << QList<QColor>{white, QColor(Qt::red), QColor(Qt::yellow)};
}

void TestDBGrid::images()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(QList<QColor>, mustHave);
    const QImage image(path);
    QCOMPARE(image.size(), size);
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    }
    QVERIFY(colours.size() <= 16);
    for (const QColor &c : mustHave)
        QVERIFY2(colours.contains(c.rgb()), qPrintable(c.name()));
    // The background is the olive key, all around.
    for (QPoint corner : {QPoint(0, 0), QPoint(size.width() - 1, size.height() - 1)})
        QCOMPARE(image.pixelColor(corner), transparentKeyColor());
}

void TestDBGrid::checkMarkTitleWithoutTheSymbolFont()
{
    if (QFontDatabase::families().contains(u"Monotype Sorts"_s))
        QSKIP("the symbol font is installed here: the grid shows its own glyph");
    GridWindow w;
    DBGrid &g = *w.grid;
    QVERIFY(w.showActive());
    QHeaderView *header = g.horizontalHeader();
    // The stand-in font would show a plain "4": the grid draws the mark instead.
    QVERIFY(
        g.model()->headerData(g.column(Mark).fieldIndex(), Qt::Horizontal).toString().isEmpty());

    const QImage image = header->viewport()->grab().toImage();
    const QRect title = g.titleRect(Mark).adjusted(2, 2, -2, -2);
    int dark = 0;
    QPointF sum;
    for (int y = title.top(); y <= title.bottom(); ++y) {
        for (int x = title.left(); x <= title.right(); ++x) {
            if (qGray(image.pixel(x, y)) < 100) {
                ++dark;
                sum += QPointF(x, y);
            }
        }
    }
    QVERIFY2(dark >= 8, qPrintable(QString::number(dark)));
    const QPointF centre = sum / dark;
    const QPointF expected = QRectF(g.titleRect(Mark)).center();
    QVERIFY2(qAbs(centre.x() - expected.x()) <= 3 && qAbs(centre.y() - expected.y()) <= 3,
             qPrintable(u"%1,%2 vs %3,%4"_s.arg(centre.x())
                            .arg(centre.y())
                            .arg(expected.x())
                            .arg(expected.y())));
    // The other titles still show their text.
    QCOMPARE(g.model()->headerData(g.column(Tipo).fieldIndex(), Qt::Horizontal).toString(),
             u"Tipo NF"_s);
}

void TestDBGrid::suspendedUpdates()
{
    GridWindow w(300);
    DBGrid &g = *w.grid;
    QVERIFY(w.showActive());
    int paints = 0;
    g.onDrawColumnCell = [&](QPainter &, const QRect &, int, const GridColumn &,
                             DBGrid::DrawState) {
        ++paints;
    };

    g.beginUpdate();
    g.beginUpdate();
    w.table.moveTo(250);
    QCOMPARE(g.currentIndex().row(), 0); // not followed while suspended
    g.endUpdate();
    QVERIFY(g.updatesSuspended());
    g.endUpdate();
    QVERIFY(!g.updatesSuspended());
    QCOMPARE(g.currentIndex().row(), 250);
    QVERIFY(g.viewport()->rect().intersects(g.cellRect(250, Mark)));

    // A walk over every row with the guard: nothing reaches the grid until it ends.
    QSignalSpy changes(g.model(), &QAbstractItemModel::dataChanged);
    QSignalSpy resets(g.model(), &QAbstractItemModel::modelReset);
    QApplication::processEvents();
    paints = 0;
    {
        DBGridUpdateGuard guard(g, &w.table);
        for (w.table.first(); !w.table.eof(); w.table.next()) {
            w.table.edit();
            w.table.setValue(u"IDSTATUS"_s, u"C"_s);
            w.table.post();
            if (w.table.currentRow() % 100 == 0)
                QApplication::processEvents();
        }
        w.table.first();
        QCOMPARE(paints, 0);
    }
    QCOMPARE(changes.count(), 0);
    QCOMPARE(resets.count(), 1);
    QCOMPARE(g.currentIndex().row(), 0);
    QTRY_VERIFY(paints > 0);
}

QTEST_MAIN(TestDBGrid)
#include "tst_dbgrid.moc"
