#include "base/databasetarget.h"

#include "base/error.h"

#include <QFile>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

namespace fis {

namespace {

constexpr char kPasswordFileVariable[] = "FIS_DB_PASSWORD_FILE";
constexpr char kPasswordVariable[] = "FIS_DB_PASSWORD";

[[noreturn]] void refuse(const QString &text, const QString &why)
{
    // A password written into the text by mistake is not repeated in the message.
    const QUrl url(text);
    const QString shown =
        url.isValid() && !url.scheme().isEmpty() ? url.toString(QUrl::RemovePassword) : text;
    throw ConfigError(
        QStringLiteral("Conexão de banco de dados inválida \"%1\": %2.").arg(shown, why));
}

QString readPasswordFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ConfigError(QStringLiteral("O arquivo de senha %1 não pode ser lido: %2.")
                              .arg(path, file.errorString()));
    QByteArray bytes = file.readLine(4096);
    while (bytes.endsWith('\n') || bytes.endsWith('\r'))
        bytes.chop(1);
    return QString::fromUtf8(bytes);
}

DatabaseTarget parseUrl(const QString &text, DatabaseEngine engine)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        refuse(text, QStringLiteral("falta o servidor"));
    if (!url.password().isEmpty())
        refuse(text, QStringLiteral("a senha não pode constar da conexão; use password_file ou "
                                    "password_env"));
    DatabaseTarget target;
    target.engine = engine;
    target.host = url.host();
    target.port = url.port(-1);
    target.user = url.userName();
    QString path = url.path(QUrl::FullyDecoded);
    if (path.startsWith(u'/'))
        path.remove(0, 1);
    if (path.isEmpty())
        refuse(text, QStringLiteral("falta o banco de dados"));
    target.database = path;
    const QUrlQuery query(url);
    for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (key == u"password_file")
            target.passwordFile = value;
        else if (key == u"password_env")
            target.passwordEnv = value;
        else
            refuse(text, QStringLiteral("opção desconhecida %1").arg(key));
    }
    return target;
}

} // namespace

QString engineName(DatabaseEngine engine)
{
    switch (engine) {
    case DatabaseEngine::Sqlite:
        return QStringLiteral("sqlite");
    case DatabaseEngine::PostgreSql:
        return QStringLiteral("postgresql");
    case DatabaseEngine::Firebird:
        return QStringLiteral("firebird");
    }
    return {};
}

DatabaseTarget DatabaseTarget::parse(const QString &text)
{
    if (text.startsWith(u"postgresql://"))
        return parseUrl(text, DatabaseEngine::PostgreSql);
    if (text.startsWith(u"firebird://"))
        return parseUrl(text, DatabaseEngine::Firebird);
    DatabaseTarget target;
    target.database = text.startsWith(u"sqlite:") ? text.mid(7) : text;
    if (target.database.isEmpty())
        refuse(text, QStringLiteral("falta o arquivo"));
    if (target.database.contains(u"://"))
        refuse(text, QStringLiteral("tipo de banco desconhecido (postgresql://, firebird:// ou um "
                                    "arquivo SQLite)"));
    return target;
}

QString DatabaseTarget::toString() const
{
    if (engine == DatabaseEngine::Sqlite)
        return database;
    QString text = engineName(engine) + QStringLiteral("://");
    if (!user.isEmpty())
        text += user + u'@';
    text += host;
    if (port > 0)
        text += u':' + QString::number(port);
    text += u'/' + database;
    QStringList options;
    if (!passwordFile.isEmpty())
        options << QStringLiteral("password_file=") + passwordFile;
    if (!passwordEnv.isEmpty())
        options << QStringLiteral("password_env=") + passwordEnv;
    if (!options.isEmpty())
        text += u'?' + options.join(u'&');
    return text;
}

int DatabaseTarget::effectivePort() const
{
    if (port > 0)
        return port;
    switch (engine) {
    case DatabaseEngine::PostgreSql:
        return 5432;
    case DatabaseEngine::Firebird:
        return 3050;
    case DatabaseEngine::Sqlite:
        break;
    }
    return -1;
}

QString DatabaseTarget::password() const
{
    if (!passwordFile.isEmpty())
        return readPasswordFile(passwordFile);
    if (!passwordEnv.isEmpty()) {
        if (!qEnvironmentVariableIsSet(passwordEnv.toLocal8Bit().constData()))
            throw ConfigError(
                QStringLiteral("A variável de ambiente %1 da senha não está definida.")
                    .arg(passwordEnv));
        return qEnvironmentVariable(passwordEnv.toLocal8Bit().constData());
    }
    if (qEnvironmentVariableIsSet(kPasswordFileVariable))
        return readPasswordFile(qEnvironmentVariable(kPasswordFileVariable));
    return qEnvironmentVariable(kPasswordVariable);
}

QString DatabaseTarget::qtDriver() const
{
    switch (engine) {
    case DatabaseEngine::PostgreSql:
        return QStringLiteral("QPSQL");
    case DatabaseEngine::Firebird:
        return QStringLiteral("QIBASE");
    case DatabaseEngine::Sqlite:
        break;
    }
    return QStringLiteral("QSQLITE");
}

QString DatabaseTarget::firebirdConnectString() const
{
    return QStringLiteral("%1/%2:%3").arg(host).arg(effectivePort()).arg(database);
}

} // namespace fis
