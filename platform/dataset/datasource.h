#pragma once

#include <QObject>
#include <QPointer>

namespace fis {

class MemTable;

// Connects a table to the controls that show it, in the role of the host's data source: it
// reports every change of the table's content or cursor as one dataChange signal.
//
// Reported (fieldIndex -1 for the row as a whole): the table opened, loaded or emptied; the
// cursor moved; a row posted, cancelled or deleted; a field of the current row changed
// (its index). Not reported: closing the table, anything while the table's controls are
// disabled (the last enableControls() of an open table reports once), anything while the
// source is disabled. One operation of the table may be reported more than once.
class DataSource : public QObject
{
    Q_OBJECT
public:
    explicit DataSource(QObject *parent = nullptr);
    explicit DataSource(MemTable *table, QObject *parent = nullptr);
    ~DataSource() override;

    MemTable *table() const; // nullptr when none, or once the table is destroyed
    // Attaching an open table reports it (dataChange(-1)).
    void setTable(MemTable *table);

    bool isEnabled() const;
    // Re-enabling a source whose table is open reports it (dataChange(-1)).
    void setEnabled(bool enabled);

signals:
    void dataChange(int fieldIndex);
    // The table's state changed (browse, edit, insert, inactive).
    void stateChange();

private:
    void report(int fieldIndex);

    QPointer<MemTable> m_table;
    bool m_enabled = true;
};

} // namespace fis
