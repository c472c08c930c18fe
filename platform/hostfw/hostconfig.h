#pragma once

// `WebURL`, `WebPort`, `FiliProc`, `DataProc` and `PriDiaMes` keep the names under which the
// screen modules call them; everything else follows the Qt naming of the project.

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

namespace fis {

class HostDatabase;

// The SQL dialect whose statements a query runs. SQLite and PostgreSQL run the Oracle
// statements, Firebird the InterBase ones.
enum class Dialect { Oracle, MSSQL, IB };

QString dialectName(Dialect dialect); // "Oracle", "MSSQL", "IB"
// Case-insensitive; throws ConfigError naming the accepted names for anything else.
Dialect dialectFromName(const QString &name);
// The dialect a Qt SQL driver speaks by default; nullopt for a driver the host does not know.
std::optional<Dialect> defaultDialectFor(const QString &driver);

// The host's configuration: the shared database connection, the application server and the
// current branch. Kept in an ini file:
//
//   [Database]  Driver=QSQLITE|QPSQL|QIBASE  Name=  Host=  Port=  User=  Dialect=
//               PasswordFile=  PasswordEnv=  BusyTimeoutMs=5000
//   [Server]    Host=127.0.0.1  Port=...  Client=...  SecretFile=... | SecretEnv=...
//   [Host]      Branch=0001  Locale=pt_BR
//
// Name is the file for SQLite (taken relative to the ini file's folder), the database for
// PostgreSQL, the database file on the server (or its alias) for Firebird. The password is never
// in the file: PasswordFile names a file that holds it (relative to the ini file's folder),
// PasswordEnv an environment variable; it is read when the connection opens
// (HostDatabase::open) and kept nowhere. An empty Dialect means the driver's default.
struct HostConfig
{
    QString databaseDriver = QStringLiteral("QSQLITE");
    QString databaseName; // the file for SQLite
    QString databaseHost;
    int databasePort = -1; // -1: the driver's default
    QString databaseUser;
    QString databasePasswordFile;   // a file whose first line is the password
    QString databasePasswordEnv;    // else the environment variable that holds it
    std::optional<Dialect> dialect; // unset: the driver's default
    int busyTimeoutMs = 5000;       // how long SQLite waits for a lock held by another process

    QString serverHost = QStringLiteral("127.0.0.1");
    int serverPort = 0; // 0: not configured
    // The name this host is known by in the server's clients file, and where its secret is:
    // a file readable by its owner only (its first line), else an environment variable.
    QString serverClient; // empty: the server asks for none
    QString serverSecretFile;
    QString serverSecretEnv;
    // TLS to the server, its certificate checked against CaFile's certificates or, given a
    // Fingerprint (SHA-256, hex), against that certificate alone.
    bool serverTls = false;
    QString serverCaFile;
    QString serverFingerprint;

    QString branch; // the current branch (FILIAL.CDFILIAL)
    // How dates and numbers are shown, whatever the machine's language: Brazilian Portuguese
    // (01/05/2025, 1.234,56) unless the configuration names another locale.
    QString locale = QStringLiteral("pt_BR");

    // The configured dialect, or the driver's default. Throws ConfigError for a driver without a
    // known default when no dialect is configured.
    Dialect effectiveDialect() const;

    // The database password, from PasswordFile, else PasswordEnv, else the variables
    // FIS_DB_PASSWORD_FILE or FIS_DB_PASSWORD (DatabaseTarget::password()); empty when none is
    // configured. Throws ConfigError when the file cannot be read or the variable is unset; the
    // message names them, never the password.
    QString databasePassword() const;

    // The client's secret, from SecretFile, else SecretEnv. Throws ConfigError when neither is
    // configured, the file cannot be read or others than its owner may read it, or the variable
    // is unset; the message never holds the secret.
    QByteArray serverSecret() const;

    // Reads an ini file. Throws ConfigError when the file does not exist or cannot be parsed,
    // when a value is out of range (a port outside 1..65535, an unknown dialect, a negative
    // timeout), or when it holds a Password key: the password goes in PasswordFile or
    // PasswordEnv.
    static HostConfig load(const QString &path);
    // Several files read as one, lowest priority first: a key's value comes from the last file
    // that holds it, and a relative path is taken from that file's folder.
    static HostConfig load(const QStringList &paths);
    // The files read when no file is named, lowest priority first: fis-host.ini beside the
    // executable (a build tree), the system's fis11000/fis-host.ini under /etc (found from the
    // executable, so that an unpacked tree reads its own), the user's fis11000/fis-host.ini in
    // the XDG config folder (~/.config unless $XDG_CONFIG_HOME says otherwise) and fis-host.ini
    // in the working folder. searchedFiles() lists them all; defaultFiles() those that exist,
    // and throws ConfigError naming them all when none does.
    static QStringList searchedFiles();
    static QStringList defaultFiles();
    // Writes every value to an ini file, which so never holds a password. Throws ConfigError
    // when the file cannot be written.
    void save(const QString &path) const;

    // The process-wide configuration; the defaults until setCurrent() is called. The host sets
    // it once at start; tests replace it freely. setCurrent() also makes the configuration's
    // locale the default of every QLocale, which the tables, the grid and the edits format with.
    static HostConfig current();
    static void setCurrent(const HostConfig &config);
};

// The application server's host name and port, from the current configuration.
QString WebURL();
int WebPort();

// The current branch code, from the current configuration.
QString FiliProc();

// The processing date of a branch (FILIAL.DTPROCESSAMENTO), read through the current host
// database, or through `database` when given. Throws HostError when the branch is not registered
// or its date is missing or unreadable, DatabaseError when the database cannot be read.
QDate DataProc(const QString &branch);
QDate DataProc(HostDatabase &database, const QString &branch);

// The first day of the date's month; an invalid date gives an invalid date.
QDate PriDiaMes(const QDate &date);

} // namespace fis
