#pragma once

#include "base/error.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>
#include <vector>

namespace fis {

// Raised by every table and packet operation that cannot be carried out. The message is meant
// for the user: it names the table and field where there is one.
class DataSetError : public Error
{
public:
    explicit DataSetError(const QString &message)
        : Error(Kind::Data, message)
    {}
};

enum class FieldType {
    String,      // text of at most `size` characters
    FixedString, // text of at most `size` characters, declared fixed-length
    Float,       // double
    DateTime,    // QDateTime without time zone (an automation date on the wire)
};

struct FieldDef
{
    QString name;
    FieldType type = FieldType::String;
    int size = 0;  // characters, for the two text types; 0 for the others
    QString label; // display label; empty means the name is shown
    bool visible = true;
    bool readOnly = false;
    bool required = false;
    QString displayFormat; // e.g. "#,##0.00" for floats; empty: the default display

    QString displayLabel() const { return label.isEmpty() ? name : label; }
    bool isText() const { return type == FieldType::String || type == FieldType::FixedString; }
};

// An in-memory table with a cursor, in the role of the host's client data set.
//
// Values are QVariant: QString for texts, double for floats, QDateTime for date-times, and a
// null (invalid) QVariant for a null value. A text longer than its field's size is an error.
//
// Row indexes are 0-based; recNo() is 1-based as the host framework counts. A closed table
// counts as empty. Moving the cursor while a row is being edited or inserted posts it first.
//
// Views follow the table through its signals. While controls are disabled (disableControls()
// nested any number of times) no signal is emitted; the first disableControls() emits
// aboutToReset and the last enableControls() emits tableReset, so a view brackets the whole
// suspension as one reset.
//
// Errors: every operation that cannot be carried out (closed table, wrong state, unknown field,
// wrong value type, text too long, required value missing, malformed packet) throws
// DataSetError and leaves the table as it was.
class MemTable : public QObject
{
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit, Insert };
    enum LocateOption { NoLocateOptions = 0, CaseInsensitive = 1, PartialKey = 2 };
    Q_DECLARE_FLAGS(LocateOptions, LocateOption)

    explicit MemTable(const QString &name = {}, QObject *parent = nullptr);
    ~MemTable() override;

    QString name() const;

    // Field declarations. Changing them is only allowed while the table is closed.
    void addField(const FieldDef &field);
    void setFields(const QList<FieldDef> &fields);
    void clearFields();
    const QList<FieldDef> &fields() const;
    int fieldCount() const;
    int fieldIndex(const QString &fieldName) const;   // -1 when absent; case-insensitive
    int indexOfField(const QString &fieldName) const; // throws DataSetError when absent
    const FieldDef &field(int index) const;
    const FieldDef &field(const QString &fieldName) const;

    // The text shown for a value of one field (OnGetText). Without a handler the field's
    // display format applies. A handler reads the row with viewValue() so that a row being
    // edited shows its pending values. Handlers are kept by field name and survive new field
    // declarations.
    using GetTextHandler = std::function<QString(const MemTable &table, int row, bool display)>;
    void setGetTextHandler(const QString &fieldName, GetTextHandler handler);
    // Whether displayText() of the field is its stored text as it stands: a text field without a
    // GetText handler.
    bool showsStoredText(int fieldIndex) const;

    // Opening and closing.
    void createDataSet(); // opens the table empty with the declared fields
    void close();         // drops the rows; the field declarations stay
    bool isOpen() const;
    bool isEmpty() const; // true when closed or without rows
    State state() const;

    // Ordering: field names separated by ";"; empty keeps insertion order.
    void setIndexFieldNames(const QString &names);
    QString indexFieldNames() const;

    // Cursor.
    int recordCount() const;
    int currentRow() const; // -1 when the table is closed or empty
    int recNo() const;      // currentRow() + 1; 0 when none
    void first();
    void last();
    void next();
    void prior();
    void moveTo(int row);
    bool eof() const; // true after next() past the last row, and on an empty table
    bool bof() const;
    bool locate(const QString &fieldName, const QVariant &value,
                LocateOptions options = NoLocateOptions);

    // Editing the current row.
    void append(); // a new row at the end (or in index order when posted)
    void insert(); // a new row before the current one (or in index order when posted)
    void edit();
    void post();
    void cancel();
    void deleteRecord();
    void emptyDataSet(); // removes every row, keeps the table open

    // Values of the current row (the edit buffer while editing or inserting).
    QVariant value(const QString &fieldName) const;
    QVariant value(int fieldIndex) const;
    void setValue(const QString &fieldName, const QVariant &value); // needs Edit or Insert
    void setValue(int fieldIndex, const QVariant &value);
    QString asString(const QString &fieldName) const; // null gives an empty text
    double asFloat(const QString &fieldName) const;   // null gives 0
    QDateTime asDateTime(const QString &fieldName) const;

    // Values of any stored row, read in place without moving the cursor.
    // Both throw DataSetError for a row or field out of range (a closed table has no rows).
    QVariant valueAt(int row, int fieldIndex) const;
    // The UTF-8 bytes of a stored text value, without making a QString: valid until the row
    // changes or `scratch` is reused; a null view for a null value.
    QByteArrayView utf8At(int row, int fieldIndex, QByteArray *scratch) const;
    // The first stored row in [from, to) whose text in the field begins with the bytes of
    // `prefix`, -1 when none does; a null value begins with nothing but an empty prefix. Rows are
    // read as stored (not a pending edit). Throws DataSetError for a field that is not a text.
    int findTextPrefix(int fieldIndex, QByteArrayView prefix, int from, int to) const;
    // As a view shows the row: the edit buffer for the row being edited, else valueAt().
    QVariant viewValue(int row, int fieldIndex) const;
    // The display text of viewValue(): the GetText handler, else the field's display format
    // ("#,##0.00" family for floats with the system locale's separators; for date-times a
    // QDateTime format string, and without one the locale's short date plus the time when it
    // is not midnight); texts as stored; null gives an empty text.
    QString displayText(int row, int fieldIndex) const;

    // Suspending the attached views.
    void disableControls();
    void enableControls();
    bool controlsDisabled() const;

    // Data packets: loading replaces the whole content (or fails and leaves it unchanged).
    // With declared fields the packet's fields are matched to them by name; without, the
    // table takes the packet's declarations. The cursor ends on the first row.
    // Declared fields that the packet lacks, and packet fields that are not declared, are
    // errors; so is a value that its declared field cannot hold. A pending edit is dropped by
    // a successful load. Saving writes the stored rows (not a pending edit); a closed table
    // cannot be saved.
    void loadFromPacket(const QByteArray &packet);
    QByteArray saveToPacket() const;

signals:
    // The whole content changed (opened, closed, loaded, emptied, reordered, fields declared,
    // controls resumed). The cursor may have moved as well: currentRowChanged is not emitted
    // for a reset.
    void aboutToReset();
    void tableReset();
    // One stored row was added, changed or removed (row indexes after the change).
    void rowAboutToBeInserted(int row);
    void rowInserted(int row);
    void rowAboutToBeRemoved(int row);
    void rowRemoved(int row);
    void rowChanged(int row);
    // A stored row moved because the index order placed it elsewhere after a post; `to` is
    // its index after the move.
    void rowAboutToBeMoved(int from, int to);
    void rowMoved(int from, int to);
    // The cursor moved to another row (-1 when none).
    void currentRowChanged(int row);
    // A value of the current row changed in the edit buffer (fieldIndex) or, with -1, the
    // row as a whole: the role of the data source's data-change event. An operation that
    // leaves the cursor on another row index emits currentRowChanged instead of dataChanged(-1).
    void dataChanged(int fieldIndex);
    void stateChanged(fis::MemTable::State state);

private:
    struct Private;
    Private *d;
};

// Suspends a table's views for a scope, however the scope ends.
class ControlsDisabled
{
public:
    explicit ControlsDisabled(MemTable *table)
        : m_table(table)
    {
        m_table->disableControls();
    }
    ~ControlsDisabled() { m_table->enableControls(); }
    ControlsDisabled(const ControlsDisabled &) = delete;
    ControlsDisabled &operator=(const ControlsDisabled &) = delete;

private:
    MemTable *m_table;
};

} // namespace fis

Q_DECLARE_OPERATORS_FOR_FLAGS(fis::MemTable::LocateOptions)
