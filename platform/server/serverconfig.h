#pragma once

#include "base/databasetarget.h"
#include "base/error.h"
#include "rpcserver/rpcsession.h"

#include <QString>
#include <QStringList>

#include <memory>

class QSslConfiguration;

namespace fis {

// Everything the server process is told at start. Defaults first, then the ini file named by
// --config, then the command-line options, each overriding the one before.
struct ServerConfig
{
    QString address = QStringLiteral("127.0.0.1");
    int port = 0; // 0: a free port, printed on stdout
    // The database: an SQLite file, a Firebird file or alias, a PostgreSQL database name, or a
    // whole connection text (DatabaseTarget::parse); the keys below name the rest.
    QString database;
    QString databaseEngine; // "sqlite" (default), "postgresql" or "firebird"
    QString databaseHost;
    int databasePort = -1;
    QString databaseUser;
    QString databasePasswordFile; // where the password is read from at each connection
    QString databasePasswordEnv;
    QString outputDirectory;
    // The clients that may call, each with the verifier of its secret, read from this ini file's
    // [clients] section; without it anyone who reaches the port may call, which only a loopback
    // address allows.
    QString clientsFile;
    std::shared_ptr<const ClientRegistry> clients;
    // TLS: the server's certificate (PEM, the chain after it) and private key (PEM, RSA or EC,
    // unencrypted, readable by the server's user only). Required by default on any address but
    // loopback; "no" lets such an address go plain, "yes" asks it on loopback too.
    QString tlsCertificate;
    QString tlsKey;
    QString tlsRequired; // "", "yes" or "no"
    std::shared_ptr<const QSslConfiguration> tls;
    // Lines of one GetRegistro page: the server sets the page's last line itself, so that a
    // file takes few calls and few reloads of the client's invoice list. A page of 200,000
    // lines is some 31 MB of packet on either side.
    int pageSize = 200000;
    int idleTimeoutSecs = 30 * 60;     // a client silent this long is disconnected; 0 never
    int frameTimeoutSecs = 2 * 60;     // a frame begun must arrive whole within this; 0 never
    qint64 maxFrameSize = 512LL << 20; // bytes, either way
    // Bytes of one request: the largest real one is the marked list of a large export (at most
    // 86 bytes a row, 22 MB for 250,000 invoices).
    qint64 maxRequestSize = 64LL << 20;
    // Bytes of requests not yet whole over all clients; a client beyond it waits.
    qint64 maxPendingBytes = 256LL << 20;
    int maxConnections = 512;          // clients at once, all addresses
    int maxConnectionsPerAddress = 64; // clients at once from one address
    int workers = 4;                   // threads serving clients, each with its own connection
    int maxWorkers = 32;       // more are started, up to this, when every worker is in a call
    int busyTimeoutMs = 30000; // wait for another process's write lock this long
    // An export list without a call for this long is given up: its undelivered files' invoices
    // get their earlier flag back (see exportlists.h). Longer than the client's ten-minute call
    // timeout, so that a client still waiting for an answer never loses its list, with room
    // for writing a page and reloading the invoice list.
    int leaseSecs = 15 * 60;

    // The database's connection as configured. Throws ConfigError for an unknown engine or a
    // connection text that cannot be read.
    DatabaseTarget target() const;

    // The directory as GetDiretorio and GetRegistro name it: absolute, ending with "/".
    QString outputDirectoryWithSlash() const;
};

// The TLS configuration of a server's certificate and key files. Throws ConfigError when either
// is missing or cannot be read.
std::shared_ptr<const QSslConfiguration> readTls(const QString &certificatePath,
                                                 const QString &keyPath);

// The clients of a clients file ([clients] NAME = verifier). Throws ConfigError for a file
// that cannot be read, a bad name or verifier, or no client at all.
std::shared_ptr<const ClientRegistry> readClients(const QString &path);

// The options' help text, for --help.
QString serverUsage();

// Reads the command line (arguments without the program name). Throws ConfigError for an
// unknown option, a missing or unreadable ini file, or a value out of range; *helpWanted is set
// (and nothing else checked) for --help.
ServerConfig parseServerConfig(const QStringList &arguments, bool *helpWanted = nullptr);

} // namespace fis
