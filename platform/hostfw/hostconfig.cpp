#include "hostfw/hostconfig.h"

#include "base/databasetarget.h"
#include "cmdline/inifile.h"
#include "hostfw/adoibquery.h"
#include "hostfw/hostdatabase.h"
#include "hostfw/hosterror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMutex>
#include <QSettings>

namespace fis {

namespace {

QMutex g_currentMutex;

HostConfig &currentStorage()
{
    static HostConfig config;
    return config;
}

int readPort(const QSettings &ini, const QString &key, int absent, const QString &path)
{
    const QString text = iniText(ini, key).trimmed();
    if (text.isEmpty())
        return absent;
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < 1 || port > 65535)
        throw ConfigError(
            QStringLiteral("%1: %2 deve ser um número de porta de 1 a 65535, não \"%3\".")
                .arg(path, key, text));
    return port;
}

// Where the password comes from; a password in the file itself is refused, and its value is
// not repeated in the message.
void readPasswordSource(const QSettings &ini, const QString &path, HostConfig &config)
{
    if (ini.contains(QStringLiteral("Database/Password")))
        throw ConfigError(
            QStringLiteral("%1: Database/Password não é aceito, a senha não fica no arquivo de "
                           "configuração; use Database/PasswordFile (um arquivo com a senha) ou "
                           "Database/PasswordEnv (uma variável de ambiente com a senha).")
                .arg(path));
    config.databasePasswordFile = iniText(ini, QStringLiteral("Database/PasswordFile")).trimmed();
    if (!config.databasePasswordFile.isEmpty() && QDir::isRelativePath(config.databasePasswordFile))
        config.databasePasswordFile =
            QFileInfo(path).absoluteDir().absoluteFilePath(config.databasePasswordFile);
    config.databasePasswordEnv = iniText(ini, QStringLiteral("Database/PasswordEnv")).trimmed();
}

void readServerSection(const QSettings &ini, const QString &path, HostConfig &config)
{
    config.serverHost = iniText(ini, QStringLiteral("Server/Host"), config.serverHost).trimmed();
    config.serverPort = readPort(ini, QStringLiteral("Server/Port"), 0, path);
    if (ini.contains(QStringLiteral("Server/Secret")))
        throw ConfigError(QStringLiteral("%1: Server/Secret não é aceito, o segredo não fica no "
                                         "arquivo de configuração; use Server/SecretFile ou "
                                         "Server/SecretEnv.")
                              .arg(path));
    config.serverClient = iniText(ini, QStringLiteral("Server/Client")).trimmed();
    config.serverSecretFile = iniText(ini, QStringLiteral("Server/SecretFile")).trimmed();
    if (!config.serverSecretFile.isEmpty() && QDir::isRelativePath(config.serverSecretFile))
        config.serverSecretFile =
            QFileInfo(path).absoluteDir().absoluteFilePath(config.serverSecretFile);
    config.serverSecretEnv = iniText(ini, QStringLiteral("Server/SecretEnv")).trimmed();
    const QString tls = iniText(ini, QStringLiteral("Server/Tls")).trimmed().toLower();
    if (!tls.isEmpty() && tls != u"true" && tls != u"false")
        throw ConfigError(
            QStringLiteral("%1: Server/Tls deve ser true ou false, não \"%2\".").arg(path, tls));
    config.serverTls = tls == u"true";
    config.serverCaFile = iniText(ini, QStringLiteral("Server/CaFile")).trimmed();
    if (!config.serverCaFile.isEmpty() && QDir::isRelativePath(config.serverCaFile))
        config.serverCaFile = QFileInfo(path).absoluteDir().absoluteFilePath(config.serverCaFile);
    config.serverFingerprint = iniText(ini, QStringLiteral("Server/Fingerprint")).trimmed();
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

HostConfig HostConfig::load(const QString &path)
{
    const QFileInfo info(path);
    if (const QString problem = configFileProblem(path); !problem.isEmpty())
        throw ConfigError(problem);
    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        throw ConfigError(
            QStringLiteral("O arquivo de configuração %1 não pode ser lido.").arg(path));

    HostConfig config;
    config.databaseDriver =
        iniText(ini, QStringLiteral("Database/Driver"), config.databaseDriver).trimmed();
    config.databaseName = iniText(ini, QStringLiteral("Database/Name")).trimmed();
    if (config.databaseDriver == u"QSQLITE" && !config.databaseName.isEmpty() &&
        config.databaseName != u":memory:" && QDir::isRelativePath(config.databaseName))
        config.databaseName = info.absoluteDir().absoluteFilePath(config.databaseName);
    config.databaseHost = iniText(ini, QStringLiteral("Database/Host")).trimmed();
    config.databasePort = readPort(ini, QStringLiteral("Database/Port"), -1, path);
    config.databaseUser = iniText(ini, QStringLiteral("Database/User"));
    readPasswordSource(ini, path, config);
    const QString dialect = iniText(ini, QStringLiteral("Database/Dialect")).trimmed();
    if (!dialect.isEmpty())
        config.dialect = dialectFromName(dialect);

    const QString timeout = iniText(ini, QStringLiteral("Database/BusyTimeoutMs")).trimmed();
    if (!timeout.isEmpty()) {
        bool ok = false;
        config.busyTimeoutMs = timeout.toInt(&ok);
        if (!ok || config.busyTimeoutMs < 0)
            throw ConfigError(
                QStringLiteral(
                    "%1: Database/BusyTimeoutMs deve ser um número de milissegundos, não \"%2\".")
                    .arg(path, timeout));
    }

    readServerSection(ini, path, config);
    config.branch = iniText(ini, QStringLiteral("Host/Branch")).trimmed();
    const QString locale = iniText(ini, QStringLiteral("Host/Locale")).trimmed();
    if (!locale.isEmpty()) {
        // QLocale takes an unknown name for the C locale; say so instead.
        if (QLocale(locale).name() != locale)
            throw ConfigError(
                QStringLiteral(
                    "%1: Host/Locale deve indicar uma localidade como pt_BR, não \"%2\".")
                    .arg(path, locale));
        config.locale = locale;
    }
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
