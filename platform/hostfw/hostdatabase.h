#pragma once

#include "hostfw/hostconfig.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

namespace fis {

// The host's shared database connection (the role of the host's dtmDBGeral data module): one
// named QSqlDatabase opened from the host configuration, together with the dialect whose
// statements the queries run on it.
//
// On SQLite every connection gets what the Oracle statements expect of the database: an NVL(a, b)
// function (a when not null, else b), and a busy timeout so that a lock held by the application
// server makes a read wait instead of failing at once. PostgreSQL (QPSQL) and Firebird (QIBASE)
// bring what their statements call in their schema (db/schema/); Firebird's connection uses the
// character set UTF8. The password of a server engine is read from the configuration's
// PasswordFile or PasswordEnv when the connection opens and is kept neither here nor in the
// QSqlDatabase.
//
// Not copyable. Queries keep no statement open between calls, so the connection can be closed
// and destroyed at any time the queries are not running.
class HostDatabase
{
public:
    static QString defaultConnectionName() { return QStringLiteral("dtmDBGeral"); }

    // Registers the connection without opening it. Throws ConfigError when the dialect cannot be
    // worked out, DatabaseError when the driver is not available or the connection name is
    // already in use.
    explicit HostDatabase(const HostConfig &config,
                          const QString &connectionName = defaultConnectionName());
    ~HostDatabase();
    HostDatabase(const HostDatabase &) = delete;
    HostDatabase &operator=(const HostDatabase &) = delete;

    // Opens the connection (does nothing when it is open). Throws DatabaseError carrying the
    // driver's own message when it cannot be opened, or the reason the password cannot be read;
    // an SQLite file that does not exist is such an error, since an empty new file would only
    // fail later at every query.
    void open();
    void close();
    bool isOpen() const;

    Dialect dialect() const { return m_dialect; }
    QString connectionName() const { return m_connectionName; }
    QString driverName() const;
    QSqlDatabase database() const;

    // The process-wide shared connection used by queries that were given none; nullptr until
    // set. Not owned: a connection that is destroyed unregisters itself.
    static HostDatabase *current();
    static void setCurrent(HostDatabase *database);

    // The driver's and the database's message of an error, as one text.
    static QString errorText(const QSqlError &error);

private:
    void prepareSqlite();
    void openServerEngine(QSqlDatabase &db);

    QString m_connectionName;
    Dialect m_dialect;
    int m_busyTimeoutMs;
    HostConfig m_config; // where the password comes from; never the password itself
};

} // namespace fis
