#pragma once

#include "hostfw/hostconfig.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace fis {
class HostDatabase;
}

namespace fis::test {

// A seeded demo database in a temporary folder, opened as the host's shared database, with a
// host configuration pointing at it (current branch 0001, processing date 2025-05-20). The
// configuration and the connection are made current for the fixture's lifetime.
class DemoHost
{
public:
    explicit DemoHost(int invoices = 40);
    ~DemoHost();
    DemoHost(const DemoHost &) = delete;
    DemoHost &operator=(const DemoHost &) = delete;

    bool isValid() const { return m_ok; }
    QString databasePath() const { return m_dir.filePath(QStringLiteral("demo.sqlite")); }
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
    std::unique_ptr<HostDatabase> m_database;
    bool m_ok = false;
};

} // namespace fis::test
