#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QList>

class QLabel;
class QTableView;

namespace fis {

class MemTable;
class TableModel;

// The list window of a lookup button: the table's visible fields, with their labels and
// display texts, one row per table row. Enter, a double click or OK picks the selected row; Esc
// or Cancel leaves nothing picked. Typing searches incrementally (without case, from the start of
// the text) in the column of the table's first index field when it is shown, else in the first
// shown column; Backspace takes the last typed character back, and a pause of over a second
// starts a new search.
//
// The table is not touched while the window is open; the caller moves its cursor to the pick.
class LookupDialog : public QDialog
{
    Q_OBJECT
public:
    LookupDialog(MemTable *table, const QString &title, QWidget *parent = nullptr);

    // The picked row (a table row index), -1 when none.
    int pickedRow() const { return m_picked; }
    int currentRow() const;
    void setCurrentRow(int row);
    QTableView *view() const { return m_view; }
    QString searchText() const { return m_search; }
    int searchColumn() const { return m_searchColumn; } // a field index

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void pick();
    void search(const QString &text);

    MemTable *m_table;
    TableModel *m_model;
    QTableView *m_view;
    QLabel *m_searchLabel;
    QString m_search;
    QElapsedTimer m_lastKey;
    int m_searchColumn = -1;
    int m_picked = -1;
};

// The visible fields of a table (indexes), in table order.
QList<int> visibleFields(const MemTable &table);

} // namespace fis
