// Every text of the export screen and of the filter dialog shows whole: captions, labels, radio
// buttons, group titles, dates with their weekday and the grid's default-width columns, with the
// system's default font and with one a point larger. The windows keep their fixed sizes, so each
// control must have the room its text needs.
#include "export_screen/cli_fis11000.h"
#include "filter_dialog/cli_fis11001.h"
#include "hostfw/widgets/datagrid.h"
#include "hostfw/widgets/dateeditplus.h"
#include "hostfw/widgets/radiogroup.h"
#include "hostfw/widgets/useraction.h"
#include "rpcclient/netconnection.h"
#include "spinetestsupport.h"
#include "testsupport/demohost.h"
#include "testsupport/serverprocess.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QRadioButton>
#include <QRegularExpression>
#include <QToolButton>

#include <QTest>
#include <utility>

using namespace fis;
using namespace fis::spinetest;
using namespace fis::test;

namespace {

QString nameOf(const QWidget *w)
{
    return w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                     : w->objectName();
}

// A caption as shown: a single "&" marks the mnemonic and takes no room.
QString shown(QString text)
{
    static const QRegularExpression mnemonic(QStringLiteral("&(?!&)"));
    return text.remove(mnemonic).replace(QStringLiteral("&&"), QStringLiteral("&"));
}

QRect groupTitle(const QGroupBox *box)
{
    return groupBoxTitleRect(box);
}

// The widget beside a label on its right, in the same parent and row: its edit.
const QWidget *rightNeighbour(const QLabel *label)
{
    const QWidget *best = nullptr;
    for (const QObject *o : label->parentWidget()->children()) {
        const auto *w = qobject_cast<const QWidget *>(o);
        if (!w || w == label || !w->isVisible() || w->isWindow())
            continue;
        const QRect g = w->geometry();
        const bool sameRow =
            g.top() < label->geometry().bottom() && g.bottom() > label->geometry().top();
        if (sameRow && g.left() >= label->geometry().left() + 4 &&
            (!best || g.left() < best->geometry().left()))
            best = w;
    }
    return best;
}

// What does not fit in `window`: the control, and a line saying what.
using Problems = QList<std::pair<const QWidget *, QString>>;

Problems cutOff(QWidget *window)
{
    Problems problems;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(window) || w->isWindow())
            continue;
        QStringList found;
        if (auto *label = qobject_cast<QLabel *>(w);
            label && !label->text().isEmpty() && label->pixmap().isNull()) {
            const int need = label->fontMetrics().horizontalAdvance(shown(label->text()));
            const QRect room = label->contentsRect();
            if (need > room.width() || label->fontMetrics().height() > room.height())
                found << QStringLiteral("label %1 \"%2\" needs %3x%4, has %5x%6")
                             .arg(nameOf(label), label->text())
                             .arg(need)
                             .arg(label->fontMetrics().height())
                             .arg(room.width())
                             .arg(room.height());
            // Its text must end before the edit beside it begins.
            if (const QWidget *next = rightNeighbour(label)) {
                const int textEnd = label->x() + room.left() + need;
                if (!(label->alignment() & Qt::AlignRight) && textEnd + 3 > next->x())
                    found << QStringLiteral("label %1 \"%2\" ends at %3, touching %4 at %5")
                                 .arg(nameOf(label), label->text())
                                 .arg(textEnd)
                                 .arg(nameOf(next))
                                 .arg(next->x());
            }
        }
        const auto *tool = qobject_cast<QToolButton *>(w);
        if (tool && tool->toolButtonStyle() == Qt::ToolButtonIconOnly)
            continue; // its text is a tooltip
        if (auto *button = qobject_cast<QAbstractButton *>(w);
            button && !button->text().isEmpty()) {
            // A radio button needs its indicator and its text; any other button its text.
            const bool radio = qobject_cast<QRadioButton *>(button) != nullptr;
            const int need =
                radio ? button->sizeHint().width()
                      : button->fontMetrics().horizontalAdvance(shown(button->text())) + 4;
            if (need > button->width() || button->fontMetrics().height() > button->height())
                found << QStringLiteral("button %1 \"%2\" needs %3x%4, has %5x%6")
                             .arg(nameOf(button), button->text())
                             .arg(need)
                             .arg(button->fontMetrics().height())
                             .arg(button->width())
                             .arg(button->height());
            if (auto *group = qobject_cast<QGroupBox *>(button->parentWidget());
                group && radio && button->y() < groupTitle(group).bottom())
                found << QStringLiteral("button %1 \"%2\" at %3 overlaps the title of %4")
                             .arg(nameOf(button), button->text())
                             .arg(button->y())
                             .arg(nameOf(group));
        }
        if (auto *box = qobject_cast<QGroupBox *>(w); box && !box->title().isEmpty()) {
            const int need = box->fontMetrics().horizontalAdvance(box->title());
            if (groupTitle(box).width() < need || groupTitle(box).right() > box->width())
                found << QStringLiteral("group %1 \"%2\" has no room for its title")
                             .arg(nameOf(box), box->title());
            for (const QObject *o : box->children()) {
                const auto *child = qobject_cast<const QWidget *>(o);
                if (child && child->isVisible() && !box->rect().contains(child->geometry()))
                    found << QStringLiteral("%1 leaves group %2").arg(nameOf(child), nameOf(box));
            }
        }
        if (auto *date = qobject_cast<TDateEditPlus *>(w); date && date->GetDate().isValid()) {
            // The date itself, then its weekday, then the calendar button.
            const QRect weekday = date->weekDayArea();
            const QRect button = date->calendarButtonGeometry();
            const int dateWidth = date->fontMetrics().horizontalAdvance(date->displayText());
            const int widest = date->widestWeekDayWidth();
            if (weekday.right() >= button.left() || weekday.width() < widest ||
                date->textArea().width() < dateWidth)
                found << QStringLiteral("date %1 \"%2 %3\" does not fit: text %4 of %5, "
                                        "weekday %6 of %7 ending at %8, button at %9")
                             .arg(nameOf(date), date->displayText(), date->weekDayName())
                             .arg(date->textArea().width())
                             .arg(dateWidth)
                             .arg(weekday.width())
                             .arg(widest)
                             .arg(weekday.right())
                             .arg(button.left());
        }
        for (const QString &line : std::as_const(found))
            problems.append({w, line});
    }
    return problems;
}

// The grid's columns without a width of their own are as wide as their title and contents.
QStringList cutOffColumns(const DataGrid &grid)
{
    QStringList problems;
    const QFontMetrics cells(grid.font());
    for (int c = 0; c < grid.columnCountShown(); ++c) {
        const DataGridColumn &column = grid.columns().at(c);
        if (column.width > 0)
            continue;
        const int has = grid.titleRect(c).width();
        int need = QFontMetrics(column.titleFont).horizontalAdvance(column.title) + 8;
        const QAbstractItemModel *model = grid.model();
        for (int row = 0; row < model->rowCount(); ++row)
            need = std::max(need, cells.horizontalAdvance(
                                      model->index(row, grid.fieldIndexOf(c)).data().toString()) +
                                      8);
        if (need > has)
            problems << QStringLiteral("column %1 \"%2\" needs %3, has %4")
                            .arg(column.fieldName, column.title)
                            .arg(need)
                            .arg(has);
    }
    return problems;
}

} // namespace

class tst_NothingCutOff : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyTextShowsWhole_data();
    void everyTextShowsWhole();

private:
    std::unique_ptr<DemoHost> m_host;
    std::unique_ptr<ServerProcess> m_server;
    QFont m_systemFont;
};

void tst_NothingCutOff::initTestCase()
{
    m_host = std::make_unique<DemoHost>(200);
    QVERIFY(m_host->isValid());
    m_server = std::make_unique<ServerProcess>(m_host->databasePath(), m_host->outputDir());
    QVERIFY(m_server->isRunning());
    m_host->setServerPort(m_server->port());
    m_systemFont = QApplication::font();
    QCOMPARE(QFontInfo(m_systemFont).family(), QStringLiteral("DejaVu Sans"));
}

void tst_NothingCutOff::cleanupTestCase()
{
    QApplication::setFont(m_systemFont);
    m_server.reset();
    m_host.reset();
}

void tst_NothingCutOff::everyTextShowsWhole_data()
{
    QTest::addColumn<qreal>("larger");
    QTest::newRow("system font") << qreal(0);
    QTest::newRow("a point larger") << qreal(1);
}

void tst_NothingCutOff::everyTextShowsWhole()
{
    QFETCH(qreal, larger);
    QFont font = m_systemFont;
    font.setPointSizeF(m_systemFont.pointSizeF() + larger);
    QApplication::setFont(font);

    RecordingPresenter presenter;
    TfrmCompraLegalBA screen;
    frmCompraLegalBA = &screen;
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    // The dialog with its defaults (a period with its weekdays), and the invoices it loads.
    Problems dialogProblems;
    whenModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<TfrmFiltroCompraLEGALBA *>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        dialogProblems = cutOff(dialog);
        QTest::mouseClick(dialog->sbtConfirma, Qt::LeftButton);
        if (dialog->isVisible())
            dialog->close(); // a failed confirmation must not hold the test
    });
    screen.NetCompraLEGALBA->open();
    screen.medCdImposto->setText(QStringLiteral("01"));
    screen.medCdEmpresa->setText(QStringLiteral("01"));
    CriaFtrCompraLEGAL();
    QVERIFY(screen.cdsNotaFiscal->recordCount() > 0);

    QStringList all;
    for (const auto &[widget, line] : dialogProblems + cutOff(&screen))
        all << line;
    all += cutOffColumns(*screen.dbgPadrao);
    for (const QString &problem : std::as_const(all))
        qWarning("%s", qPrintable(problem));
    QVERIFY2(all.isEmpty(), "texts are cut off (listed above)");
    delete frmFiltroCompraLEGALBA;
    frmCompraLegalBA = nullptr;
}

QTEST_MAIN(tst_NothingCutOff)
#include "tst_nothingcutoff.moc"
