#include "hostfw/hostconfig.h"

#include "base/databasetarget.h"
#include "cmdline/inifile.h"
#include "hostfw/adoibquery.h"
#include "hostfw/hostdatabase.h"
#include "hostfw/hosterror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMutex>
#include <QSettings>
#include <QStandardPaths>

namespace fis {

namespace {

QMutex g_currentMutex;

HostConfig &currentStorage()
{
    static HostConfig config;
    return config;
}

int readPort(const IniLayers &ini, const QString &key, int absent)
{
    const QString text = ini.text(key).trimmed();
    if (text.isEmpty())
        return absent;
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < 1 || port > 65535)
        throw ConfigError(
            QStringLiteral("%1: %2 deve ser um número de porta de 1 a 65535, não \"%3\".")
                .arg(ini.fileOf(key), key, text));
    return port;
}

// Where the password comes from; a password in the file itself is refused, and its value is
// not repeated in the message.
void readPasswordSource(const IniLayers &ini, HostConfig &config)
{
    const QString password = QStringLiteral("Database/Password");
    if (ini.contains(password))
        throw ConfigError(
            QStringLiteral("%1: Database/Password não é aceito, a senha não fica no arquivo de "
                           "configuração; use Database/PasswordFile (um arquivo com a senha) ou "
                           "Database/PasswordEnv (uma variável de ambiente com a senha).")
                .arg(ini.fileOf(password)));
    config.databasePasswordFile = ini.path(QStringLiteral("Database/PasswordFile"));
    config.databasePasswordEnv = ini.text(QStringLiteral("Database/PasswordEnv")).trimmed();
}

void readServerSection(const IniLayers &ini, HostConfig &config)
{
    config.serverHost = ini.text(QStringLiteral("Server/Host"), config.serverHost).trimmed();
    config.serverPort = readPort(ini, QStringLiteral("Server/Port"), 0);
    const QString secret = QStringLiteral("Server/Secret");
    if (ini.contains(secret))
        throw ConfigError(QStringLiteral("%1: Server/Secret não é aceito, o segredo não fica no "
                                         "arquivo de configuração; use Server/SecretFile ou "
                                         "Server/SecretEnv.")
                              .arg(ini.fileOf(secret)));
    config.serverClient = ini.text(QStringLiteral("Server/Client")).trimmed();
    config.serverSecretFile = ini.path(QStringLiteral("Server/SecretFile"));
    config.serverSecretEnv = ini.text(QStringLiteral("Server/SecretEnv")).trimmed();
    const QString tlsKey = QStringLiteral("Server/Tls");
    const QString tls = ini.text(tlsKey).trimmed().toLower();
    if (!tls.isEmpty() && tls != u"true" && tls != u"false")
        throw ConfigError(QStringLiteral("%1: Server/Tls deve ser true ou false, não \"%2\".")
                              .arg(ini.fileOf(tlsKey), tls));
    config.serverTls = tls == u"true";
    config.serverCaFile = ini.path(QStringLiteral("Server/CaFile"));
    config.serverFingerprint = ini.text(QStringLiteral("Server/Fingerprint")).trimmed();
}

void readDatabaseSection(const IniLayers &ini, HostConfig &config)
{
    config.databaseDriver =
        ini.text(QStringLiteral("Database/Driver"), config.databaseDriver).trimmed();
    const QString name = QStringLiteral("Database/Name");
    config.databaseName = ini.text(name).trimmed();
    if (config.databaseDriver == u"QSQLITE" && config.databaseName != u":memory:")
        config.databaseName = ini.path(name);
    config.databaseHost = ini.text(QStringLiteral("Database/Host")).trimmed();
    config.databasePort = readPort(ini, QStringLiteral("Database/Port"), -1);
    config.databaseUser = ini.text(QStringLiteral("Database/User"));
    readPasswordSource(ini, config);
    const QString dialect = ini.text(QStringLiteral("Database/Dialect")).trimmed();
    if (!dialect.isEmpty())
        config.dialect = dialectFromName(dialect);

    const QString timeoutKey = QStringLiteral("Database/BusyTimeoutMs");
    const QString timeout = ini.text(timeoutKey).trimmed();
    if (!timeout.isEmpty()) {
        bool ok = false;
        config.busyTimeoutMs = timeout.toInt(&ok);
        if (!ok || config.busyTimeoutMs < 0)
            throw ConfigError(
                QStringLiteral(
                    "%1: Database/BusyTimeoutMs deve ser um número de milissegundos, não \"%2\".")
                    .arg(ini.fileOf(timeoutKey), timeout));
    }
}

void readHostSection(const IniLayers &ini, HostConfig &config)
{
    config.branch = ini.text(QStringLiteral("Host/Branch")).trimmed();
    const QString localeKey = QStringLiteral("Host/Locale");
    const QString locale = ini.text(localeKey).trimmed();
    if (!locale.isEmpty()) {
        // QLocale takes an unknown name for the C locale; say so instead.
        if (QLocale(locale).name() != locale)
            throw ConfigError(
                QStringLiteral(
                    "%1: Host/Locale deve indicar uma localidade como pt_BR, não \"%2\".")
                    .arg(ini.fileOf(localeKey), locale));
        config.locale = locale;
    }
}

} // namespace

QString dialectName(Dialect dialect)
{
    switch (dialect) {
    case Dialect::Oracle:
        return QStringLiteral("Oracle");
    case Dialect::MSSQL:
        return QStringLiteral("MSSQL");
    case Dialect::IB:
        return QStringLiteral("IB");
    }
    return {};
}

Dialect dialectFromName(const QString &name)
{
    for (Dialect d : {Dialect::Oracle, Dialect::MSSQL, Dialect::IB}) {
        if (name.trimmed().compare(dialectName(d), Qt::CaseInsensitive) == 0)
            return d;
    }
    throw ConfigError(
        QStringLiteral("Dialeto de banco de dados desconhecido: \"%1\"; use Oracle, MSSQL ou IB.")
            .arg(name));
}

std::optional<Dialect> defaultDialectFor(const QString &driver)
{
    // SQLite gets NVL from the host and speaks ||; PostgreSQL's schema creates NVL.
    if (driver == u"QSQLITE" || driver == u"QPSQL")
        return Dialect::Oracle;
    if (driver == u"QIBASE")
        return Dialect::IB;
    if (driver == u"QOCI")
        return Dialect::Oracle;
    return std::nullopt;
}

Dialect HostConfig::effectiveDialect() const
{
    if (dialect)
        return *dialect;
    if (const auto d = defaultDialectFor(databaseDriver))
        return *d;
    throw ConfigError(QStringLiteral("O driver de banco de dados %1 não tem dialeto padrão; "
                                     "informe em Database/Dialect Oracle, MSSQL ou IB.")
                          .arg(databaseDriver));
}

QString HostConfig::databasePassword() const
{
    DatabaseTarget source;
    source.passwordFile = databasePasswordFile;
    source.passwordEnv = databasePasswordEnv;
    return source.password();
}

QByteArray HostConfig::serverSecret() const
{
    if (!serverSecretFile.isEmpty()) {
        QFile file(serverSecretFile);
        const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                                QFileDevice::WriteGroup | QFileDevice::WriteOther;
        if (file.exists() && (file.permissions() & others))
            throw ConfigError(QStringLiteral("O arquivo do segredo %1 pode ser lido por outros "
                                             "usuários; deixe-o legível só pelo dono (chmod 600).")
                                  .arg(serverSecretFile));
        if (!file.open(QIODevice::ReadOnly))
            throw ConfigError(QStringLiteral("O arquivo do segredo %1 não pode ser lido: %2.")
                                  .arg(serverSecretFile, file.errorString()));
        QByteArray secret = file.readLine(4096);
        while (secret.endsWith('\n') || secret.endsWith('\r'))
            secret.chop(1);
        if (secret.isEmpty())
            throw ConfigError(
                QStringLiteral("O arquivo do segredo %1 está vazio.").arg(serverSecretFile));
        return secret;
    }
    if (!serverSecretEnv.isEmpty()) {
        const QByteArray name = serverSecretEnv.toLocal8Bit();
        if (!qEnvironmentVariableIsSet(name.constData()) ||
            qEnvironmentVariableIsEmpty(name.constData()))
            throw ConfigError(QStringLiteral("A variável de ambiente %1 do segredo não está "
                                             "definida.")
                                  .arg(serverSecretEnv));
        return qgetenv(name.constData());
    }
    throw ConfigError(QStringLiteral("O cliente %1 não tem segredo configurado (Server/SecretFile "
                                     "ou Server/SecretEnv).")
                          .arg(serverClient));
}

QStringList HostConfig::searchedFiles()
{
    const QString name = QStringLiteral("fis-host.ini");
    const QDir bin(QCoreApplication::applicationDirPath());
    const QString user = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QStringList files = {
        bin.filePath(name),
        QDir::cleanPath(bin.filePath(QString::fromUtf8(FIS_SYSCONFDIR_FROM_BINDIR "/") + name))};
    if (!user.isEmpty())
        files << QDir(user).filePath(QStringLiteral("fis11000/") + name);
    files << QDir::current().absoluteFilePath(name);
    files.removeDuplicates();
    return files;
}

QStringList HostConfig::defaultFiles()
{
    QStringList files;
    for (const QString &file : searchedFiles()) {
        if (QFileInfo(file).isFile())
            files << file;
    }
    if (files.isEmpty())
        throw ConfigError(
            QStringLiteral("Nenhum arquivo de configuração foi encontrado (--config ARQUIVO); "
                           "procurados: %1.")
                .arg(searchedFiles().join(QStringLiteral(", "))));
    return files;
}

HostConfig HostConfig::load(const QString &path)
{
    return load(QStringList{path});
}

HostConfig HostConfig::load(const QStringList &paths)
{
    for (const QString &path : paths) {
        if (const QString problem = configFileProblem(path); !problem.isEmpty())
            throw ConfigError(problem);
    }
    const IniLayers ini(paths);
    if (const QString bad = ini.malformedFile(); !bad.isEmpty())
        throw ConfigError(
            QStringLiteral("O arquivo de configuração %1 não pode ser lido.").arg(bad));

    HostConfig config;
    readDatabaseSection(ini, config);
    readServerSection(ini, config);
    readHostSection(ini, config);
    return config;
}

void HostConfig::save(const QString &path) const
{
    QSettings ini(path, QSettings::IniFormat);
    ini.clear();
    ini.setValue(QStringLiteral("Database/Driver"), databaseDriver);
    ini.setValue(QStringLiteral("Database/Name"), databaseName);
    ini.setValue(QStringLiteral("Database/Host"), databaseHost);
    ini.setValue(QStringLiteral("Database/Port"),
                 databasePort > 0 ? QString::number(databasePort) : QString());
    ini.setValue(QStringLiteral("Database/User"), databaseUser);
    ini.setValue(QStringLiteral("Database/PasswordFile"), databasePasswordFile);
    ini.setValue(QStringLiteral("Database/PasswordEnv"), databasePasswordEnv);
    ini.setValue(QStringLiteral("Database/Dialect"), dialect ? dialectName(*dialect) : QString());
    ini.setValue(QStringLiteral("Database/BusyTimeoutMs"), QString::number(busyTimeoutMs));
    ini.setValue(QStringLiteral("Server/Host"), serverHost);
    ini.setValue(QStringLiteral("Server/Port"),
                 serverPort > 0 ? QString::number(serverPort) : QString());
    ini.setValue(QStringLiteral("Server/Client"), serverClient);
    ini.setValue(QStringLiteral("Server/SecretFile"), serverSecretFile);
    ini.setValue(QStringLiteral("Server/SecretEnv"), serverSecretEnv);
    ini.setValue(QStringLiteral("Server/Tls"),
                 serverTls ? QStringLiteral("true") : QStringLiteral("false"));
    ini.setValue(QStringLiteral("Server/CaFile"), serverCaFile);
    ini.setValue(QStringLiteral("Server/Fingerprint"), serverFingerprint);
    ini.setValue(QStringLiteral("Host/Branch"), branch);
    ini.setValue(QStringLiteral("Host/Locale"), locale);
    ini.sync();
    if (ini.status() != QSettings::NoError)
        throw ConfigError(
            QStringLiteral("O arquivo de configuração %1 não pode ser gravado.").arg(path));
}

HostConfig HostConfig::current()
{
    QMutexLocker lock(&g_currentMutex);
    return currentStorage();
}

void HostConfig::setCurrent(const HostConfig &config)
{
    QMutexLocker lock(&g_currentMutex);
    currentStorage() = config;
    QLocale::setDefault(QLocale(config.locale));
}

QString WebURL()
{
    return HostConfig::current().serverHost;
}

int WebPort()
{
    return HostConfig::current().serverPort;
}

QString FiliProc()
{
    return HostConfig::current().branch;
}

QDate DataProc(const QString &branch)
{
    HostDatabase *database = HostDatabase::current();
    if (!database)
        throw DatabaseError(
            {}, QStringLiteral("Nenhuma conexão com o banco de dados do host foi definida."));
    return DataProc(*database, branch);
}

QDate DataProc(HostDatabase &database, const QString &branch)
{
    TADOIBQuery query(QStringLiteral("qryDataProc"));
    query.setDatabase(&database);
    query.SQL = QStringList{
        QStringLiteral("SELECT DTPROCESSAMENTO FROM FILIAL WHERE CDFILIAL = :P_CDFILIAL")};
    FieldDef date;
    date.name = QStringLiteral("DTPROCESSAMENTO");
    date.type = FieldType::DateTime;
    query.addField(date);
    query.ParamByName(QStringLiteral("P_CDFILIAL")).setAsString(branch);
    query.Open();
    if (query.IsEmpty())
        throw HostError(
            QStringLiteral("A filial \"%1\" não está cadastrada (FILIAL).").arg(branch));
    const QueryField field = query.FieldByName(date.name);
    if (field.IsNull())
        throw HostError(
            QStringLiteral("A filial \"%1\" não tem data de processamento.").arg(branch));
    return field.AsDateTime().date();
}

QDate PriDiaMes(const QDate &date)
{
    if (!date.isValid())
        return {};
    return QDate(date.year(), date.month(), 1);
}

} // namespace fis
