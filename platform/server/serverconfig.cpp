#include "server/serverconfig.h"

#include "cmdline/commandline.h"
#include "cmdline/inifile.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QSettings>

#include <functional>

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
        throw ConfigError(QStringLiteral("%1 must be a whole number from %2 to %3, not \"%4\"")
                              .arg(name)
                              .arg(min)
                              .arg(max)
                              .arg(value));
    return int(n);
}

const QList<Setting> &settings()
{
    static const QList<Setting> all = {
        {"server/address", "address", "Address to listen on (default 127.0.0.1).",
         [](ServerConfig &c, const QString &v) {
             if (QHostAddress(v.trimmed()).isNull())
                 throw ConfigError(QStringLiteral("address \"%1\" is not an IP address").arg(v));
             c.address = v.trimmed();
         }},
        {"server/port", "port", "TCP port; 0 picks a free one (default 0).",
         [](ServerConfig &c, const QString &v) {
             c.port = toInt(QStringLiteral("port"), v, 0, 65535);
         }},
        {"server/workers", "workers", "Threads serving clients (default 4).",
         [](ServerConfig &c, const QString &v) {
             c.workers = toInt(QStringLiteral("workers"), v, 1, 256);
         }},
        {"server/idle_timeout", "idle-timeout",
         "Seconds a client may stay silent before it is disconnected; 0 never (default 1800).",
         [](ServerConfig &c, const QString &v) {
             c.idleTimeoutSecs = toInt(QStringLiteral("idle timeout"), v, 0, 7 * 24 * 3600);
         }},
        {"server/max_frame_size", "max-frame-size",
         "Largest message taken in or sent, in bytes (default 536870912).",
         [](ServerConfig &c, const QString &v) {
             bool ok = false;
             const qint64 n = v.trimmed().toLongLong(&ok);
             if (!ok || n < 1024 || n > 0xFFFFFFFFLL)
                 throw ConfigError(
                     QStringLiteral("max frame size must be from 1024 to 4294967295 bytes, not "
                                    "\"%1\"")
                         .arg(v));
             c.maxFrameSize = n;
         }},
        {"database/path", "database", "SQLite database file.",
         [](ServerConfig &c, const QString &v) {
             c.database = v.trimmed();
         }},
        {"database/busy_timeout", "busy-timeout",
         "Milliseconds to wait for another writer (default 30000).",
         [](ServerConfig &c, const QString &v) {
             c.busyTimeoutMs = toInt(QStringLiteral("busy timeout"), v, 0, 3600 * 1000);
         }},
        {"export/output_directory", "output-dir", "Directory where the clients write the files.",
         [](ServerConfig &c, const QString &v) {
             c.outputDirectory = v.trimmed();
         }},
        {"export/lease", "lease",
         "Seconds an export list may go without a call before it is undone (default 900).",
         [](ServerConfig &c, const QString &v) {
             c.leaseSecs = toInt(QStringLiteral("lease"), v, 1, 7 * 24 * 3600);
         }},
        {"export/page_size", "page-size", "Most lines of one GetRegistro page (default 50000).",
         [](ServerConfig &c, const QString &v) {
             c.pageSizeCap = toInt(QStringLiteral("page size"), v, 1, 10000000);
         }},
    };
    return all;
}

} // namespace

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
        QStringLiteral("Usage: fis11000-server [--config FILE] [--OPTION VALUE ...]\n"
                       "Serves FIS11000.rdmCompraLEGALBA. Options override the ini file's keys "
                       "(section/key in brackets).\n\n"
                       "  --config FILE  ini file to read first\n");
    for (const Setting &s : settings())
        text += QStringLiteral("  --%1 VALUE  [%2] %3\n")
                    .arg(QLatin1String(s.option), QLatin1String(s.iniKey), QLatin1String(s.help));
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
            throw ConfigError(QStringLiteral("the config file %1 is malformed").arg(configFile));
        for (const Setting &s : settings()) {
            const QString key = QLatin1String(s.iniKey);
            if (ini.contains(key))
                s.apply(config, iniText(ini, key));
        }
    }
    for (const auto &[setting, value] : given)
        setting->apply(config, value);

    if (config.database.isEmpty())
        throw ConfigError(QStringLiteral("no database given (--database or [database] path)"));
    if (config.outputDirectory.isEmpty())
        throw ConfigError(QStringLiteral(
            "no output directory given (--output-dir or [export] output_directory)"));
    return config;
}

} // namespace fis
