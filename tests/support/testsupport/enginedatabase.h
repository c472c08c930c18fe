#pragma once

#include "base/databasetarget.h"

#include <QString>

#include <cstdint>

namespace fis::test {

// A fresh, uniquely named database on the throwaway PostgreSQL or Firebird server that
// scripts/engines started, found through the variables its engines.env sets (FIS_PG_HOST,
// FIS_PG_PORT, FIS_PG_USER, FIS_PG_PASSWORD_FILE; FIS_FB_HOST, FIS_FB_PORT, FIS_FB_USER,
// FIS_FB_PASSWORD_FILE, FIS_FB_DATA_DIR). PostgreSQL: CREATE DATABASE fis_test_...; Firebird: a
// file fis_test_....fdb under FIS_FB_DATA_DIR. Dropped when the fixture goes; every connection to
// it must be closed by then.
//
// When the variables are missing or the database cannot be made, isValid() is false and error()
// says why, for the test to fail with (QVERIFY2(db.isValid(), qPrintable(db.error()))): a test of
// the engines never passes by skipping them.
class EngineDatabase
{
public:
    explicit EngineDatabase(DatabaseEngine engine);
    ~EngineDatabase();
    EngineDatabase(const EngineDatabase &) = delete;
    EngineDatabase &operator=(const EngineDatabase &) = delete;

    bool isValid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    DatabaseEngine engine() const { return m_target.engine; }
    // Where the database is; its password comes from the server's password file
    // (password_file=), never from the text.
    const DatabaseTarget &target() const { return m_target; }

    // The target of the engine's server with another database (e.g. PostgreSQL's maintenance
    // database "postgres", or another Firebird file under FIS_FB_DATA_DIR); error() is set when
    // the variables are missing.
    static DatabaseTarget serverTarget(DatabaseEngine engine, const QString &database,
                                       QString *error);

private:
    DatabaseTarget m_target;
    QString m_error;
    bool m_created = false;
};

// An EngineDatabase holding the demo data of generateDemoDatabase(target, invoices, seed): the
// same rows as an SQLite file made with the same arguments.
class SeededEngineDatabase
{
public:
    SeededEngineDatabase(DatabaseEngine engine, int invoices, std::uint64_t seed = 20250520);

    bool isValid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    const DatabaseTarget &target() const { return m_database.target(); }

private:
    EngineDatabase m_database;
    QString m_error;
};

} // namespace fis::test
