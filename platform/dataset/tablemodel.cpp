#include "dataset/tablemodel.h"

#include "dataset/memtable.h"

namespace fis {

TableModel::TableModel(QObject *parent)
    : QAbstractTableModel(parent)
{}

TableModel::TableModel(MemTable *table, QObject *parent)
    : QAbstractTableModel(parent)
{
    setTable(table);
}

TableModel::~TableModel() = default;

MemTable *TableModel::table() const
{
    return m_table;
}

void TableModel::setTable(MemTable *table)
{
    beginReset();
    if (m_table)
        disconnect(m_table, nullptr, this, nullptr);
    m_table = table;
    if (table) {
        connect(table, &MemTable::aboutToReset, this, &TableModel::beginReset);
        connect(table, &MemTable::tableReset, this, &TableModel::endReset);
        connect(table, &MemTable::rowAboutToBeInserted, this,
                [this](int row) { beginInsertRows(QModelIndex(), row, row); });
        connect(table, &MemTable::rowInserted, this, [this] {
            ++m_rows;
            endInsertRows();
        });
        connect(table, &MemTable::rowAboutToBeRemoved, this,
                [this](int row) { beginRemoveRows(QModelIndex(), row, row); });
        connect(table, &MemTable::rowRemoved, this, [this] {
            --m_rows;
            endRemoveRows();
        });
        connect(table, &MemTable::rowAboutToBeMoved, this, [this](int from, int to) {
            // Qt counts the destination before the move takes the row out.
            beginMoveRows(QModelIndex(), from, from, QModelIndex(), to > from ? to + 1 : to);
        });
        connect(table, &MemTable::rowMoved, this, [this] { endMoveRows(); });
        connect(table, &MemTable::rowChanged, this, [this](int row) {
            if (row >= 0 && row < m_rows && m_columns > 0)
                emit dataChanged(index(row, 0), index(row, m_columns - 1));
        });
        connect(table, &MemTable::dataChanged, this, &TableModel::refreshCurrentRow);
        // The table going away is a reset to nothing.
        connect(table, &QObject::destroyed, this, [this] {
            beginReset();
            endReset();
        });
    }
    endReset();
}

void TableModel::beginReset()
{
    if (m_resetting)
        return;
    m_resetting = true;
    beginResetModel();
}

void TableModel::endReset()
{
    if (!m_resetting)
        beginReset();
    m_rows = m_table ? m_table->recordCount() : 0;
    m_columns = m_table ? m_table->fieldCount() : 0;
    m_resetting = false;
    endResetModel();
}

void TableModel::refreshCurrentRow(int fieldIndex)
{
    if (!m_table || m_resetting)
        return;
    const int row = m_table->currentRow();
    if (row < 0 || row >= m_rows || m_columns == 0)
        return;
    if (fieldIndex >= 0 && fieldIndex < m_columns)
        emit dataChanged(index(row, fieldIndex), index(row, fieldIndex));
    else
        emit dataChanged(index(row, 0), index(row, m_columns - 1));
}

bool TableModel::readable(int row, int column) const
{
    return m_table && row >= 0 && column >= 0 && row < m_rows && column < m_columns &&
           row < m_table->recordCount() && column < m_table->fieldCount();
}

int TableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int TableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

QVariant TableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !readable(index.row(), index.column()))
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return m_table->displayText(index.row(), index.column());
    case Qt::EditRole:
        return m_table->viewValue(index.row(), index.column());
    default:
        return {};
    }
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && m_table && section >= 0 &&
        section < m_columns && section < m_table->fieldCount())
        return m_table->field(section).displayLabel();
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags TableModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

} // namespace fis
