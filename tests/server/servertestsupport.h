#pragma once

#include "dataset/datapacket.h"
#include "rpc/rpcerror.h"
#include "rpcclient/netconnection.h"

#include <QDate>
#include <QProcess>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QVariant>

#include <functional>
#include <memory>

namespace fis::test {

// The text of the RpcError that `f` raises; empty when it raises none.
inline QString rpcErrorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const RpcError &e) {
        return e.message();
    }
    return {};
}

// A seeded demo database in a temporary directory, with an output directory beside it, and a
// QtSql connection (independent of the server's own code) to check answers against.
class TestDatabase
{
public:
    explicit TestDatabase(int invoices = 3000, quint64 seed = 20250520);
    ~TestDatabase();

    bool isValid() const { return m_ok; }
    QString path() const { return m_dir.filePath(QStringLiteral("host.sqlite")); }
    QString outputDir() const { return m_dir.filePath(QStringLiteral("out")); }
    QString dirPath() const { return m_dir.path(); }

    // Rows of a query with positional parameters; fails the test (QFAIL-like) on error.
    QList<QVariantList> rows(const QString &sql, const QVariantList &params = {}) const;
    QVariant value(const QString &sql, const QVariantList &params = {}) const;
    void exec(const QString &sql, const QVariantList &params = {}) const;
    // Every row of every table, in key order, hashed: equal dumps mean an unchanged database.
    QByteArray checksum() const;

private:
    QTemporaryDir m_dir;
    QString m_connection;
    bool m_ok = false;
};

// The real fis11000-server executable on a free loopback port.
class ServerProcess
{
public:
    // Starts the server and waits for its "listening" line; isRunning() tells how that went.
    ServerProcess(const QString &database, const QString &outputDir,
                  const QStringList &extraArgs = {});
    ~ServerProcess();

    bool isRunning() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QProcess &process() { return m_process; }
    // SIGTERM, then waits; returns the exit code (-1 when it crashed or hung).
    int terminate();
    // What the server logged so far.
    QString log();
    qint64 pid() const { return m_process.processId(); }

    // A client connection opened to this server.
    std::unique_ptr<NetConnection> connect() const;

private:
    QProcess m_process;
    quint16 m_port = 0;
    std::unique_ptr<QTemporaryFile> m_logFile;
};

QString serverBinary();

// The twelve arguments of GetNotaFiscal, defaulting to "company 01, everything".
struct NotaFilter
{
    QString company = QStringLiteral("01");
    QString number;
    QString client;
    QString branch;
    QString stateReg;
    QString municipalReg;
    QString series;
    QString operations;
    QDate start = QDate(2024, 1, 1);
    QDate end = QDate(2026, 1, 1);
    QString status = QStringLiteral("T");
    double minimum = 0;
};

// Calls GetNotaFiscal (series and operations by reference, written back into the filter).
DataPacket getNotaFiscal(NetConnection &connection, NotaFilter &filter);

FieldDef textField(const char *name, int size);

// The index of a field in a decoded packet, or -1.
int fieldIndex(const DataPacket &packet, const QString &name);

// The data packet of cdsLista for the invoices given as (branch, posting) pairs.
QByteArray listaPacket(const QString &list, const QList<QPair<QString, QString>> &invoices,
                       const QStringList &registrations);

} // namespace fis::test
