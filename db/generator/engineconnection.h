#pragma once

#include "base/databasetarget.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <vector>

class QSqlError;

namespace fis {

// The generator's Qt SQL connection to a PostgreSQL (QPSQL) or Firebird (QIBASE) database. The
// password is read from the target when the connection opens and is not kept. Every failure
// throws DemoDataError naming the target (never its password) and carrying the driver's message.
// The queries of a connection must be gone before it is.
class EngineConnection
{
public:
    explicit EngineConnection(const DatabaseTarget &target);
    ~EngineConnection();
    EngineConnection(const EngineConnection &) = delete;
    EngineConnection &operator=(const EngineConnection &) = delete;

    DatabaseEngine engine() const { return m_target.engine; }
    const DatabaseTarget &target() const { return m_target; }
    QSqlDatabase database() const;

    // Runs one statement without parameters. Outside begin()/commit() each runs in a
    // transaction of its own, whose commit is checked too (Firebird sees a new table only once
    // its DDL is committed, and checks a new foreign key against the rows then).
    void exec(const QString &sql);
    // A statement prepared for execute().
    QSqlQuery prepare(const QString &sql);
    // Binds the values in order and runs the prepared statement.
    void execute(QSqlQuery &query, const QVariantList &values);
    // Every row of a query, each value as the driver gives it.
    std::vector<QVariantList> rows(const QString &sql, const QVariantList &values = {});

    void begin();
    void commit();
    void rollback() noexcept;

    [[noreturn]] void fail(const QString &what, const QSqlError &error) const;

private:
    DatabaseTarget m_target;
    QString m_name;
    bool m_inTransaction = false;
};

// The text a value reads as in the generator's summaries and checks: dates as ISO-8601
// ('YYYY-MM-DD', 'YYYY-MM-DD HH:MM:SS'), everything else as Qt converts it.
QString valueText(const QVariant &value);

} // namespace fis
