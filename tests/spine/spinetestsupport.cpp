#include "spinetestsupport.h"

#include "demodata.h"
#include "hostfw/hostdatabase.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpServer>

namespace fis::spinetest {

QString binDir()
{
    return qEnvironmentVariable("FIS_BIN_DIR");
}

QString libDir()
{
    return qEnvironmentVariable("FIS_LIB_DIR");
}

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

ServerProcess::ServerProcess(const QString &database, const QString &outputDir)
{
    // A file, not a pipe: a test blocked in a call reads no pipe, and a full one would stall the
    // server.
    if (!m_log.open())
        return;
    m_process.setStandardErrorFile(m_log.fileName());
    m_process.setProgram(QDir(binDir()).filePath(QStringLiteral("fis11000-server")));
    m_process.setArguments({QStringLiteral("--port"), QStringLiteral("0"),
                            QStringLiteral("--database"), database, QStringLiteral("--output-dir"),
                            outputDir});
    m_process.start();
    if (!m_process.waitForStarted(10000))
        return;
    static const QRegularExpression listening(QStringLiteral("^listening [0-9.]+:(\\d+)\\s*$"));
    QElapsedTimer clock;
    clock.start();
    QByteArray out;
    while (clock.elapsed() < 20000 && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(100);
        out += m_process.readAllStandardOutput();
        const qsizetype end = out.indexOf('\n');
        if (end >= 0) {
            const auto match = listening.match(QString::fromUtf8(out.left(end)));
            if (match.hasMatch())
                m_port = match.captured(1).toInt();
            break;
        }
    }
    if (!m_port)
        qWarning("server did not start: %s", qPrintable(log()));
}

ServerProcess::~ServerProcess()
{
    stop();
}

QString ServerProcess::log() const
{
    QFile file(m_log.fileName());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

int ServerProcess::connectionCount() const
{
    static const QRegularExpression connected(QStringLiteral(" connected on "));
    return int(log().count(connected));
}

void ServerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    m_port = 0;
}

int deadPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const int port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace fis::spinetest
