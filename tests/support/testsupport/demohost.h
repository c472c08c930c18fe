#pragma once

#include "hostfw/hostconfig.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace fis {
class HostDatabase;
}

namespace fis::test {

class SeededEngineDatabase;

// A seeded demo database in a temporary folder, opened as the host's shared database, with a
// host configuration pointing at it (current branch 0001, processing date 2025-05-20). The
// configuration and the connection are made current for the fixture's lifetime.
//
// With FIS_TEST_ENGINE set to "postgresql" or "firebird", the same demo data lives in a fresh
// database on that throwaway server instead (EngineDatabase), and the host connects to it with
// the engine's driver and dialect: a test written for SQLite runs unchanged on each engine.
class DemoHost
{
public:
    explicit DemoHost(int invoices = 40);
    ~DemoHost();
    DemoHost(const DemoHost &) = delete;
    DemoHost &operator=(const DemoHost &) = delete;

    bool isValid() const { return m_ok; }
    QString databasePath() const { return m_dir.filePath(QStringLiteral("demo.sqlite")); }
    // The database as the server's --database takes it: the file, or the engine's connection.
    QString serverDatabase() const;
    // Why the fixture is not valid, for the test's message.
    QString error() const { return m_error; }
    QString outputDir() const { return m_dir.filePath(QStringLiteral("out")); }
    QString dirPath() const { return m_dir.path(); }
    HostConfig config() const { return m_config; }
    // Points the current configuration at another server port.
    void setServerPort(int port);
    // Writes the configuration (with the given port) as an ini file and returns its path.
    QString writeConfig(int port) const;
    HostDatabase &database() { return *m_database; }

private:
    QTemporaryDir m_dir;
    HostConfig m_config;
    std::unique_ptr<SeededEngineDatabase> m_engine;
    std::unique_ptr<HostDatabase> m_database;
    QString m_error;
    bool m_ok = false;
};

} // namespace fis::test
