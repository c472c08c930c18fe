#include "server/serverconfig.h"

#include "cmdline/commandline.h"
#include "cmdline/inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>

#include <algorithm>
#include <functional>
#include <stdexcept>

namespace fis {

namespace {

// One setting: its ini key, its command-line option and how to store it.
struct Setting
{
    const char *iniKey;
    const char *option;
    const char *help;
    std::function<void(ServerConfig &, const QString &)> apply;
};

int toInt(const QString &name, const QString &value, qint64 min, qint64 max)
{
    bool ok = false;
    const qint64 n = value.trimmed().toLongLong(&ok);
    if (!ok || n < min || n > max)
        throw ConfigError(QStringLiteral("%1 deve ser um número inteiro de %2 a %3, não \"%4\".")
                              .arg(name)
                              .arg(min)
                              .arg(max)
                              .arg(value));
    return int(n);
}

void applyAddress(ServerConfig &c, const QString &v)
{
    if (QHostAddress(v.trimmed()).isNull())
        throw ConfigError(QStringLiteral("O endereço \"%1\" não é um endereço IP.").arg(v));
    c.address = v.trimmed();
}

qint64 toFrameSize(const QString &v)
{
    bool ok = false;
    const qint64 n = v.trimmed().toLongLong(&ok);
    if (!ok || n < 1024 || n > 0xFFFFFFFFLL)
        throw ConfigError(QStringLiteral("O tamanho máximo de mensagem deve ser de 1024 a "
                                         "4294967295 bytes, não \"%1\".")
                              .arg(v));
    return n;
}

// Where the database server is and who logs in, beside database/path.
QList<Setting> connectionSettings()
{
    return {
        {"database/engine", "db-engine", "sqlite (padrão), postgresql ou firebird.",
         [](ServerConfig &c, const QString &v) {
             c.databaseEngine = v.trimmed().toLower();
         }},
        {"database/host", "db-host", "Servidor do banco de dados PostgreSQL ou Firebird.",
         [](ServerConfig &c, const QString &v) {
             c.databaseHost = v.trimmed();
         }},
        {"database/port", "db-port", "Porta do banco de dados (padrão: a do motor).",
         [](ServerConfig &c, const QString &v) {
             c.databasePort = toInt(QStringLiteral("A porta do banco de dados"), v, 1, 65535);
         }},
        {"database/user", "db-user", "Usuário do banco de dados.",
         [](ServerConfig &c, const QString &v) {
             c.databaseUser = v.trimmed();
         }},
        {"database/password_file", "db-password-file",
         "Arquivo com a senha do banco de dados (a senha nunca fica na configuração).",
         [](ServerConfig &c, const QString &v) {
             c.databasePasswordFile = v.trimmed();
         }},
        {"database/password_env", "db-password-env",
         "Variável de ambiente com a senha do banco de dados.",
         [](ServerConfig &c, const QString &v) {
             c.databasePasswordEnv = v.trimmed();
         }},
    };
}

// Who may call, and what one client may hold of the server: time, memory, connections.
QList<Setting> limitSettings()
{
    return {
        {"server/clients_file", "clients-file",
         "Arquivo ini com os clientes que podem chamar ([clients] NOME = verificador).",
         [](ServerConfig &c, const QString &v) {
             c.clientsFile = v.trimmed();
         }},
        {"server/frame_timeout", "frame-timeout",
         "Segundos que uma mensagem começada tem para chegar inteira; 0 nunca (padrão 120).",
         [](ServerConfig &c, const QString &v) {
             c.frameTimeoutSecs = toInt(QStringLiteral("O prazo de uma mensagem"), v, 0, 24 * 3600);
         }},
        {"server/max_frame_size", "max-frame-size",
         "Maior mensagem recebida ou enviada, em bytes (padrão 536870912).",
         [](ServerConfig &c, const QString &v) {
             c.maxFrameSize = toFrameSize(v);
         }},
        {"server/max_request_size", "max-request-size",
         "Maior mensagem recebida de um cliente, em bytes (padrão 67108864).",
         [](ServerConfig &c, const QString &v) {
             c.maxRequestSize = toFrameSize(v);
         }},
        {"tls/certificate", "tls-certificate",
         "Certificado do servidor para TLS (PEM); exigido fora do endereço local.",
         [](ServerConfig &c, const QString &v) {
             c.tlsCertificate = v.trimmed();
         }},
        {"tls/key", "tls-key", "Chave privada do certificado (PEM, sem senha).",
         [](ServerConfig &c, const QString &v) {
             c.tlsKey = v.trimmed();
         }},
        {"tls/required", "tls-required",
         "yes ou no: exigir TLS (padrão: só fora do endereço local).",
         [](ServerConfig &c, const QString &v) {
             c.tlsRequired = v.trimmed().toLower();
             if (c.tlsRequired != u"yes" && c.tlsRequired != u"no")
                 throw ConfigError(
                     QStringLiteral("[tls] required deve ser yes ou no, não \"%1\".").arg(v));
         }},
        {"server/max_pending_bytes", "max-pending-bytes",
         "Bytes de mensagens ainda incompletas, somados todos os clientes (padrão "
         "268435456).",
         [](ServerConfig &c, const QString &v) {
             c.maxPendingBytes = toFrameSize(v);
         }},
        {"server/max_connections", "max-connections",
         "Clientes conectados ao mesmo tempo (padrão 512).",
         [](ServerConfig &c, const QString &v) {
             c.maxConnections = toInt(QStringLiteral("O máximo de conexões"), v, 1, 100000);
         }},
        {"server/max_connections_per_address", "max-connections-per-address",
         "Clientes conectados ao mesmo tempo de um mesmo endereço (padrão 64).",
         [](ServerConfig &c, const QString &v) {
             c.maxConnectionsPerAddress =
                 toInt(QStringLiteral("O máximo de conexões por endereço"), v, 1, 100000);
         }},
    };
}

const QList<Setting> &settings()
{
    static const QList<Setting> all =
        QList<Setting>{
            {"server/address", "address", "Endereço em que aguarda conexões (padrão 127.0.0.1).",
             applyAddress},
            {"server/port", "port", "Porta TCP; 0 escolhe uma livre (padrão 0).",
             [](ServerConfig &c, const QString &v) {
                 c.port = toInt(QStringLiteral("A porta"), v, 0, 65535);
             }},
            {"server/workers", "workers", "Threads que atendem os clientes (padrão 4).",
             [](ServerConfig &c, const QString &v) {
                 c.workers = toInt(QStringLiteral("O número de workers"), v, 1, 256);
             }},
            {"server/max_workers", "max-workers",
             "Threads que podem ser iniciadas quando todas estão ocupadas (padrão 32).",
             [](ServerConfig &c, const QString &v) {
                 c.maxWorkers = toInt(QStringLiteral("O máximo de workers"), v, 1, 1024);
             }},
            {"server/idle_timeout", "idle-timeout",
             "Segundos que um cliente pode ficar em silêncio antes de ser desconectado; 0 nunca "
             "(padrão 1800).",
             [](ServerConfig &c, const QString &v) {
                 c.idleTimeoutSecs =
                     toInt(QStringLiteral("O tempo de inatividade"), v, 0, 7 * 24 * 3600);
             }},
            {"database/path", "database",
             "Banco de dados: arquivo SQLite, arquivo ou apelido Firebird, nome do banco "
             "PostgreSQL, "
             "ou a conexão inteira (postgresql://USUÁRIO@SERVIDOR:PORTA/BANCO, "
             "firebird://USUÁRIO@SERVIDOR:PORTA//CAMINHO).",
             [](ServerConfig &c, const QString &v) {
                 c.database = v.trimmed();
             }},
            {"database/busy_timeout", "busy-timeout",
             "Milissegundos de espera por outro gravador (padrão 30000).",
             [](ServerConfig &c, const QString &v) {
                 c.busyTimeoutMs = toInt(QStringLiteral("O tempo de espera do banco de dados"), v,
                                         0, 3600 * 1000);
             }},
            {"export/output_directory", "output-dir",
             "Diretório em que os clientes gravam os arquivos.",
             [](ServerConfig &c, const QString &v) {
                 c.outputDirectory = v.trimmed();
             }},
            {"export/lease", "lease",
             "Segundos que uma lista de exportação pode ficar sem chamadas antes de ser desfeita "
             "(padrão 900).",
             [](ServerConfig &c, const QString &v) {
                 c.leaseSecs = toInt(QStringLiteral("O prazo da lista"), v, 1, 7 * 24 * 3600);
             }},
            {"export/page_size", "page-size",
             "Linhas de uma página de GetRegistro (padrão 200000).",
             [](ServerConfig &c, const QString &v) {
                 c.pageSize = toInt(QStringLiteral("O tamanho de página"), v, 1, 1000000);
             }},
        } +
        limitSettings() + connectionSettings();
    return all;
}

} // namespace

DatabaseTarget ServerConfig::target() const
{
    DatabaseTarget target;
    if (database.contains(u"://")) {
        target = DatabaseTarget::parse(database);
    } else if (databaseEngine.isEmpty() || databaseEngine == u"sqlite") {
        return DatabaseTarget::parse(database);
    } else if (databaseEngine == u"postgresql" || databaseEngine == u"firebird") {
        target.engine =
            databaseEngine == u"postgresql" ? DatabaseEngine::PostgreSql : DatabaseEngine::Firebird;
        target.database = database;
    } else {
        throw ConfigError(
            QStringLiteral("Motor de banco de dados desconhecido \"%1\" (sqlite, postgresql ou "
                           "firebird).")
                .arg(databaseEngine));
    }
    if (!databaseHost.isEmpty())
        target.host = databaseHost;
    if (databasePort > 0)
        target.port = databasePort;
    if (!databaseUser.isEmpty())
        target.user = databaseUser;
    if (!databasePasswordFile.isEmpty())
        target.passwordFile = databasePasswordFile;
    if (!databasePasswordEnv.isEmpty())
        target.passwordEnv = databasePasswordEnv;
    if (target.host.isEmpty())
        throw ConfigError(QStringLiteral("Falta o servidor do banco de dados (--db-host ou "
                                         "[database] host)."));
    return target;
}

QString ServerConfig::outputDirectoryWithSlash() const
{
    QString dir = QDir::cleanPath(QFileInfo(outputDirectory).absoluteFilePath());
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return dir;
}

QString serverUsage()
{
    QString text =
        QStringLiteral("Uso: fis11000-server [--config ARQUIVO] [--OPÇÃO VALOR ...]\n"
                       "Serve FIS11000.rdmCompraLEGALBA. As opções sobrepõem as chaves do arquivo "
                       "ini (seção/chave entre colchetes).\n\n"
                       "  --config ARQUIVO  arquivo ini lido primeiro\n"
                       "  --hash-secret [RODADAS]  imprime o verificador do segredo lido da "
                       "entrada padrão, para o arquivo de clientes\n"
                       "  --version  mostra a versão e termina\n");
    for (const Setting &s : settings())
        text +=
            QStringLiteral("  --%1 VALOR  [%2] %3\n")
                .arg(QLatin1String(s.option), QLatin1String(s.iniKey), QString::fromUtf8(s.help));
    return text;
}

ServerConfig parseServerConfig(const QStringList &arguments, bool *helpWanted)
{
    if (helpWanted)
        *helpWanted = false;
    const auto parsed = parseOptions<ConfigError>(arguments, settings());
    if (parsed.help) {
        if (helpWanted)
            *helpWanted = true;
        return {};
    }
    const auto &given = parsed.given;
    const QString &configFile = parsed.configFile;

    ServerConfig config;
    if (!configFile.isEmpty()) {
        if (const QString problem = configFileProblem(configFile); !problem.isEmpty())
            throw ConfigError(problem);
        QSettings ini(configFile, QSettings::IniFormat);
        if (ini.status() != QSettings::NoError)
            throw ConfigError(
                QStringLiteral("O arquivo de configuração %1 está malformado.").arg(configFile));
        for (const Setting &s : settings()) {
            const QString key = QLatin1String(s.iniKey);
            if (ini.contains(key))
                s.apply(config, iniText(ini, key));
        }
    }
    for (const auto &[setting, value] : given)
        setting->apply(config, value);

    if (config.database.isEmpty())
        throw ConfigError(
            QStringLiteral("Nenhum banco de dados foi informado (--database ou [database] path)."));
    config.target(); // refuses a connection that cannot be read now, not at the first call
    if (config.outputDirectory.isEmpty())
        throw ConfigError(QStringLiteral("Nenhum diretório de saída foi informado (--output-dir ou "
                                         "[export] output_directory)."));
    config.maxWorkers = std::max(config.maxWorkers, config.workers);
    const bool loopback = QHostAddress(config.address).isLoopback();
    if (!config.tlsCertificate.isEmpty() || !config.tlsKey.isEmpty())
        config.tls = readTls(config.tlsCertificate, config.tlsKey);
    else if (config.tlsRequired == u"yes" || (!loopback && config.tlsRequired != u"no"))
        throw ConfigError(
            QStringLiteral("Para aguardar conexões em %1 a conexão deve ser segura: informe o "
                           "certificado e a chave do servidor (--tls-certificate e --tls-key), "
                           "ou [tls] required = no.")
                .arg(config.address));
    if (!config.clientsFile.isEmpty())
        config.clients = readClients(config.clientsFile);
    else if (!loopback)
        throw ConfigError(
            QStringLiteral("Para aguardar conexões em %1, que não é um endereço local, informe os "
                           "clientes que podem chamar (--clients-file ou [server] clients_file).")
                .arg(config.address));
    return config;
}

std::shared_ptr<const QSslConfiguration> readTls(const QString &certificatePath,
                                                 const QString &keyPath)
{
    if (certificatePath.isEmpty() || keyPath.isEmpty())
        throw ConfigError(QStringLiteral("TLS precisa do certificado e da chave do servidor "
                                         "(--tls-certificate e --tls-key)."));
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certificatePath);
    if (chain.isEmpty() || chain.first().isNull())
        throw ConfigError(
            QStringLiteral("O certificado %1 não pode ser lido (PEM).").arg(certificatePath));
    QFile keyFile(keyPath);
    if (!keyFile.open(QIODevice::ReadOnly))
        throw ConfigError(QStringLiteral("A chave %1 não pode ser lida: %2.")
                              .arg(keyPath, keyFile.errorString()));
    const QByteArray pem = keyFile.readAll();
    QSslKey key(pem, QSsl::Rsa, QSsl::Pem);
    if (key.isNull())
        key = QSslKey(pem, QSsl::Ec, QSsl::Pem);
    if (key.isNull())
        throw ConfigError(
            QStringLiteral("A chave %1 não é uma chave RSA ou EC em PEM sem senha.").arg(keyPath));
    auto tls = std::make_shared<QSslConfiguration>(QSslConfiguration::defaultConfiguration());
    tls->setLocalCertificateChain(chain);
    tls->setPrivateKey(key);
    tls->setPeerVerifyMode(QSslSocket::VerifyNone); // clients prove themselves in the hello
    tls->setProtocol(QSsl::TlsV1_2OrLater);
    return tls;
}

std::shared_ptr<const ClientRegistry> readClients(const QString &path)
{
    if (const QString problem = configFileProblem(path); !problem.isEmpty())
        throw ConfigError(problem);
    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        throw ConfigError(QStringLiteral("O arquivo de clientes %1 está malformado.").arg(path));
    auto clients = std::make_shared<ClientRegistry>();
    ini.beginGroup(QStringLiteral("clients"));
    for (const QString &name : ini.childKeys()) {
        const auto verifier = ClientVerifier::parse(iniText(ini, name));
        if (!verifier)
            throw ConfigError(QStringLiteral("O cliente \"%1\" de %2 não tem um verificador "
                                             "válido (gere-o com fis11000-server --hash-secret).")
                                  .arg(name, path));
        try {
            clients->add(name, *verifier);
        } catch (const std::invalid_argument &) {
            throw ConfigError(QStringLiteral("O nome de cliente \"%1\" de %2 deve ter só letras, "
                                             "dígitos, \"_\", \".\" ou \"-\".")
                                  .arg(name, path));
        }
    }
    if (clients->isEmpty())
        throw ConfigError(QStringLiteral("O arquivo de clientes %1 não tem nenhum cliente na seção "
                                         "[clients].")
                              .arg(path));
    return clients;
}

} // namespace fis
