#pragma once

// What the tests on PostgreSQL and Firebird share: the engines by name, an SQLite file read
// through Qt, and values compared in one form whatever engine gave them.

#include "base/databasetarget.h"
#include "engineconnection.h"

#include <QDate>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QTest>
#include <QUuid>
#include <QVariant>

#include <vector>

namespace fis::test {

using Rows = std::vector<QVariantList>;

// The two server engines, for data rows: "postgresql", "firebird".
inline const std::vector<DatabaseEngine> &serverEngines()
{
    static const std::vector<DatabaseEngine> engines{DatabaseEngine::PostgreSql,
                                                     DatabaseEngine::Firebird};
    return engines;
}

// An SQLite file opened read-only through Qt's QSQLITE, apart from the code under test.
class SqliteFile
{
public:
    explicit SqliteFile(const QString &path)
        : m_name(QUuid::createUuid().toString())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open())
            qFatal("cannot open %s: %s", qPrintable(path), qPrintable(db.lastError().text()));
    }
    ~SqliteFile()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    SqliteFile(const SqliteFile &) = delete;
    SqliteFile &operator=(const SqliteFile &) = delete;

    Rows rows(const QString &sql, const QVariantList &params = {}) const
    {
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            qFatal("prepare %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        for (const QVariant &p : params)
            q.addBindValue(p);
        if (!q.exec())
            qFatal("exec %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        Rows out;
        const int columns = q.record().count();
        while (q.next()) {
            QVariantList row;
            for (int c = 0; c < columns; ++c)
                row.append(q.value(c));
            out.push_back(row);
        }
        return out;
    }

    QStringList column(const QString &sql, const QVariantList &params = {}) const
    {
        QStringList values;
        for (const QVariantList &row : rows(sql, params))
            values << row.value(0).toString();
        return values;
    }

    // The tables of the file, sorted.
    QStringList tables() const
    {
        return column(QStringLiteral("SELECT NAME FROM SQLITE_MASTER WHERE TYPE = 'table' AND "
                                     "NAME NOT LIKE 'sqlite_%' ORDER BY NAME"));
    }

    // (name, declared type) of a table's columns, in order.
    std::vector<std::pair<QString, QString>> columns(const QString &table) const
    {
        std::vector<std::pair<QString, QString>> out;
        for (const QVariantList &row :
             rows(QStringLiteral("SELECT NAME, TYPE FROM PRAGMA_TABLE_INFO(?) ORDER BY CID"),
                  {table}))
            out.emplace_back(row.at(0).toString(), row.at(1).toString());
        return out;
    }

    // The primary key's columns, in key order.
    QStringList primaryKey(const QString &table) const
    {
        return column(QStringLiteral("SELECT NAME FROM PRAGMA_TABLE_INFO(?) WHERE PK > 0 "
                                     "ORDER BY PK"),
                      {table});
    }

private:
    QString m_name;
};

// A value in the one form the comparisons use, given the SQLite type of its column: null as
// <null>, dates ISO-8601, numbers with the column's scale, CHAR without its padding.
inline QString comparable(const QVariant &value, const QString &type)
{
    if (value.isNull())
        return QStringLiteral("<null>");
    static const QRegularExpression numeric(QStringLiteral("^NUMERIC\\(\\d+(?:,(\\d+))?\\)$"));
    const QRegularExpressionMatch number = numeric.match(type);
    if (number.hasMatch())
        return QString::number(value.toDouble(), 'f', number.captured(1).toInt());
    if (type.startsWith(u"CHAR("))
        return valueText(value).remove(QRegularExpression(QStringLiteral(" +$")));
    return valueText(value);
}

} // namespace fis::test
