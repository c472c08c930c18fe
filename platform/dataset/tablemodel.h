#pragma once

#include <QAbstractTableModel>
#include <QPointer>

namespace fis {

class MemTable;

// An item model over a MemTable: one row per stored row, one column per field, values read in
// place from the table. DisplayRole gives the table's display text, EditRole the raw value
// (the pending value of a row being edited), the header the field's display label. Items are
// selectable, not editable.
//
// The model follows the table's signals. While the table's controls are disabled the model
// stays in one reset, and it keeps answering with the row count it last announced (rows that
// went away meanwhile read as empty) until the table resumes.
class TableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit TableModel(QObject *parent = nullptr);
    explicit TableModel(MemTable *table, QObject *parent = nullptr);
    ~TableModel() override;

    MemTable *table() const;
    void setTable(MemTable *table);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // As QAbstractItemModel::match(), the same rows in the same order; a view's keyboard search
    // (typing in it) over the stored texts reads their bytes instead of making every row's
    // display text.
    QModelIndexList match(const QModelIndex &start, int role, const QVariant &value, int hits = 1,
                          Qt::MatchFlags flags = Qt::MatchFlags(Qt::MatchStartsWith |
                                                                Qt::MatchWrap)) const override;

private:
    void beginReset();
    void endReset();
    void refreshCurrentRow(int fieldIndex);
    bool readable(int row, int column) const;

    QPointer<MemTable> m_table;
    int m_rows = 0;
    int m_columns = 0;
    bool m_resetting = false;
};

} // namespace fis
