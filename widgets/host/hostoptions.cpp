#include "host/hostoptions.h"

#include "hostfw/hosterror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace fis {

namespace {

const QString kConfigFileName = QStringLiteral("fis-host.ini");

} // namespace

HostOptions HostOptions::parse(const QStringList &arguments)
{
    HostOptions options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        auto value = [&]() {
            if (i + 1 >= arguments.size())
                throw ConfigError(QStringLiteral("option %1 needs a value").arg(arg));
            return arguments.at(++i);
        };
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            options.help = true;
        else if (arg == QLatin1String("--config"))
            options.configPath = value();
        else if (arg == QLatin1String("--package-dir"))
            options.packageDirs.append(value());
        else if (arg == QLatin1String("--open"))
            options.openScreen = value();
        else if (arg == QLatin1String("--report-and-quit"))
            options.reportAndQuit = true;
        else
            throw ConfigError(QStringLiteral("unknown option %1").arg(arg));
    }
    return options;
}

QString HostOptions::usage()
{
    return QStringLiteral(
        "Usage: fis-host [--config FILE] [--package-dir DIR] [--open SCREEN] [--report-and-quit]\n"
        "  --config FILE      host configuration (default: fis-host.ini in the working folder,\n"
        "                     else beside the executable)\n"
        "  --package-dir DIR  folder of the screen packages (repeatable; default: ../lib from\n"
        "                     the executable, then its own folder)\n"
        "  --open SCREEN      open a screen at start, e.g. FIS11000\n"
        "  --report-and-quit  print the windows, the menu and the messages, then end (tests)\n"
        "Exit status: 0 done, 1 database or start failure, 2 command line or configuration,\n"
        "3 the package of --open cannot be loaded.\n");
}

QString defaultConfigPath()
{
    const QFileInfo local(QDir::current().filePath(kConfigFileName));
    if (local.isFile())
        return local.absoluteFilePath();
    return QDir(QCoreApplication::applicationDirPath()).filePath(kConfigFileName);
}

} // namespace fis
