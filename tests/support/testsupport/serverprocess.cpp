#include "testsupport/serverprocess.h"
#include "rpcclient/netconnection.h"

#include "testsupport/paths.h"
#include "testsupport/testclient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

namespace fis::test {

namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kListeningTimeoutMs = 20000;

// Reads the server's stdout until its first line, and returns the port that line names.
quint16 waitForListeningLine(QProcess &process)
{
    QElapsedTimer clock;
    clock.start();
    QByteArray out;
    while (clock.elapsed() < kListeningTimeoutMs && process.state() == QProcess::Running) {
        process.waitForReadyRead(100);
        out += process.readAllStandardOutput();
        const qsizetype end = out.indexOf('\n');
        if (end >= 0)
            return listeningPort(QByteArrayView(out).first(end));
    }
    return 0;
}

} // namespace

quint16 listeningPort(QByteArrayView line)
{
    // The address is whatever the server listens on (an IPv6 one has colons of its own): the
    // port follows the last colon.
    static const QRegularExpression listening(QStringLiteral("^listening (\\S+):(\\d+)\\s*$"));
    const auto match = listening.match(QString::fromUtf8(line));
    return match.hasMatch() ? quint16(match.captured(2).toUInt()) : 0;
}

ServerProcess::ServerProcess(const QString &database, const QString &outputDir,
                             const QStringList &extraArgs, Clients clients)
{
    // A file, not a pipe: a test blocked in a call reads no pipe, and a full one would stall the
    // server's log writes.
    if (!m_log.open())
        return;
    QStringList args{QStringLiteral("--port"), QStringLiteral("0")};
    if (!database.isEmpty())
        args << QStringLiteral("--database") << database;
    if (!outputDir.isEmpty())
        args << QStringLiteral("--output-dir") << outputDir;
    if (clients == Clients::TestClient)
        args << QStringLiteral("--clients-file") << testClientsFile();
    args += extraArgs;
    m_process.setStandardErrorFile(m_log.fileName());
    m_process.setProgram(serverBinary());
    m_process.setArguments(args);
    m_process.start();
    if (m_process.waitForStarted(kStartTimeoutMs))
        m_port = waitForListeningLine(m_process);
    if (!m_port)
        qWarning("server did not start: %s", qPrintable(log()));
}

ServerProcess::~ServerProcess()
{
    end(10000);
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
    return int(log().count(QStringLiteral(" connected on ")));
}

std::unique_ptr<NetConnection> ServerProcess::connect() const
{
    auto c = std::make_unique<NetConnection>();
    c->setServerName(QStringLiteral("FIS11000.rdmCompraLEGALBA"));
    c->setHost(QStringLiteral("127.0.0.1"));
    c->setPort(m_port);
    useTestClient(*c);
    c->open();
    return c;
}

int ServerProcess::terminate()
{
    // A server that had already ended did not stop on the signal.
    if (m_process.state() == QProcess::NotRunning || !end(15000))
        return -1;
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

void ServerProcess::stop()
{
    end(10000);
    m_port = 0;
}

bool ServerProcess::end(int graceMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    m_process.terminate();
    if (m_process.waitForFinished(graceMs))
        return true;
    m_process.kill();
    m_process.waitForFinished(5000);
    return false;
}

} // namespace fis::test
