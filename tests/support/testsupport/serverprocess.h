#pragma once

#include "rpcclient/netconnection.h"

#include <QByteArrayView>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

#include <memory>

namespace fis::test {

// The port of the line fis11000-server prints on stdout once it accepts clients,
// "listening <address>:<port>"; 0 for any other line.
quint16 listeningPort(QByteArrayView line);

// The real fis11000-server executable (serverBinary()) on a free loopback port, its log (stderr)
// in a temporary file. Ended on destruction.
class ServerProcess
{
public:
    // Starts the server with --port 0, the database and output folder given (each left out when
    // empty) and `extraArgs`, then waits up to 20 seconds for its listening line. isRunning()
    // tells how that went; on failure the server's log goes to qWarning.
    // The server knows the test client (testclient.h) and asks every client to prove it is
    // that one, unless `clients` says anyone may call.
    enum class Clients { TestClient, Anyone };
    ServerProcess(const QString &database, const QString &outputDir,
                  const QStringList &extraArgs = {}, Clients clients = Clients::TestClient);
    ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    bool isRunning() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    QProcess &process() { return m_process; }

    // What the server logged so far, and the file it goes to.
    QString log() const;
    QString logPath() const { return m_log.fileName(); }
    // How many clients the server has accepted so far (its log's "connected on" lines).
    int connectionCount() const;

    // A client connection opened to this server; throws the client's errors.
    std::unique_ptr<NetConnection> connect() const;

    // SIGTERM, then up to 15 seconds for the end (killed after that); returns the exit code, -1
    // when the server crashed, hung or had ended before. port() stays, for tests of what a
    // stopped server does.
    int terminate();
    // SIGTERM, then up to 10 seconds for the end (killed after that); isRunning() is false then.
    void stop();

private:
    // Ends the process, killing it after `graceMs`; false when it had to be killed.
    bool end(int graceMs);

    QProcess m_process;
    QTemporaryFile m_log;
    quint16 m_port = 0;
};

} // namespace fis::test
