#include "hostfw/widgets/lookupdialog.h"
#include "hostfw/widgets/listview_p.h"

#include "dataset/memtable.h"
#include "dataset/tablemodel.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace fis {

QList<int> visibleFields(const MemTable &table)
{
    QList<int> fields;
    for (int i = 0; i < table.fieldCount(); ++i) {
        if (table.field(i).visible)
            fields.append(i);
    }
    return fields;
}

LookupDialog::LookupDialog(MemTable *table, const QString &title, QWidget *parent)
    : QDialog(parent)
    , m_table(table)
    , m_model(new TableModel(table, this))
    , m_view(new QTableView(this))
    , m_searchLabel(new QLabel(this))
{
    setObjectName(QStringLiteral("fisLookupDialog"));
    setWindowTitle(title);
    setModal(true);

    m_view->setObjectName(QStringLiteral("lookupView"));
    setUpRowList(m_view, m_model);
    const QList<int> shown = visibleFields(*table);
    for (int i = 0; i < table->fieldCount(); ++i)
        m_view->setColumnHidden(i, !shown.contains(i));
    m_view->resizeColumnsToContents();
    m_view->installEventFilter(this);
    connect(m_view, &QAbstractItemView::doubleClicked, this, &LookupDialog::pick);

    // The column of the ordering when it is shown, else the first shown one.
    const QString order = table->indexFieldNames().section(u';', 0, 0).trimmed();
    const int orderField = order.isEmpty() ? -1 : table->fieldIndex(order);
    m_searchColumn = shown.contains(orderField) ? orderField : shown.value(0, -1);

    m_searchLabel->setObjectName(QStringLiteral("searchText"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, &LookupDialog::pick);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_view);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_searchLabel, 1);
    bottom->addWidget(buttons);
    layout->addLayout(bottom);
    resize(560, 360);

    setCurrentRow(qMax(0, table->currentRow()));
    m_view->setFocus();
}

int LookupDialog::currentRow() const
{
    const QModelIndex index = m_view->currentIndex();
    return index.isValid() ? index.row() : -1;
}

void LookupDialog::setCurrentRow(int row)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    const int column = m_searchColumn >= 0 ? m_searchColumn : 0;
    const QModelIndex index = m_model->index(row, column);
    m_view->setCurrentIndex(index);
    m_view->scrollTo(index);
}

void LookupDialog::pick()
{
    const int row = currentRow();
    if (row < 0)
        return;
    m_picked = row;
    accept();
}

void LookupDialog::search(const QString &text)
{
    m_search = text;
    m_searchLabel->setText(text.isEmpty() ? QString() : QStringLiteral("Procurar: ") + text);
    if (text.isEmpty() || m_searchColumn < 0)
        return;
    for (int row = 0; row < m_table->recordCount(); ++row) {
        if (m_table->displayText(row, m_searchColumn).startsWith(text, Qt::CaseInsensitive)) {
            setCurrentRow(row);
            return;
        }
    }
}

bool LookupDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_view || event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        pick();
        return true;
    case Qt::Key_Backspace:
        search(m_search.left(m_search.size() - 1));
        m_lastKey.start();
        return true;
    default:
        break;
    }
    const QString typed = key->text();
    if (!typed.isEmpty() && typed.at(0).isPrint() &&
        !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        const bool goesOn = m_lastKey.isValid() && m_lastKey.elapsed() <= 1000;
        search(goesOn ? m_search + typed : typed);
        m_lastKey.start();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace fis
