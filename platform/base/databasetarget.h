#pragma once

#include <QString>

namespace fis {

// The database engines the host and the application server run on.
enum class DatabaseEngine { Sqlite, PostgreSql, Firebird };

// "sqlite", "postgresql", "firebird".
QString engineName(DatabaseEngine engine);

// Where a database is and who opens it, without the password itself, which is read only when
// the connection opens (password()) and never kept in a configuration or written to a log.
//
// As one text (the programs' --database option, the server's Database= key):
//   PATH or sqlite:PATH                           an SQLite file
//   postgresql://USER@HOST:PORT/NAME              a PostgreSQL database (port optional: 5432)
//   firebird://USER@HOST:PORT/PATH                a Firebird database; PATH is a file on the
//                                                 server (//srv/x.fdb is /srv/x.fdb) or an alias
//                                                 (port optional: 3050)
// followed, for the server engines, by `?password_file=FILE` or `?password_env=NAME`; without
// either the password comes from the environment variable FIS_DB_PASSWORD_FILE (a file) or
// FIS_DB_PASSWORD (the text).
struct DatabaseTarget
{
    DatabaseEngine engine = DatabaseEngine::Sqlite;
    QString database; // the SQLite or Firebird file (or Firebird alias), the PostgreSQL name
    QString host;
    int port = -1; // -1: the engine's default
    QString user;
    QString passwordFile; // read at connection
    QString passwordEnv;  // the variable that holds the password

    // Throws ConfigError naming what is wrong.
    static DatabaseTarget parse(const QString &text);
    // The same text parse() reads, for logs and messages: it never holds a password.
    QString toString() const;

    bool isServerEngine() const { return engine != DatabaseEngine::Sqlite; }
    int effectivePort() const;
    // The password: from passwordFile, else passwordEnv, else FIS_DB_PASSWORD_FILE or
    // FIS_DB_PASSWORD; empty when none is configured. A file's trailing line break does not
    // count. Throws ConfigError when a named file cannot be read or a named variable is unset.
    QString password() const;
    // The Qt SQL driver of the engine: QSQLITE, QPSQL, QIBASE.
    QString qtDriver() const;
    // Firebird's own connection string: HOST/PORT:PATH.
    QString firebirdConnectString() const;
};

} // namespace fis
