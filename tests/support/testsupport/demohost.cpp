#include "testsupport/demohost.h"

#include "demodata.h"
#include "hostfw/hostdatabase.h"

#include <QDir>

namespace fis::test {

DemoHost::DemoHost(int invoices)
{
    if (!m_dir.isValid())
        return;
    try {
        generateDemoDatabase(databasePath(), invoices);
        QDir(m_dir.path()).mkpath(QStringLiteral("out"));
        m_config.databaseDriver = QStringLiteral("QSQLITE");
        m_config.databaseName = databasePath();
        m_config.branch = QStringLiteral("0001");
        m_config.serverHost = QStringLiteral("127.0.0.1");
        HostConfig::setCurrent(m_config);
        m_database = std::make_unique<HostDatabase>(m_config);
        m_database->open();
        HostDatabase::setCurrent(m_database.get());
        m_ok = true;
    } catch (const std::exception &e) {
        qWarning("demo database: %s", e.what());
    }
}

DemoHost::~DemoHost()
{
    if (HostDatabase::current() == m_database.get())
        HostDatabase::setCurrent(nullptr);
    m_database.reset();
    HostConfig::setCurrent(HostConfig());
}

void DemoHost::setServerPort(int port)
{
    m_config.serverPort = port;
    HostConfig::setCurrent(m_config);
}

QString DemoHost::writeConfig(int port) const
{
    HostConfig config = m_config;
    config.serverPort = port;
    const QString path = m_dir.filePath(QStringLiteral("fis-host-%1.ini").arg(port));
    config.save(path);
    return path;
}

} // namespace fis::test
