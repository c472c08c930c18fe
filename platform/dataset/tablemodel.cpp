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

namespace {

// A search text whose case-insensitive prefix test is a plain byte comparison: ASCII without
// letters (no other character folds to a digit, a blank or a sign).
bool bytewiseSearch(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80 || c.isLetter())
            return false;
    }
    return true;
}

} // namespace

QModelIndexList TableModel::match(const QModelIndex &start, int role, const QVariant &value,
                                  int hits, Qt::MatchFlags flags) const
{
    const int column = start.column();
    const bool plain =
        role == Qt::DisplayRole && (flags & Qt::MatchTypeMask).toInt() == Qt::MatchStartsWith &&
        !flags.testAnyFlag(Qt::MatchRecursive) && value.metaType().id() == QMetaType::QString &&
        m_table && !start.parent().isValid() && readable(start.row(), column) &&
        m_table->showsStoredText(column);
    const QString text = plain ? value.toString() : QString();
    if (!plain || text.isEmpty() || !bytewiseSearch(text))
        return QAbstractTableModel::match(start, role, value, hits, flags);
    const QByteArray prefix = text.toLatin1();
    const int editedRow = m_table->state() == MemTable::State::Edit ? m_table->currentRow() : -1;
    QModelIndexList result;
    const bool wrap = flags.testAnyFlag(Qt::MatchWrap);
    const bool allHits = hits == -1;
    // Rows [from, to) in order; the row being edited is read as the view shows it.
    const auto search = [&](int from, int to) {
        for (int row = from; row < to && (allHits || result.size() < hits);) {
            const int stop = editedRow >= row && editedRow < to ? editedRow : to;
            const int found = m_table->findTextPrefix(column, prefix, row, stop);
            if (found >= 0) {
                result.append(index(found, column));
                row = found + 1;
            } else if (stop < to) {
                if (data(index(stop, column), role)
                        .toString()
                        .startsWith(text, Qt::CaseInsensitive))
                    result.append(index(stop, column));
                row = stop + 1;
            } else {
                row = to;
            }
        }
    };
    search(start.row(), std::min(m_rows, m_table->recordCount()));
    if (wrap)
        search(0, start.row());
    return result;
}

} // namespace fis
