#include "hostfw/widgets/pesquisalista.h"
#include "hostfw/widgets/listview_p.h"

#include "hostfw/widgets/lookupdialog.h"
#include "hostfw/widgets/useraction.h"
#include "keylist/keylist.h"

#include "dataset/datasource.h"
#include "dataset/memtable.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace fis {

namespace {

const QString markFieldName = QStringLiteral("IDMARCADO");

} // namespace

MarkModel::MarkModel(MemTable *table, QObject *parent)
    : QAbstractTableModel(parent)
    , m_table(table)
{
    for (int field : visibleFields(*table)) {
        if (table->field(field).name.compare(markFieldName, Qt::CaseInsensitive) != 0)
            m_fields.append(field);
    }
    m_marks.fill(false, table->isOpen() ? table->recordCount() : 0);
}

int MarkModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_marks.size());
}

int MarkModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_fields.size()) + 1;
}

QVariant MarkModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    if (index.column() == 0) {
        if (role == Qt::CheckStateRole)
            return isMarked(index.row()) ? Qt::Checked : Qt::Unchecked;
        return {};
    }
    if (role == Qt::DisplayRole)
        return m_table->displayText(index.row(), m_fields.at(index.column() - 1));
    return {};
}

QVariant MarkModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section == 0)
        return QStringLiteral("✔");
    return m_table->field(m_fields.value(section - 1)).displayLabel();
}

void MarkModel::setMarked(int row, bool marked)
{
    if (row < 0 || row >= m_marks.size() || m_marks.at(row) == marked)
        return;
    m_marks[row] = marked;
    emit dataChanged(index(row, 0), index(row, 0), {Qt::CheckStateRole});
}

void MarkModel::setAllMarked(bool marked)
{
    m_marks.fill(marked);
    if (!m_marks.isEmpty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
}

int MarkModel::markedCount() const
{
    return int(m_marks.count(true));
}

PickListDialog::PickListDialog(MemTable *table, const QString &keyField, const QString &title,
                               bool singleMark, QWidget *parent)
    : QDialog(parent)
    , m_table(table)
    , m_keyField(table->indexOfField(keyField))
    , m_singleMark(singleMark)
    , m_model(new MarkModel(table, this))
    , m_view(new QTableView(this))
{
    setObjectName(QStringLiteral("fisPickListDialog"));
    setWindowTitle(title);
    setModal(true);

    m_view->setObjectName(QStringLiteral("pickView"));
    setUpRowList(m_view, m_model);
    m_view->resizeColumnsToContents();
    m_view->setColumnWidth(0, 28);
    m_view->installEventFilter(this);
    connect(m_view, &QAbstractItemView::clicked, this, [this](const QModelIndex &index) {
        if (index.column() == 0)
            toggleRow(index.row());
    });
    connect(m_view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        if (index.column() != 0)
            toggleRow(index.row());
    });
    connect(m_view->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
        if (section == 0 && !m_singleMark)
            m_model->setAllMarked(m_model->markedCount() == 0);
    });

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_view);
    layout->addWidget(buttons);
    resize(480, 360);

    if (m_model->rowCount() > 0)
        m_view->setCurrentIndex(m_model->index(0, 1 < m_model->columnCount() ? 1 : 0));
    m_view->setFocus();
}

void PickListDialog::toggleRow(int row)
{
    const bool mark = !m_model->isMarked(row);
    if (mark && m_singleMark)
        m_model->setAllMarked(false);
    m_model->setMarked(row, mark);
}

void PickListDialog::markKeys(const QStringList &keys)
{
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (keys.contains(m_table->valueAt(row, m_keyField).toString())) {
            if (m_singleMark)
                m_model->setAllMarked(false);
            m_model->setMarked(row, true);
        }
    }
}

QStringList PickListDialog::markedKeys() const
{
    QStringList keys;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (m_model->isMarked(row))
            keys.append(m_table->valueAt(row, m_keyField).toString());
    }
    return keys;
}

bool PickListDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Space) {
            const QModelIndex current = m_view->currentIndex();
            if (current.isValid())
                toggleRow(current.row());
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool PesquisaLista(MemTable *table, const QString &keyField, const QString &title, bool singleMark,
                   QString &selection)
{
    if (!table)
        throw DataSetError(QStringLiteral("PesquisaLista: nenhuma tabela informada."));
    QStringList keys;
    try {
        keys = parseKeyList(selection);
    } catch (const KeyListError &) {
        // A text in another form (a server may rewrite it) starts with nothing marked.
    }
    QWidget *context = currentActionContext();
    PickListDialog window(table, keyField, title, singleMark,
                          context ? context->window() : QApplication::activeWindow());
    window.markKeys(keys);
    if (window.exec() != QDialog::Accepted)
        return false;
    selection = formatKeyList(window.markedKeys());
    return true;
}

bool PesquisaLista(DataSource *source, const QString &keyField, const QString &title,
                   bool singleMark, QString &selection)
{
    return PesquisaLista(source ? source->table() : nullptr, keyField, title, singleMark,
                         selection);
}

} // namespace fis
