#include "testsupport/demohost.h"

#include "demodata.h"
#include "hostfw/hostdatabase.h"
#include "testsupport/enginedatabase.h"
#include "testsupport/testclient.h"

#include <QDir>

#include <optional>

namespace fis::test {

namespace {

// The engine FIS_TEST_ENGINE names; unset for SQLite.
std::optional<DatabaseEngine> testEngine(QString *error)
{
    const QString name = qEnvironmentVariable("FIS_TEST_ENGINE");
    if (name.isEmpty() || name == u"sqlite")
        return std::nullopt;
    if (name == u"postgresql")
        return DatabaseEngine::PostgreSql;
    if (name == u"firebird")
        return DatabaseEngine::Firebird;
    *error = QStringLiteral("FIS_TEST_ENGINE=%1: not sqlite, postgresql or firebird").arg(name);
    return std::nullopt;
}

} // namespace

DemoHost::DemoHost(int invoices)
{
    if (!m_dir.isValid())
        return;
    try {
        QDir(m_dir.path()).mkpath(QStringLiteral("out"));
        const std::optional<DatabaseEngine> engine = testEngine(&m_error);
        if (!m_error.isEmpty())
            return;
        if (engine) {
            m_engine = std::make_unique<SeededEngineDatabase>(*engine, invoices);
            if (!m_engine->isValid()) {
                m_error = m_engine->error();
                return;
            }
            const DatabaseTarget &target = m_engine->target();
            m_config.databaseDriver = target.qtDriver();
            m_config.databaseName = target.database;
            m_config.databaseHost = target.host;
            m_config.databasePort = target.port;
            m_config.databaseUser = target.user;
            m_config.databasePasswordFile = target.passwordFile;
        } else {
            generateDemoDatabase(databasePath(), invoices);
            m_config.databaseDriver = QStringLiteral("QSQLITE");
            m_config.databaseName = databasePath();
        }
        m_config.branch = QStringLiteral("0001");
        m_config.serverHost = QStringLiteral("127.0.0.1");
        HostConfig::setCurrent(m_config);
        m_database = std::make_unique<HostDatabase>(m_config);
        m_database->open();
        HostDatabase::setCurrent(m_database.get());
        m_ok = true;
    } catch (const std::exception &e) {
        m_error = QString::fromUtf8(e.what());
        qWarning("demo database: %s", e.what());
    }
}

QString DemoHost::serverDatabase() const
{
    return m_engine ? m_engine->target().toString() : databasePath();
}

DemoHost::~DemoHost()
{
    if (HostDatabase::current() == m_database.get())
        HostDatabase::setCurrent(nullptr);
    m_database.reset();
    m_engine.reset();
    HostConfig::setCurrent(HostConfig());
}

void DemoHost::setServerPort(int port)
{
    m_config.serverPort = port;
    useTestClient(m_config);
    HostConfig::setCurrent(m_config);
}

QString DemoHost::writeConfig(int port) const
{
    HostConfig config = m_config;
    config.serverPort = port;
    useTestClient(config);
    const QString path = m_dir.filePath(QStringLiteral("fis-host-%1.ini").arg(port));
    config.save(path);
    return path;
}

} // namespace fis::test
