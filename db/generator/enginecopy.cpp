// Copies a demo database made in SQLite into PostgreSQL or Firebird: the engine's schema first,
// every table's rows in one transaction with multi-row statements, the foreign keys and the
// secondary indexes after, and the sequences set to follow the numbers the data has used.
#include "demodata.h"
#include "engineconnection.h"
#include "sqldb/firebirdconnection.h"
#include "sqlitedb.h"
#include "sqlscript.h"

#include <QDate>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlQuery>

#include <algorithm>
#include <map>
#include <memory>

namespace fis {

namespace {

constexpr int kRowsPerStatement = 100;
// What one Firebird statement's parameters may take, in the bytes of their declared types: a
// table of wide rows (the file lines) goes in fewer rows per statement.
constexpr int kFirebirdParameterBytes = 256 * 1024;

enum class ColumnKind { Text, Number, Date, Timestamp };

struct Column
{
    QString name;
    QString type; // as declared in the SQLite schema, e.g. VARCHAR(4), NUMERIC(15,2)
    ColumnKind kind = ColumnKind::Text;
};

ColumnKind kindOf(const QString &type)
{
    if (type.startsWith(u"TIMESTAMP", Qt::CaseInsensitive))
        return ColumnKind::Timestamp;
    if (type.startsWith(u"DATE", Qt::CaseInsensitive))
        return ColumnKind::Date;
    if (type.startsWith(u"NUMERIC", Qt::CaseInsensitive) ||
        type.startsWith(u"INTEGER", Qt::CaseInsensitive))
        return ColumnKind::Number;
    return ColumnKind::Text;
}

std::vector<Column> columnsOf(SqliteDb &source, const QString &table)
{
    std::vector<Column> columns;
    SqliteStmt info(source, "SELECT NAME, TYPE FROM PRAGMA_TABLE_INFO(?) ORDER BY CID");
    info.bind(1, table.toStdString());
    while (info.step())
        columns.push_back({info.text(0), info.text(1), kindOf(info.text(1))});
    return columns;
}

// The type a Firebird statement declares a parameter with: the column's own, but a precision
// above Firebird's 18 digits.
QString firebirdType(const QString &type)
{
    static const QRegularExpression numeric(QStringLiteral("^NUMERIC\\((\\d+)(.*)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = numeric.match(type);
    if (match.hasMatch() && match.captured(1).toInt() > 18)
        return QStringLiteral("NUMERIC(18") + match.captured(2);
    return type;
}

// Bytes of a parameter of the type in Firebird's messages (UTF8: four per character).
int firebirdBytes(const Column &column)
{
    static const QRegularExpression length(QStringLiteral("CHAR\\((\\d+)\\)"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = length.match(column.type);
    return match.hasMatch() ? 4 * match.captured(1).toInt() + 2 : 8;
}

// One value of an SQLite row as the engine's driver takes it. PostgreSQL reads every value from
// its text; QIBASE binds a date only from a date.
QVariant engineValue(const SqliteStmt &row, int c, const Column &column, DatabaseEngine engine)
{
    const bool firebird = engine == DatabaseEngine::Firebird;
    if (firebird && column.kind == ColumnKind::Date)
        return row.isNull(c) ? QVariant(QMetaType::fromType<QDate>())
                             : QVariant(QDate::fromString(row.text(c), Qt::ISODate));
    if (firebird && column.kind == ColumnKind::Timestamp)
        return row.isNull(c)
                   ? QVariant(QMetaType::fromType<QDateTime>())
                   : QVariant(QDateTime::fromString(row.text(c).replace(10, 1, u'T'), Qt::ISODate));
    return row.isNull(c) ? QVariant(QMetaType::fromType<QString>()) : QVariant(row.text(c));
}

// Rows of one table written many to a statement, their values bound: PostgreSQL's
// INSERT ... VALUES (...), (...); on Firebird, which has no multi-row VALUES, an EXECUTE BLOCK
// whose parameters feed one INSERT per row.
class RowWriter
{
public:
    RowWriter(EngineConnection &db, const QString &table, const std::vector<Column> &columns)
        : m_db(db)
        , m_table(table)
        , m_columns(columns)
    {
        m_rowsPerStatement = kRowsPerStatement;
        if (db.engine() == DatabaseEngine::Firebird) {
            int bytes = 0;
            for (const Column &column : columns)
                bytes += firebirdBytes(column);
            m_rowsPerStatement = std::clamp(kFirebirdParameterBytes / bytes, 1, kRowsPerStatement);
        }
    }

    void add(QVariantList &&row)
    {
        m_pending.append(std::move(row));
        if (++m_pendingRows == m_rowsPerStatement)
            flush();
    }

    void finish()
    {
        if (m_pendingRows > 0)
            flush();
    }

private:
    void flush()
    {
        auto it = m_statements.find(m_pendingRows);
        if (it == m_statements.end())
            it = m_statements
                     .emplace(m_pendingRows,
                              std::make_unique<QSqlQuery>(m_db.prepare(statement(m_pendingRows))))
                     .first;
        m_db.execute(*it->second, m_pending);
        m_pending.clear();
        m_pendingRows = 0;
    }

    QString statement(int rows) const;

    EngineConnection &m_db;
    QString m_table;
    std::vector<Column> m_columns;
    int m_rowsPerStatement = 1;
    QVariantList m_pending; // the values of the pending rows, row after row
    int m_pendingRows = 0;
    std::map<int, std::unique_ptr<QSqlQuery>> m_statements; // by number of rows
};

QString RowWriter::statement(int rows) const
{
    QStringList names;
    for (const Column &column : m_columns)
        names << column.name;
    const QString insert = QStringLiteral("INSERT INTO %1 (%2) VALUES ")
                               .arg(m_table, names.join(QStringLiteral(", ")));
    const qsizetype width = qsizetype(m_columns.size());
    if (m_db.engine() == DatabaseEngine::PostgreSql) {
        const QString row = u'(' + QStringList(width, QStringLiteral("?")).join(u',') + u')';
        return insert + QStringList(rows, row).join(QStringLiteral(", "));
    }
    QStringList declarations;
    QStringList inserts;
    for (int r = 0; r < rows; ++r) {
        QStringList values;
        for (qsizetype c = 0; c < width; ++c) {
            const QString name = QStringLiteral("P%1").arg(r * width + c);
            declarations << name + u' ' + firebirdType(m_columns[size_t(c)].type) +
                                QStringLiteral(" = ?");
            values << u':' + name;
        }
        inserts << insert + u'(' + values.join(u',') + QStringLiteral(");");
    }
    return QStringLiteral("EXECUTE BLOCK (%1) AS BEGIN\n%2\nEND")
        .arg(declarations.join(QStringLiteral(", ")), inserts.join(u'\n'));
}

void copyTable(SqliteDb &source, EngineConnection &db, const QString &table)
{
    const std::vector<Column> columns = columnsOf(source, table);
    QStringList names;
    for (const Column &column : columns)
        names << column.name;
    RowWriter writer(db, table, columns);
    SqliteStmt select(source, QStringLiteral("SELECT %1 FROM %2")
                                  .arg(names.join(QStringLiteral(", ")), table)
                                  .toUtf8()
                                  .constData());
    while (select.step()) {
        QVariantList row;
        row.reserve(qsizetype(columns.size()));
        for (size_t c = 0; c < columns.size(); ++c)
            row.append(engineValue(select, int(c), columns[c], db.engine()));
        writer.add(std::move(row));
    }
    writer.finish();
}

bool hasTable(SqliteDb &source, const QString &table)
{
    SqliteStmt q(source, "SELECT 1 FROM SQLITE_MASTER WHERE TYPE = 'table' AND NAME = ?");
    q.bind(1, table.toStdString());
    return q.step();
}

// PostgreSQL: everything the schema creates goes first, so that a second run starts afresh and
// anything else in the database stays.
void dropSchemaObjects(EngineConnection &db, const QStringList &statements)
{
    static const QRegularExpression parameters(
        QStringLiteral("^CREATE\\s+FUNCTION\\s+\\w+\\s*\\(([^)]*)\\)"),
        QRegularExpression::CaseInsensitiveOption);
    for (const QString &statement : statements) {
        QString kind;
        const QString name = createdObject(statement, &kind);
        if (kind == u"TABLE" || kind == u"SEQUENCE") {
            db.exec(QStringLiteral("DROP %1 IF EXISTS %2 CASCADE").arg(kind, name));
        } else if (kind == u"FUNCTION") {
            // A function is dropped by its argument types: "A ANYCOMPATIBLE" gives ANYCOMPATIBLE.
            QStringList types;
            const QString list = parameters.match(withoutLeadingComments(statement)).captured(1);
            for (const QString &parameter : list.split(u','))
                types << parameter.simplified().section(u' ', 1);
            db.exec(QStringLiteral("DROP FUNCTION IF EXISTS %1(%2)")
                        .arg(name, types.join(QStringLiteral(", "))));
        }
    }
}

// The sequences take over from the SQLite file's number generators: the next number follows
// the last one its data used.
void continueSequences(SqliteDb &source, EngineConnection &db, const QStringList &statements)
{
    if (!hasTable(source, QStringLiteral("SEQCOMPRALEG")))
        return;
    QStringList sequences;
    for (const QString &statement : statements) {
        QString kind;
        if (const QString name = createdObject(statement, &kind); kind == u"SEQUENCE")
            sequences << name;
    }
    SqliteStmt last(source, "SELECT NMSEQUENCIA, NRULTIMO FROM SEQCOMPRALEG WHERE NRULTIMO > 0");
    while (last.step()) {
        const QString sequence = QStringLiteral("SEQ_") + last.text(0).toUpper();
        if (!sequences.contains(sequence))
            continue;
        const qint64 used = last.integer(1);
        // Firebird's SET GENERATOR sets the current value; PostgreSQL's RESTART the next one.
        db.exec(
            db.engine() == DatabaseEngine::Firebird
                ? QStringLiteral("SET GENERATOR %1 TO %2").arg(sequence).arg(used)
                : QStringLiteral("ALTER SEQUENCE %1 RESTART WITH %2").arg(sequence).arg(used + 1));
    }
}

QString schemaScript(DatabaseEngine engine)
{
    return QString::fromUtf8(engine == DatabaseEngine::Firebird ? firebirdSchemaScript()
                                                                : postgresqlSchemaScript());
}

void copyTables(SqliteDb &source, EngineConnection &db, const QStringList &statements)
{
    for (const QString &statement : statements) {
        QString kind;
        const QString table = createdObject(statement, &kind);
        if (kind == u"TABLE" && hasTable(source, table))
            copyTable(source, db, table);
    }
}

// A foreign key of a table, added once the rows are in.
struct ForeignKey
{
    QString table, name, columns, parent, parentColumns;
};

// The schema's statements as the copy runs them: a table without its foreign keys, which are
// added once the rows are in (each engine then checks them all at once, far cheaper than row by
// row), and the secondary indexes last.
struct LoadPlan
{
    QStringList schema; // in script order, without the foreign keys and the indexes
    std::vector<ForeignKey> foreignKeys;
    QStringList indexes;
};

LoadPlan loadPlan(const QStringList &statements)
{
    static const QRegularExpression foreignKey(
        QStringLiteral(",\\s*CONSTRAINT\\s+(\\w+)\\s+FOREIGN\\s+KEY\\s*\\(([^)]*)\\)\\s*"
                       "REFERENCES\\s+(\\w+)\\s*\\(([^)]*)\\)"),
        QRegularExpression::CaseInsensitiveOption);
    LoadPlan plan;
    for (const QString &statement : statements) {
        QString kind;
        const QString name = createdObject(statement, &kind);
        if (isCreateIndex(statement)) {
            plan.indexes << statement;
            continue;
        }
        QString table = statement;
        if (kind == u"TABLE") {
            for (const QRegularExpressionMatch &m : foreignKey.globalMatch(statement))
                plan.foreignKeys.push_back({name, m.captured(1), m.captured(2).simplified(),
                                            m.captured(3), m.captured(4).simplified()});
            table.remove(foreignKey);
        }
        plan.schema << table;
    }
    return plan;
}

// Adds a foreign key after its rows have been checked: SQLite does not hold foreign keys by
// default, and Firebird checks a new one only at the commit, whose failure Qt's QIBASE cannot
// take back.
void addForeignKey(EngineConnection &db, const ForeignKey &key)
{
    QStringList matches;
    QStringList present;
    const QStringList columns = key.columns.split(u',');
    const QStringList parentColumns = key.parentColumns.split(u',');
    for (qsizetype i = 0; i < columns.size(); ++i) {
        matches << QStringLiteral("P.%1 = C.%2")
                       .arg(parentColumns.at(i).trimmed(), columns.at(i).trimmed());
        present << QStringLiteral("C.%1 IS NOT NULL").arg(columns.at(i).trimmed());
    }
    const qint64 orphans =
        db.rows(QStringLiteral("SELECT COUNT(*) FROM %1 C WHERE %2 AND NOT EXISTS (SELECT 1 "
                               "FROM %3 P WHERE %4)")
                    .arg(key.table, present.join(QStringLiteral(" AND ")), key.parent,
                         matches.join(QStringLiteral(" AND "))))
            .at(0)
            .at(0)
            .toLongLong();
    if (orphans > 0)
        throw DemoDataError(
            QStringLiteral("%1 linha(s) de %2 não têm a linha de %3 a que se referem (%4).")
                .arg(orphans)
                .arg(key.table, key.parent, key.name));
    db.exec(QStringLiteral("ALTER TABLE %1 ADD CONSTRAINT %2 FOREIGN KEY (%3) REFERENCES %4 (%5)")
                .arg(key.table, key.name, key.columns, key.parent, key.parentColumns));
}

// PostgreSQL runs it all in one transaction, DDL included, so that a failure leaves the database
// as it was. Firebird sees a table only once the DDL that made it is committed: the schema goes
// statement by statement, then the rows in one transaction.
void fillEngine(SqliteDb &source, EngineConnection &db)
{
    const QStringList statements = splitSqlScript(schemaScript(db.engine()));
    const LoadPlan plan = loadPlan(statements);
    const bool postgres = db.engine() == DatabaseEngine::PostgreSql;
    if (postgres) {
        db.begin();
        dropSchemaObjects(db, statements);
    }
    for (const QString &statement : plan.schema)
        db.exec(statement);
    if (!postgres)
        db.begin();
    copyTables(source, db, statements);
    if (!postgres)
        db.commit();
    for (const ForeignKey &key : plan.foreignKeys)
        addForeignKey(db, key);
    for (const QString &index : plan.indexes)
        db.exec(index);
    continueSequences(source, db, statements);
    if (postgres) {
        db.commit();
        db.exec(QStringLiteral("ANALYZE"));
    }
}

} // namespace

namespace {

// The database library's failures as the generator reports them.
template<typename Work> void asDemoDataError(Work work)
{
    try {
        work();
    } catch (const DatabaseError &e) {
        throw DemoDataError(e.message());
    }
}

// A fresh database file in place of any there was, without forced writes for the bulk load.
void replaceFirebirdDatabase(const DatabaseTarget &target)
{
    asDemoDataError([&] {
        dropFirebirdDatabase(target);
        createFirebirdDatabase(target, false);
    });
}

} // namespace

void copyDemoDatabase(const QString &sqlitePath, const DatabaseTarget &target)
{
    if (!target.isServerEngine())
        throw DemoDataError(QStringLiteral("A cópia é para PostgreSQL ou Firebird, não para %1.")
                                .arg(target.toString()));
    if (!QFileInfo(sqlitePath).isFile())
        throw DemoDataError(QStringLiteral("O banco de dados %1 não existe.").arg(sqlitePath));
    SqliteDb source(sqlitePath, SqliteDb::Mode::ReadOnly);
    const bool firebird = target.engine == DatabaseEngine::Firebird;
    if (firebird)
        replaceFirebirdDatabase(target);
    try {
        {
            EngineConnection db(target);
            try {
                fillEngine(source, db);
            } catch (...) {
                db.rollback();
                throw;
            }
        }
        if (firebird)
            asDemoDataError([&] { setFirebirdForcedWrites(target, true); });
    } catch (...) {
        // A half-made Firebird database goes, as a half-written SQLite file does.
        if (firebird) {
            try {
                dropFirebirdDatabase(target);
            } catch (const DatabaseError &) {
                // The first failure is the one to report.
            }
        }
        throw;
    }
}

} // namespace fis
