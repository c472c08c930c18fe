// The invoice list of the export screen: marking by click, Space and title click, the painted
// images, the type text, the search key and the Export command's availability. The screen is
// built without FormCreate, so no server is needed; lists come in as data packets.
#include "contracts/compralegalcontract.h"
#include "dataset/datapacket.h"
#include "dataset/datasource.h"
#include "dataset/memtable.h"
#include "export_screen/cli_fis11000.h"
#include "hostfw/hostconfig.h"
#include "hostfw/widgets/procura.h"
#include "hostfw/widgets/useraction.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QPaintEvent>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <memory>
#include <optional>

using namespace fis;

namespace {

struct Invoice
{
    QString status; // IDSTATUS
    QString type = QStringLiteral("E");
    QString exported = QStringLiteral("N"); // IDNFCOMPRALEG
    std::optional<double> value;            // VRNOTAFISC; 100 + row when unset
    QDate issued;                           // DTEMISSAO; in May 2024 when unset
    QString client;                         // CLIENTE; "Cliente <row>" when unset
};

// A list packet as the server sends it, one row per invoice, clients named "Cliente <n>".
QByteArray packet(const QList<Invoice> &invoices)
{
    const QList<FieldDef> fields = compralegal::notaFiscalFields();
    PacketWriter writer(fields, invoices.size());
    for (int i = 0; i < invoices.size(); ++i) {
        const Invoice &invoice = invoices.at(i);
        for (const FieldDef &field : fields) {
            if (field.name == QLatin1String("IDSTATUS"))
                writer.addText(invoice.status);
            else if (field.name == QLatin1String("IDENTRSAIDOP"))
                writer.addText(invoice.type);
            else if (field.name == QLatin1String("IDNFCOMPRALEG"))
                writer.addText(invoice.exported);
            else if (field.name == QLatin1String("CLIENTE"))
                writer.addText(invoice.client.isNull() ? QStringLiteral("Cliente %1").arg(i)
                                                       : invoice.client);
            else if (field.name == QLatin1String("CDFILIAL"))
                writer.addText(QStringLiteral("0001"));
            else if (field.name == QLatin1String("NRLANCTONF"))
                writer.addText(QString::number(invoices.size() - i));
            else if (field.type == FieldType::Float)
                writer.addFloat(invoice.value.value_or(100.0 + i));
            else if (field.type == FieldType::DateTime)
                writer.addDateTime(QDateTime(invoice.issued.isValid() ? invoice.issued
                                                                      : QDate(2024, 5, 1 + i % 28),
                                             QTime()));
            else
                writer.addNull();
        }
    }
    return writer.finish();
}

QList<Invoice> statuses(const QStringList &marks)
{
    QList<Invoice> invoices;
    for (const QString &mark : marks) {
        Invoice invoice;
        invoice.status = mark;
        invoices.append(invoice);
    }
    return invoices;
}

enum Column { ColStatus, ColType, ColFilial, ColCliente, ColEmissao, ColNota, ColValor, ColNf };

// The screen's colours never match the images' opaque pixels by accident: compare exactly.
bool samePixel(QRgb a, QRgb b)
{
    return (a & RGB_MASK) == (b & RGB_MASK);
}

} // namespace

class tst_InvoiceGrid : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void columnsInOrderWithWidthsAndTitles_data();
    void columnsInOrderWithWidthsAndTitles();
    void gridShowsOnlyItsColumns();
    void statusTitleShowsACheckMark();
    void tabMovesCellToCell();
    void clickTogglesOnlyInStatusColumn();
    void spaceTogglesWithAnyModifierInAnyColumn_data();
    void spaceTogglesWithAnyModifierInAnyColumn();
    void spaceKeepsTheCurrentRow();
    void spaceRepaintsItsMarkOnly_data();
    void spaceRepaintsItsMarkOnly();
    void titleClickTogglesAllAndEndsOnFirstRow_data();
    void titleClickTogglesAllAndEndsOnFirstRow();
    void otherTitlesChangeNothingAndDoNotSort();
    void emptyListIgnoresMarking();
    void imagesArePaintedWithKeyReplaced();
    void typeText_data();
    void typeText();
    void f7SearchesOnlyAnOpenNonEmptyList();
    void exportAvailabilityFollowsTheList();
    void disabledMenuItemIgnoresItsShortcut();
    void datesAndValuesInTheConfiguredLocale();

private:
    void load(const QList<Invoice> &invoices);
    QString mark(int row) const;
    QStringList marks() const;
    void clickCell(int row, int column);
    void clickTitle(int column);

    std::unique_ptr<TfrmCompraLegalBA> m_screen;
    std::unique_ptr<RecordingPresenter> m_presenter;
    MemTable *m_table = nullptr;
    DataGrid *m_grid = nullptr;
};

void tst_InvoiceGrid::init()
{
    m_presenter = std::make_unique<RecordingPresenter>();
    m_screen = std::make_unique<TfrmCompraLegalBA>();
    m_table = m_screen->cdsNotaFiscal;
    m_grid = m_screen->dbgPadrao;
    m_screen->show();
    QVERIFY(QTest::qWaitForWindowActive(m_screen.get()));
    m_grid->setFocus();
}

void tst_InvoiceGrid::cleanup()
{
    m_screen.reset();
    m_presenter.reset();
}

void tst_InvoiceGrid::load(const QList<Invoice> &invoices)
{
    m_table->loadFromPacket(packet(invoices));
}

QString tst_InvoiceGrid::mark(int row) const
{
    return m_table->viewValue(row, m_table->indexOfField(QStringLiteral("IDSTATUS"))).toString();
}

QStringList tst_InvoiceGrid::marks() const
{
    QStringList result;
    for (int row = 0; row < m_table->recordCount(); ++row)
        result << mark(row);
    return result;
}

void tst_InvoiceGrid::clickCell(int row, int column)
{
    const QRect rect = m_grid->cellRect(row, column);
    QVERIFY(rect.isValid());
    QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, {}, rect.center());
}

void tst_InvoiceGrid::clickTitle(int column)
{
    const QRect rect = m_grid->titleRect(column);
    QVERIFY(rect.isValid());
    QTest::mouseClick(m_grid->horizontalHeader()->viewport(), Qt::LeftButton, {}, rect.center());
}

void tst_InvoiceGrid::columnsInOrderWithWidthsAndTitles_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("title"); // the mark column's is not checked
    QTest::addColumn<int>("width");     // -1: at least its title's
    QTest::addRow("mark") << 0 << QStringLiteral("IDSTATUS") << QString() << 25;
    QTest::addRow("direction") << 1 << QStringLiteral("IDENTRSAIDOP") << QStringLiteral("Tipo NF")
                               << 47;
    QTest::addRow("branch") << 2 << QStringLiteral("CDFILIAL") << QStringLiteral("Filial") << -1;
    QTest::addRow("client") << 3 << QStringLiteral("CLIENTE") << QStringLiteral("Cliente") << 381;
    QTest::addRow("issue date") << 4 << QStringLiteral("DTEMISSAO") << QStringLiteral("Emissão")
                                << 89;
    QTest::addRow("number") << 5 << QStringLiteral("NRNOTAFISC") << QStringLiteral("Nº Nota") << 78;
    QTest::addRow("value") << 6 << QStringLiteral("VRNOTAFISC") << QStringLiteral("Valor") << 72;
    QTest::addRow("exported flag")
        << 7 << QStringLiteral("IDNFCOMPRALEG") << QStringLiteral("Status") << -1;
}

void tst_InvoiceGrid::columnsInOrderWithWidthsAndTitles()
{
    QFETCH(int, column);
    QFETCH(QString, field);
    QFETCH(QString, title);
    QFETCH(int, width);
    load(statuses({QStringLiteral("U")}));
    QCOMPARE(m_grid->columnCountShown(), 8);
    QCOMPARE(m_table->field(m_grid->fieldIndexOf(column)).name, field);
    if (column > 0)
        QCOMPARE(m_grid->columns().at(column).title, title);
    const QRect rect = m_grid->titleRect(column);
    if (column > 0)
        QVERIFY(rect.left() > m_grid->titleRect(column - 1).left());
    if (width > 0)
        QCOMPARE(rect.width(), width);
    else
        QVERIFY(rect.width() >=
                QFontMetrics(m_grid->columns().at(column).titleFont).horizontalAdvance(title));
}

void tst_InvoiceGrid::gridShowsOnlyItsColumns()
{
    load(statuses({QStringLiteral("U")}));
    QCOMPARE(m_grid->columnCountShown(), 8);
    // Hidden fields such as NRLANCTONF are not shown anywhere.
    QCOMPARE(m_grid->columnOfField(QStringLiteral("NRLANCTONF")), -1);
    QVERIFY(m_grid->verticalHeader()->isHidden());
}

void tst_InvoiceGrid::statusTitleShowsACheckMark()
{
    QCOMPARE(m_screen->gridFrame()->frameShadow(), QFrame::Sunken);
    QCOMPARE(m_screen->gridFrame()->lineWidth(), 2);
    QCOMPARE(m_grid->frameShape(), QFrame::NoFrame);
    // The mark is dark ink in the middle of the 25-pixel title, none at its left edge.
    const QImage header = m_grid->horizontalHeader()->grab().toImage();
    const QRect title = m_grid->titleRect(ColStatus);
    const auto darkPixels = [&header](const QRect &area) {
        int dark = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x)
                dark += qGray(header.pixel(x, y)) < 96 ? 1 : 0;
        }
        return dark;
    };
    const QRect middle(title.center() - QPoint(5, 4), QSize(11, 9));
    QVERIFY2(darkPixels(middle) >= 6, "no check mark in the title");
    QCOMPARE(darkPixels(QRect(title.left() + 2, title.top() + 3, 3, title.height() - 6)), 0);
}

void tst_InvoiceGrid::tabMovesCellToCell()
{
    load(statuses({"U", "U"}));
    clickCell(0, ColCliente);
    QTest::keyClick(m_grid, Qt::Key_Tab);
    QCOMPARE(m_grid->currentColumn(), int(ColEmissao));
    QVERIFY(m_grid->hasFocus());
    QTest::keyClick(m_grid, Qt::Key_Backtab, Qt::ShiftModifier);
    QTest::keyClick(m_grid, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(m_grid->currentColumn(), int(ColFilial));
    QVERIFY(m_grid->hasFocus());
    QCOMPARE(marks(), QStringList({"U", "U"}));
    QCOMPARE(m_table->currentRow(), 0);
}

void tst_InvoiceGrid::clickTogglesOnlyInStatusColumn()
{
    load(statuses({QStringLiteral("U"), QStringLiteral("C"), QString()}));
    clickCell(1, ColCliente);
    QCOMPARE(m_table->currentRow(), 1);
    QCOMPARE(m_grid->currentColumn(), int(ColCliente));
    clickCell(0, ColNf);
    clickCell(2, ColType);
    QCOMPARE(marks(), QStringList({"U", "C", ""}));

    clickCell(0, ColStatus);
    QCOMPARE(m_table->currentRow(), 0);
    QCOMPARE(marks(), QStringList({"C", "C", ""}));
    clickCell(1, ColStatus);
    clickCell(2, ColStatus);
    QCOMPARE(marks(), QStringList({"C", "U", "U"}));
    clickCell(2, ColStatus);
    QCOMPARE(marks(), QStringList({"C", "U", "C"}));
    // Leaving the row committed the first marks: the stored rows hold them.
    const int status = m_table->indexOfField(QStringLiteral("IDSTATUS"));
    QCOMPARE(m_table->valueAt(0, status).toString(), QStringLiteral("C"));
    QCOMPARE(m_table->valueAt(1, status).toString(), QStringLiteral("U"));
}

void tst_InvoiceGrid::spaceTogglesWithAnyModifierInAnyColumn_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::newRow("status, plain") << int(ColStatus) << Qt::KeyboardModifiers();
    QTest::newRow("client, shift") << int(ColCliente) << Qt::KeyboardModifiers(Qt::ShiftModifier);
    QTest::newRow("value, ctrl") << int(ColValor) << Qt::KeyboardModifiers(Qt::ControlModifier);
    QTest::newRow("status, ctrl+shift")
        << int(ColStatus) << Qt::KeyboardModifiers(Qt::ControlModifier | Qt::ShiftModifier);
}

void tst_InvoiceGrid::spaceTogglesWithAnyModifierInAnyColumn()
{
    QFETCH(int, column);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    load(statuses({QStringLiteral("U"), QStringLiteral("C"), QStringLiteral("X")}));
    // Clicking the status cell would toggle by itself: walk there with the arrow keys.
    clickCell(1, ColCliente);
    for (int c = ColCliente; c != column; c += column > c ? 1 : -1)
        QTest::keyClick(m_grid, column > c ? Qt::Key_Right : Qt::Key_Left);
    QCOMPARE(m_grid->currentColumn(), column);
    QCOMPARE(marks(), QStringList({"U", "C", "X"}));
    QTest::keyClick(m_grid, Qt::Key_Space, modifiers);
    QCOMPARE(marks(), QStringList({"U", "U", "X"}));
    // The current cell keeps its highlight (Ctrl+Space would toggle it off in a plain view).
    QVERIFY(m_grid->selectionModel()->isSelected(m_grid->currentIndex()));
    QTest::keyClick(m_grid, Qt::Key_Down);
    QCOMPARE(m_table->currentRow(), 2);
    QCOMPARE(m_grid->currentColumn(), column);
    QTest::keyClick(m_grid, Qt::Key_Space, modifiers);
    QCOMPARE(marks(), QStringList({"U", "U", "U"}));
    QTest::keyClick(m_grid, Qt::Key_Space, modifiers);
    QCOMPARE(marks(), QStringList({"U", "U", "C"}));
}

// A Space marks the current row and moves nothing, also where another row's text in the
// current column begins with a blank (a view's keyboard search would go there).
void tst_InvoiceGrid::spaceKeepsTheCurrentRow()
{
    QList<Invoice> invoices = statuses({"U", "U", "U", "U"});
    invoices[0].client = QStringLiteral("Zeta");
    invoices[2].client = QStringLiteral(" Cliente com branco");
    invoices[3].client = QStringLiteral("  Cliente com dois");
    load(invoices);
    clickCell(1, ColCliente);
    QCOMPARE(m_table->currentRow(), 1);
    QTest::keyClick(m_grid, Qt::Key_Space);
    QCOMPARE(m_table->currentRow(), 1);
    QCOMPARE(m_grid->currentIndex().row(), 1);
    QCOMPARE(marks(), QStringList({"U", "C", "U", "U"}));
    // At once again: a view's search would go on with two blanks.
    QTest::keyClick(m_grid, Qt::Key_Space);
    QCOMPARE(m_table->currentRow(), 1);
    QCOMPARE(m_grid->currentIndex().row(), 1);
    QCOMPARE(marks(), QStringList({"U", "U", "U", "U"}));
    // Letters still find their row, as in any view.
    QTest::keyClicks(m_grid, QStringLiteral("Ze"));
    QCOMPARE(m_grid->currentIndex().row(), 0);
}

namespace {

// What a widget painted while it lived.
class PaintedRegion : public QObject
{
public:
    explicit PaintedRegion(QWidget *widget) { widget->installEventFilter(this); }
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

} // namespace

Q_DECLARE_METATYPE(std::function<void(tst_InvoiceGrid *)>)

// A Space repaints its row's mark (a repaint that misses it shows a stale mark) and not the
// rest of the grid, whatever came before it: a load, a title click, the same list loaded again.
void tst_InvoiceGrid::spaceRepaintsItsMarkOnly_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<std::function<void(tst_InvoiceGrid *)>>("before");
    QTest::newRow("after a load") << 0 << std::function<void(tst_InvoiceGrid *)>();
    QTest::newRow("after a title click")
        << 0 << std::function<void(tst_InvoiceGrid *)>([](tst_InvoiceGrid *t) {
               t->clickTitle(ColStatus);
           });
    QTest::newRow("after the same list again")
        << 0 << std::function<void(tst_InvoiceGrid *)>([](tst_InvoiceGrid *t) {
               t->m_table->loadFromPacket(t->m_table->saveToPacket());
           });
    QTest::newRow("on a lower row") << 3
                                    << std::function<void(tst_InvoiceGrid *)>(
                                           [](tst_InvoiceGrid *t) { t->clickCell(3, ColCliente); });
}

void tst_InvoiceGrid::spaceRepaintsItsMarkOnly()
{
    QFETCH(int, row);
    QFETCH(std::function<void(tst_InvoiceGrid *)>, before);
    QStringList start;
    for (int i = 0; i < 12; ++i)
        start << QStringLiteral("U");
    load(statuses(start));
    if (before)
        before(this);
    m_grid->setFocus();
    QApplication::processEvents();
    QCOMPARE(m_table->currentRow(), row);
    const QString mark = marks().at(row);

    PaintedRegion painted(m_grid->viewport());
    QTest::keyClick(m_grid, Qt::Key_Space);
    QApplication::processEvents();
    QCOMPARE(marks().at(row), mark == u"C" ? QStringLiteral("U") : QStringLiteral("C"));
    QVERIFY2(painted.region().contains(m_grid->cellRect(row, ColStatus)),
             "the mark's cell was not repainted");
    const int other = row == 0 ? 5 : 0;
    QVERIFY2(!painted.region().intersects(m_grid->cellRect(other, ColCliente)),
             "another row was repainted");
}

void tst_InvoiceGrid::titleClickTogglesAllAndEndsOnFirstRow_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("none marked") << QStringList{"U", "U", "U", "U"} << 2
                                 << QStringList{"C", "C", "C", "C"};
    QTest::newRow("last marked, cursor first")
        << QStringList{"U", "U", "U", "C"} << 0 << QStringList{"U", "U", "U", "U"};
    QTest::newRow("first marked, cursor last")
        << QStringList{"C", "U", "U", "U"} << 3 << QStringList{"U", "U", "U", "U"};
    QTest::newRow("other values stay, none marked")
        << QStringList{"U", "X", "", "U"} << 1 << QStringList{"C", "X", "", "C"};
    QTest::newRow("other values stay, some marked")
        << QStringList{"C", "X", "", "U"} << 3 << QStringList{"U", "X", "", "U"};
}

void tst_InvoiceGrid::titleClickTogglesAllAndEndsOnFirstRow()
{
    QFETCH(QStringList, before);
    QFETCH(int, cursor);
    QFETCH(QStringList, after);
    load(statuses(before));
    clickCell(cursor, ColCliente);
    QCOMPARE(m_table->currentRow(), cursor);
    clickTitle(ColStatus);
    QCOMPARE(marks(), after);
    QCOMPARE(m_table->currentRow(), 0);
    QCOMPARE(m_grid->currentIndex().row(), 0);
    QCOMPARE(m_table->state(), MemTable::State::Browse);
}

void tst_InvoiceGrid::otherTitlesChangeNothingAndDoNotSort()
{
    QList<Invoice> invoices = statuses({"U", "C", "U"});
    invoices[0].type = QStringLiteral("S");
    load(invoices);
    clickCell(2, ColNota);
    for (int c = ColType; c <= ColNf; ++c) {
        clickTitle(c);
        QCOMPARE(marks(), QStringList({"U", "C", "U"}));
        QCOMPARE(m_table->currentRow(), 2);
        for (int row = 0; row < 3; ++row)
            QCOMPARE(
                m_grid->model()->index(row, m_grid->fieldIndexOf(ColCliente)).data().toString(),
                QStringLiteral("Cliente %1").arg(row));
    }
}

void tst_InvoiceGrid::emptyListIgnoresMarking()
{
    load({});
    clickTitle(ColStatus);
    QTest::keyClick(m_grid, Qt::Key_Space);
    QCOMPARE(m_table->recordCount(), 0);
    QCOMPARE(m_table->state(), MemTable::State::Browse);
    m_table->close();
    clickTitle(ColStatus);
    QTest::keyClick(m_grid, Qt::Key_Space);
    QVERIFY(!m_table->isOpen());
    QCOMPARE(m_grid->model()->rowCount(), 0);
    QVERIFY(m_presenter->errors().isEmpty());
}

void tst_InvoiceGrid::imagesArePaintedWithKeyReplaced()
{
    QList<Invoice> invoices = statuses({"C", "U", "X", "C"});
    invoices[0].exported = QStringLiteral("S");
    invoices[1].exported = QString();
    invoices[2].exported = QStringLiteral("S");
    load(invoices);
    clickCell(3, ColCliente); // row 3 is current, its status cell not selected
    clickCell(0, ColStatus);  // marks row 0: "C" becomes "U"
    clickCell(0, ColStatus);  // and back to "C"; row 0's status cell is the current cell
    QCOMPARE(mark(0), QStringLiteral("C"));
    const QImage shot = m_grid->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QColor background = m_screen->palette().color(QPalette::ToolTipBase);
    const QColor highlight = m_grid->palette().color(QPalette::Active, QPalette::Highlight);
    QVERIFY(background != highlight);

    struct Expected
    {
        int row;
        int column;
        const QImage *image; // nullptr: blank
        QColor fill;
    };
    const QList<Expected> cells{
        {0, ColStatus, &m_screen->imgCheck, highlight},
        {1, ColStatus, &m_screen->imgUncheck, background},
        {2, ColStatus, nullptr, background},
        {3, ColStatus, &m_screen->imgCheck, background},
        {0, ColNf, &m_screen->imgAprovado, background},
        {1, ColNf, &m_screen->imgNAprovado, background},
        {2, ColNf, &m_screen->imgAprovado, background},
        {3, ColNf, &m_screen->imgNAprovado, background},
    };
    for (const Expected &cell : cells) {
        const QRect rect = m_grid->cellRect(cell.row, cell.column);
        const QString where = QStringLiteral("row %1 column %2").arg(cell.row).arg(cell.column);
        int keyed = 0;
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            for (int x = rect.left(); x <= rect.right(); ++x) {
                const QPoint inImage(x - rect.left() - 4, y - rect.top());
                QRgb expected = cell.fill.rgb();
                if (cell.image && cell.image->rect().contains(inImage)) {
                    const QRgb source = cell.image->pixel(inImage);
                    if (samePixel(source, qRgb(128, 128, 0)))
                        ++keyed;
                    else
                        expected = source;
                }
                if (!samePixel(shot.pixel(x, y), expected))
                    QFAIL(qPrintable(
                        QStringLiteral("%1: pixel (%2, %3) is %4, expected %5")
                            .arg(where)
                            .arg(x - rect.left())
                            .arg(y - rect.top())
                            .arg(QColor(shot.pixel(x, y)).name(), QColor(expected).name())));
            }
        }
        if (cell.image)
            QVERIFY2(keyed > 0, qPrintable(where));
    }
}

void tst_InvoiceGrid::typeText_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("text");
    QTest::newRow("entry") << QStringLiteral("E") << QStringLiteral("Entrada");
    QTest::newRow("exit") << QStringLiteral("S") << QStringLiteral("Saída");
    QTest::newRow("other letter") << QStringLiteral("X") << QString();
    QTest::newRow("lower case") << QStringLiteral("e") << QString();
    QTest::newRow("empty") << QString() << QString();
}

void tst_InvoiceGrid::typeText()
{
    QFETCH(QString, type);
    QFETCH(QString, text);
    QList<Invoice> invoices = statuses({"U"});
    invoices[0].type = type;
    load(invoices);
    const QModelIndex index = m_grid->model()->index(0, m_grid->fieldIndexOf(ColType));
    QCOMPARE(index.data(Qt::DisplayRole).toString(), text);
    QCOMPARE(m_table->displayText(0, m_grid->fieldIndexOf(ColType)), text);
}

void tst_InvoiceGrid::f7SearchesOnlyAnOpenNonEmptyList()
{
    // The search window is modal: a timer looks for it while it runs and closes it.
    int searches = 0;
    QTimer closer;
    closer.setInterval(5);
    connect(&closer, &QTimer::timeout, this, [&searches] {
        if (auto *dialog = qobject_cast<SearchDialog *>(QApplication::activeModalWidget())) {
            ++searches;
            dialog->reject();
        }
    });
    closer.start();
    load(statuses({"U", "U"}));
    QTest::keyClick(m_grid, Qt::Key_F7);
    QCOMPARE(searches, 1);

    m_table->close();
    QTest::keyClick(m_grid, Qt::Key_F7);
    QTest::qWait(20);
    QCOMPARE(searches, 1);

    load({});
    QTest::keyClick(m_grid, Qt::Key_F7);
    QTest::qWait(20);
    QCOMPARE(searches, 1);
    QVERIFY(m_presenter->errors().isEmpty());
}

void tst_InvoiceGrid::exportAvailabilityFollowsTheList()
{
    QVERIFY(!m_screen->sbtImportExport->isEnabled());
    QVERIFY(!m_screen->sbtFiltro->isEnabled());
    QCOMPARE(m_screen->sbtFiltro->hint(), QStringLiteral("Filtro"));
    // The menu item is created enabled; once shown, the focus entered the tax code, which sets
    // it to the Filter button's state.
    {
        const TfrmCompraLegalBA unshown;
        QVERIFY(unshown.mnuFiltro->isEnabled());
        QVERIFY(!unshown.sbtFiltro->isEnabled());
    }
    QVERIFY(!m_screen->mnuFiltro->isEnabled());

    load(statuses({"U"}));
    QVERIFY(m_screen->sbtImportExport->isEnabled());
    QVERIFY(m_screen->Exportar2->isEnabled());

    // Closing alone is no change the list reports.
    m_table->close();
    QVERIFY(m_screen->sbtImportExport->isEnabled());
    QVERIFY(m_screen->Exportar2->isEnabled());

    load({});
    QVERIFY(!m_screen->sbtImportExport->isEnabled());
    QVERIFY(!m_screen->Exportar2->isEnabled());
    QVERIFY(!m_screen->sbtFiltro->isEnabled());
}

void tst_InvoiceGrid::disabledMenuItemIgnoresItsShortcut()
{
    int exports = 0;
    connect(m_screen->Exportar2, &QAction::triggered, this, [&exports] { ++exports; });
    load({});
    QVERIFY(!m_screen->Exportar2->isEnabled());
    QTest::keyClick(m_grid, Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(exports, 0);
    load(statuses({"U"}));
    QTest::keyClick(m_grid, Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(exports, 1);
    QVERIFY(m_presenter->informations().isEmpty());
}

void tst_InvoiceGrid::datesAndValuesInTheConfiguredLocale()
{
    // Whatever the machine's language (the tests run under LC_ALL=C), the host's configuration
    // decides: Brazilian Portuguese unless it names another locale.
    QCOMPARE(QLocale::system().name(), QStringLiteral("C"));
    const auto restore = qScopeGuard([] { HostConfig::setCurrent(HostConfig()); });
    const auto shown = [&](int column) {
        return m_grid->model()->index(0, m_grid->fieldIndexOf(column)).data().toString();
    };
    Invoice invoice;
    invoice.status = QStringLiteral("U");
    invoice.value = 4036.29;
    invoice.issued = QDate(2025, 5, 1);
    HostConfig::setCurrent(HostConfig());
    load({invoice});
    QCOMPARE(shown(ColEmissao), QStringLiteral("01/05/2025"));
    QCOMPARE(shown(ColValor), QStringLiteral("4.036,29"));
    HostConfig english;
    english.locale = QStringLiteral("en_US");
    HostConfig::setCurrent(english);
    load({invoice});
    QCOMPARE(shown(ColEmissao), QStringLiteral("5/1/25"));
    QCOMPARE(shown(ColValor), QStringLiteral("4,036.29"));
}

QTEST_MAIN(tst_InvoiceGrid)
#include "tst_invoicegrid.moc"
