#pragma once

#include "hostfw/hostconfig.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <memory>

namespace fis {
class HostDatabase;
}

namespace fis::spinetest {

// A seeded demo database in a temporary folder, opened as the host's shared database, with a
// host configuration pointing at it (current branch 0001, processing date 2025-05-20). The
// configuration and the connection are made current for the test's lifetime.
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

// The real fis11000-server on a free loopback port, its log in a file.
class ServerProcess
{
public:
    ServerProcess(const QString &database, const QString &outputDir);
    ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    bool isRunning() const { return m_port != 0; }
    int port() const { return m_port; }
    QString log() const;
    // How many clients the server has accepted so far.
    int connectionCount() const;
    void stop();

private:
    QProcess m_process;
    QTemporaryFile m_log;
    int m_port = 0;
};

// A loopback port nobody listens on.
int deadPort();
QString binDir();
QString libDir();

} // namespace fis::spinetest

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace fis::spinetest {

// Runs `drive` on the modal window that the code under test is about to open (polled, since
// exec() starts after the call that schedules this). After two seconds it closes whatever is
// modal, so that a failing test cannot hang; `driven` tells whether `drive` ran.
inline void whenModal(std::function<void(QWidget *)> drive, bool *driven = nullptr)
{
    auto tries = std::make_shared<int>(0);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [drive, tries, poll, driven]() {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            if (driven)
                *driven = true;
            drive(modal);
            return;
        }
        if (++*tries > 200) {
            if (modal)
                modal->close();
            return;
        }
        QTimer::singleShot(10, *poll);
    };
    QTimer::singleShot(0, *poll);
}

} // namespace fis::spinetest
