#include "hostfw/adoibquery.h"

#include "hostfw/hostdatabase.h"
#include "hostfw/hosterror.h"
#include "hostfw/queryresult.h"
#include "hostfw/sqlparams.h"

#include <QSqlDriver>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>

#include <sqlite3.h>

#include <vector>

namespace fis {

namespace {

// Dates come from SQLite as ISO text, either "yyyy-MM-dd" or with a time after a blank or a T.
QDateTime toDateTime(const QVariant &value, bool *ok)
{
    *ok = true;
    if (value.isNull())
        return {};
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime();
    if (value.typeId() == QMetaType::QDate)
        return QDateTime(value.toDate(), QTime(0, 0));
    const QString text = value.toString().trimmed();
    if (text.isEmpty())
        return {};
    QDateTime result;
    if (text.size() == 10)
        result = QDateTime(QDate::fromString(text, Qt::ISODate), QTime(0, 0));
    else
        result = QDateTime::fromString(QString(text).replace(10, 1, u'T'), Qt::ISODate);
    *ok = result.isValid() && text.size() >= 10;
    return result;
}

QString dateTimeText(const QDateTime &dt)
{
    if (!dt.isValid())
        return {};
    if (dt.time() == QTime(0, 0))
        return dt.date().toString(Qt::ISODate);
    return dt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString statementText(const QStringList &lines)
{
    const QString text = lines.join(u'\n');
    return text.trimmed().isEmpty() ? QString() : text;
}

} // namespace

// --- QueryField ---------------------------------------------------------------------------------

QString QueryField::name() const
{
    return def().name;
}

const FieldDef &QueryField::def() const
{
    return m_query->m_table->field(m_index);
}

QVariant QueryField::value() const
{
    const MemTable *table = m_query->m_table;
    if (!table->isOpen() || table->currentRow() < 0)
        return {};
    return table->value(m_index);
}

bool QueryField::IsNull() const
{
    return value().isNull();
}

QString QueryField::AsString() const
{
    const QVariant v = value();
    if (v.isNull())
        return {};
    if (isDateType(v.typeId()))
        return dateTimeText(v.toDateTime());
    return v.toString();
}

double QueryField::AsFloat() const
{
    const QVariant v = value();
    if (v.isNull())
        return 0;
    if (isNumber(v))
        return v.toDouble();
    bool ok = false;
    const double d = v.toString().trimmed().toDouble(&ok);
    if (!ok)
        throw DatabaseError(
            m_query->name(),
            QStringLiteral("o valor \"%1\" do campo %2 não é um número").arg(v.toString(), name()));
    return d;
}

QDateTime QueryField::AsDateTime() const
{
    bool ok = false;
    const QVariant v = value();
    const QDateTime dt = toDateTime(v, &ok);
    if (!ok)
        throw DatabaseError(
            m_query->name(),
            QStringLiteral("o valor \"%1\" do campo %2 não é uma data").arg(v.toString(), name()));
    return dt;
}

// --- TADOIBQuery --------------------------------------------------------------------------------

TADOIBQuery::TADOIBQuery(const QString &name, QObject *parent)
    : QObject(parent)
    , m_table(new MemTable(name, this))
{
    setObjectName(name);
}

TADOIBQuery::~TADOIBQuery() = default;

QString TADOIBQuery::statementFor(Dialect dialect) const
{
    const QStringList *own = &SQL_ORACLE;
    QString ownName = QStringLiteral("SQL_ORACLE");
    if (dialect == Dialect::MSSQL) {
        own = &SQL_MSSQL;
        ownName = QStringLiteral("SQL_MSSQL");
    } else if (dialect == Dialect::IB) {
        own = &SQL_IB;
        ownName = QStringLiteral("SQL_IB");
    }
    QString text = statementText(*own);
    if (text.isEmpty())
        text = statementText(SQL);
    if (text.isEmpty())
        throw DatabaseError(
            name(), QStringLiteral("nenhum comando para o dialeto %1 (%2 e SQL estão vazios)")
                        .arg(dialectName(dialect), ownName));
    return text;
}

void TADOIBQuery::addField(const FieldDef &field)
{
    if (Active())
        throw DatabaseError(
            name(), QStringLiteral("os campos só podem ser declarados com a consulta fechada"));
    m_fields.append(field);
}

void TADOIBQuery::clearFields()
{
    if (Active())
        throw DatabaseError(
            name(), QStringLiteral("os campos só podem ser declarados com a consulta fechada"));
    m_fields.clear();
}

QStringList TADOIBQuery::paramNames() const
{
    QStringList names;
    try {
        for (const QStringList *lines : {&SQL_ORACLE, &SQL_MSSQL, &SQL_IB, &SQL})
            names += placeholderNames(lines->join(u'\n'));
    } catch (const DatabaseError &e) {
        throw DatabaseError(name(), e.message());
    }
    names.removeDuplicates();
    return names;
}

QueryParam &TADOIBQuery::ParamByName(const QString &paramName)
{
    QString key = paramName.trimmed().toUpper();
    if (key.startsWith(u':'))
        key.remove(0, 1);
    if (!paramNames().contains(key))
        throw DatabaseError(name(),
                            QStringLiteral("nenhum comando usa o parâmetro %1").arg(paramName));
    return m_params.try_emplace(key, key).first->second;
}

void TADOIBQuery::Open()
{
    Close();
    if (BeforeOpen)
        BeforeOpen(*this);
    HostDatabase *database = m_database ? m_database : HostDatabase::current();
    if (!database)
        throw DatabaseError(
            name(), QStringLiteral("nenhuma conexão com o banco de dados do host foi definida"));
    try {
        database->open();
    } catch (const DatabaseError &e) {
        throw DatabaseError(name(), e.reason(), e.databaseMessage());
    }
    try {
        load(*database);
    } catch (...) {
        m_table->close();
        throw;
    }
}

namespace {

[[noreturn]] void refuseWriting(const QString &queryName)
{
    throw DatabaseError(queryName,
                        QStringLiteral("o comando alteraria o banco de dados; uma consulta só lê"));
}

// A query only reads: a writing statement is refused before it runs where the driver knows the
// statement's kind once it is prepared (SQLite asks the statement, QIBASE has Firebird's
// statement type); PostgreSQL refuses it in ReadOnlyTransaction.
void refuseWritingStatement(const QSqlQuery &query, const QString &queryName)
{
    const QVariant handle = query.result()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3_stmt*") == 0) {
        sqlite3_stmt *stmt = *static_cast<sqlite3_stmt *const *>(handle.constData());
        if (stmt && !sqlite3_stmt_readonly(stmt))
            refuseWriting(queryName);
    }
    if (query.driver()->dbmsType() == QSqlDriver::Interbase && !query.isSelect())
        refuseWriting(queryName);
}

// On PostgreSQL the query runs in a read-only transaction, where the server refuses any write;
// QPSQL cannot tell a statement's kind before it runs. A connection already in a transaction
// (someone else's) runs the query in it as it is.
class ReadOnlyTransaction
{
public:
    explicit ReadOnlyTransaction(QSqlDatabase db)
        : m_db(db)
    {
        if (db.driver()->dbmsType() != QSqlDriver::PostgreSQL || !m_db.transaction())
            return;
        m_open = true;
        QSqlQuery readOnly(m_db);
        readOnly.exec(QStringLiteral("SET TRANSACTION READ ONLY"));
    }
    // Nothing was written: ending with a rollback leaves nothing behind.
    ~ReadOnlyTransaction()
    {
        if (m_open)
            m_db.rollback();
    }
    ReadOnlyTransaction(const ReadOnlyTransaction &) = delete;
    ReadOnlyTransaction &operator=(const ReadOnlyTransaction &) = delete;

private:
    QSqlDatabase m_db;
    bool m_open = false;
};

// PostgreSQL folds unquoted names to lower case where the statements write them in upper case,
// as the other engines give them back and as the forms declare their fields.
QSqlRecord upperCaseNames(QSqlRecord record, const QString &driver)
{
    if (driver != u"QPSQL")
        return record;
    for (int c = 0; c < record.count(); ++c) {
        QSqlField field = record.field(c);
        field.setName(field.name().toUpper());
        record.replace(c, field);
    }
    return record;
}

void bindParams(QSqlQuery &query, const QStringList &names,
                const std::map<QString, QueryParam> &params, Dialect dialect)
{
    const QVariant nullText{QMetaType::fromType<QString>()};
    for (const QString &paramName : names) {
        const auto it = params.find(paramName);
        QVariant value = it == params.end() ? QVariant() : it->second.value();
        // Oracle stores and compares an empty text as null; the Oracle statements rely on it.
        if (value.isNull() || (dialect == Dialect::Oracle && value.typeId() == QMetaType::QString &&
                               value.toString().isEmpty()))
            value = nullText;
        query.addBindValue(value);
    }
}

// The columns a server engine gives back blank-padded to their declared length (CHAR), where
// the statements and the forms expect the value as SQLite holds it. Firebird pads to the byte
// length of the UTF8 character set (CHAR(2) 'BA' is 'BA' and six blanks).
std::vector<bool> paddedColumns(const QSqlRecord &record, const QString &driver)
{
    constexpr int kFirebirdText = 452; // SQL_TEXT; the low bit says nullable
    constexpr int kPostgresBpchar = 1042;
    std::vector<bool> padded(size_t(record.count()), false);
    for (int c = 0; c < record.count(); ++c) {
        const int type = record.field(c).typeID();
        padded[size_t(c)] = (driver == u"QIBASE" && (type & ~1) == kFirebirdText) ||
                            (driver == u"QPSQL" && type == kPostgresBpchar);
    }
    return padded;
}

std::vector<QVariantList> readRows(QSqlQuery &query, const std::vector<bool> &padded,
                                   const QString &queryName)
{
    std::vector<QVariantList> rows;
    const int columnCount = int(padded.size());
    while (query.next()) {
        QVariantList row;
        row.reserve(columnCount);
        for (int c = 0; c < columnCount; ++c) {
            QVariant value = query.value(c);
            if (padded[size_t(c)] && !value.isNull()) {
                QString text = value.toString();
                while (text.endsWith(u' '))
                    text.chop(1);
                value = text;
            }
            row.append(value);
        }
        rows.push_back(std::move(row));
    }
    if (query.lastError().isValid())
        throw DatabaseError(queryName, QStringLiteral("a leitura das linhas falhou"),
                            HostDatabase::errorText(query.lastError()));
    return rows;
}

QVariant floatValue(const FieldDef &field, const QVariant &raw, const QString &queryName)
{
    bool ok = true;
    QVariant value;
    const QString text = raw.toString().trimmed();
    if (isNumber(raw))
        value = raw.toDouble();
    else if (!text.isEmpty())
        value = text.toDouble(&ok);
    if (!ok)
        throw DatabaseError(queryName, QStringLiteral("o valor \"%1\" do campo %2 não é um número")
                                           .arg(raw.toString(), field.name));
    return value;
}

QVariant dateTimeValue(const FieldDef &field, const QVariant &raw, const QString &queryName)
{
    bool ok = true;
    const QDateTime dt = toDateTime(raw, &ok);
    if (!ok)
        throw DatabaseError(queryName, QStringLiteral("o valor \"%1\" do campo %2 não é uma data")
                                           .arg(raw.toString(), field.name));
    return dt.isValid() ? QVariant(dt) : QVariant();
}

// A column's value as the field stores it; null stays null.
QVariant storedValue(const FieldDef &field, const QVariant &raw, const QString &queryName)
{
    if (raw.isNull())
        return {};
    if (field.isText())
        return isDateType(raw.typeId()) ? dateTimeText(raw.toDateTime()) : raw.toString();
    if (field.type == FieldType::Float)
        return floatValue(field, raw, queryName);
    return dateTimeValue(field, raw, queryName);
}

void fillTable(MemTable *table, const ResultLayout &layout, const std::vector<QVariantList> &rows,
               const QString &queryName)
{
    table->setFields(layout.fields);
    table->createDataSet();
    ControlsDisabled suspended(table);
    for (const QVariantList &row : rows) {
        table->append();
        for (int f = 0; f < layout.fields.size(); ++f)
            table->setValue(
                f, storedValue(layout.fields.at(f), row.at(layout.columnOf[size_t(f)]), queryName));
        table->post();
    }
}

} // namespace

void TADOIBQuery::load(HostDatabase &database)
{
    const Dialect dialect = database.dialect();
    PositionalSql statement;
    try {
        statement = toPositionalSql(statementFor(dialect));
    } catch (const DatabaseError &e) {
        if (!e.queryName().isEmpty())
            throw;
        throw DatabaseError(name(), e.message());
    }

    QSqlQuery query(database.database());
    // Ends before the query goes, so that PostgreSQL frees the statement outside the transaction.
    const ReadOnlyTransaction readOnly(database.database());
    query.setForwardOnly(true);
    if (!query.prepare(statement.sql))
        throw DatabaseError(name(), QStringLiteral("o comando não pode ser preparado"),
                            HostDatabase::errorText(query.lastError()));
    refuseWritingStatement(query, name());
    bindParams(query, statement.names, m_params, dialect);

    if (!query.exec())
        throw DatabaseError(name(), QStringLiteral("o comando falhou"),
                            HostDatabase::errorText(query.lastError()));
    if (!query.isSelect())
        throw DatabaseError(name(),
                            QStringLiteral("o comando não retorna linhas; uma consulta só lê"));

    const QSqlRecord record = upperCaseNames(query.record(), database.driverName());
    const std::vector<QVariantList> rows =
        readRows(query, paddedColumns(record, database.driverName()), name());
    query.finish();

    fillTable(m_table, resultLayout(m_fields, record, rows, name()), rows, name());
    m_table->first();
}

void TADOIBQuery::Close()
{
    m_table->close();
}

bool TADOIBQuery::Active() const
{
    return m_table->isOpen();
}

bool TADOIBQuery::IsEmpty() const
{
    return m_table->isEmpty();
}

int TADOIBQuery::RecordCount() const
{
    return Active() ? m_table->recordCount() : 0;
}

void TADOIBQuery::requireActive(const char *operation) const
{
    if (!Active())
        throw DatabaseError(
            name(),
            QStringLiteral("%1 exige uma consulta aberta").arg(QString::fromLatin1(operation)));
}

void TADOIBQuery::First()
{
    requireActive("First");
    m_table->first();
}

void TADOIBQuery::Next()
{
    requireActive("Next");
    m_table->next();
}

bool TADOIBQuery::Eof() const
{
    return !Active() || m_table->eof();
}

QueryField TADOIBQuery::FieldByName(const QString &fieldName) const
{
    requireActive("FieldByName");
    const int index = m_table->fieldIndex(fieldName);
    if (index < 0)
        throw DatabaseError(name(), QStringLiteral("não existe o campo %1").arg(fieldName));
    return QueryField(this, index);
}

} // namespace fis
