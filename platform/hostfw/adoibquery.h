#pragma once

// `TADOIBQuery` and its members `SQL_ORACLE`, `SQL_MSSQL`, `SQL_IB`, `SQL`, `ParamByName`,
// `Open`, `Close`, `Active`, `IsEmpty`, `First`, `Next`, `Eof`, `RecordCount`, `FieldByName`,
// `BeforeOpen` and the field accessors `AsString`, `AsFloat`, `AsDateTime`, `IsNull` keep the
// names under which the screen modules use the host's query component; everything else follows
// the Qt naming of the project. The end test is `Eof()`, not `EOF()`: EOF is a C library macro.

#include "dataset/memtable.h"
#include "hostfw/hostconfig.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <map>

namespace fis {

class HostDatabase;
class TADOIBQuery;

// A named parameter of a query. Its value lasts across Close and Open until it is set again.
// A parameter never set is null.
class QueryParam
{
public:
    explicit QueryParam(const QString &name = {})
        : m_name(name)
    {}

    QString name() const { return m_name; }
    // A null QString is stored as an empty text: a value, which only the Oracle dialect binds
    // as null.
    void setAsString(const QString &text) { m_value = text.isNull() ? QStringLiteral("") : text; }
    void setValue(const QVariant &value) { m_value = value; }
    void clear() { m_value = QVariant(); } // null
    bool isNull() const { return m_value.isNull(); }
    QVariant value() const { return m_value; }
    QString asString() const { return m_value.toString(); }

private:
    QString m_name;
    QVariant m_value;
};

// A column of an open query, read at the current row each time it is asked; valid while its
// query exists. On an empty query every value is null.
class QueryField
{
public:
    QString name() const;
    const FieldDef &def() const;
    QVariant value() const;
    bool IsNull() const;
    QString AsString() const;     // null gives an empty text
    double AsFloat() const;       // null gives 0; throws DatabaseError for a text not a number
    QDateTime AsDateTime() const; // null gives an invalid date-time; throws for a text not a date

private:
    friend class TADOIBQuery;
    QueryField(const TADOIBQuery *query, int index)
        : m_query(query)
        , m_index(index)
    {}

    const TADOIBQuery *m_query;
    int m_index;
};

// A read-only query on the host's shared database.
//
// It carries one statement per dialect; the dialect of its connection picks the statement, and
// `SQL` serves a dialect that has none of its own. Statements name their parameters ":P_X";
// values are always bound, never written into the statement. Under the Oracle dialect an empty
// text parameter is bound as null, as Oracle itself stores and compares it.
//
// Open() runs the statement and loads every row into an in-memory table (table()), whose fields
// are the declared ones (addField) followed by any other column of the result as a hidden field;
// without declarations the result's columns give the fields. The connection is free again as
// soon as Open() returns.
//
// Every failure throws: DatabaseError (with the query's name and the database's own message)
// for the statement and the connection, DataSetError when a value does not fit its declared
// field, and whatever BeforeOpen throws.
class TADOIBQuery : public QObject
{
    Q_OBJECT
public:
    explicit TADOIBQuery(const QString &name = {}, QObject *parent = nullptr);
    ~TADOIBQuery() override;

    QString name() const { return objectName(); }

    // The statements, one line per entry as the form holds them; lines are joined with a line
    // break. A change applies at the next Open().
    QStringList SQL_ORACLE;
    QStringList SQL_MSSQL;
    QStringList SQL_IB;
    QStringList SQL;

    // Runs at the start of every Open(), before the statement is chosen and the parameters
    // bound. An exception it throws ends the Open() with the query closed.
    std::function<void(TADOIBQuery &query)> BeforeOpen;

    // The connection; HostDatabase::current() when none was given (looked up at each Open()).
    void setDatabase(HostDatabase *database) { m_database = database; }
    HostDatabase *database() const { return m_database; }

    // The statement that runs under a dialect. Throws DatabaseError naming the query and the
    // dialect when neither that dialect's statement nor `SQL` is set.
    QString statementFor(Dialect dialect) const;

    // Field declarations, as in the form data. Only while the query is closed; otherwise
    // throws DatabaseError.
    void addField(const FieldDef &field);
    void clearFields();
    const QList<FieldDef> &declaredFields() const { return m_fields; }

    // The parameter of that name (case-insensitive, with or without the leading colon). Throws
    // DatabaseError when no statement of the query uses the name.
    QueryParam &ParamByName(const QString &name);
    QStringList paramNames() const; // of all statements, upper-case

    // Runs BeforeOpen, then the statement, and loads the rows; the cursor is on the first row.
    // Opening an open query runs it again. On any failure the query ends up closed.
    void Open();
    void Close();
    bool Active() const;
    bool IsEmpty() const;    // true also when closed
    int RecordCount() const; // 0 when closed

    // Cursor moves throw DatabaseError on a closed query.
    void First();
    void Next();
    bool Eof() const; // true after Next() past the last row, on an empty and on a closed query

    // A column of the current row. Throws DatabaseError when the query is closed or has no
    // such field.
    QueryField FieldByName(const QString &name) const;

    // The rows, for views (lookup windows show it through the dataset's table model). Owned by
    // the query; its fields follow the last Open().
    MemTable *table() const { return m_table; }

private:
    friend class QueryField;
    void requireActive(const char *operation) const;
    void load(HostDatabase &database);

    HostDatabase *m_database = nullptr;
    QList<FieldDef> m_fields;
    std::map<QString, QueryParam> m_params; // by upper-case name; references stay valid
    MemTable *m_table;
};

} // namespace fis
