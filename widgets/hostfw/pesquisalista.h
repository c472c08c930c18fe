#pragma once

// `PesquisaLista` keeps the name under which the screen modules call the host's multi-selection
// list; everything else follows the Qt naming of the project.

#include <QAbstractTableModel>
#include <QDialog>
#include <QList>
#include <QString>

class QTableView;

namespace fis {

class DataSource;
class MemTable;

// Rows of a table with a mark column in front (column 0), then the table's visible fields. A
// field named IDMARCADO is the table's own mark column: the mark column takes its place. The
// marks are kept here; the table is not written.
class MarkModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit MarkModel(MemTable *table, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    bool isMarked(int row) const { return m_marks.value(row); }
    void setMarked(int row, bool marked);
    void toggle(int row) { setMarked(row, !isMarked(row)); }
    void setAllMarked(bool marked);
    int markedCount() const;

private:
    MemTable *m_table;
    QList<int> m_fields;
    QList<bool> m_marks;
};

// The window of PesquisaLista.
class PickListDialog : public QDialog
{
    Q_OBJECT
public:
    PickListDialog(MemTable *table, const QString &keyField, const QString &title, bool singleMark,
                   QWidget *parent = nullptr);

    MarkModel *model() const { return m_model; }
    QTableView *view() const { return m_view; }
    // Marks the rows whose key is in `keys`.
    void markKeys(const QStringList &keys);
    // The keys of the marked rows, in table order.
    QStringList markedKeys() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void toggleRow(int row);

    MemTable *m_table;
    int m_keyField;
    bool m_singleMark;
    MarkModel *m_model;
    QTableView *m_view;
};

// Lets the user mark rows of the source's table in a modal list window. The marks start from the
// keys already in `selection` (a key list, see keylist.h; a text that is no key list marks
// nothing). Space, a click in the mark column or a double click marks or unmarks a row; a click
// on the mark column's title marks all rows when none is marked and unmarks all otherwise.
// OK or Enter writes the keys (field `keyField`) of the marked rows into `selection` in table
// order, empty when none, and returns true; Esc or Cancel leaves `selection` unchanged and
// returns false. With `singleMark` true at most one row is marked at a time. An empty table
// shows an empty list. Throws DataSetError when the table has no field `keyField`.
bool PesquisaLista(DataSource *source, const QString &keyField, const QString &title,
                   bool singleMark, QString &selection);
bool PesquisaLista(MemTable *table, const QString &keyField, const QString &title, bool singleMark,
                   QString &selection);

} // namespace fis
