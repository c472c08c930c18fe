#pragma once

#include <QString>
#include <QStringList>

namespace fis {

// The command line of fis-host.
struct HostOptions
{
    QString configPath;         // --config FILE; empty: HostConfig::defaultFiles()
    QStringList packageDirs;    // --package-dir DIR (repeatable); empty: PackageLoader's own
    QString openScreen;         // --open CODE: a screen opened at start
    bool reportAndQuit = false; // --report-and-quit: print the windows and menus, then end
    bool help = false;
    bool version = false; // --version

    // Throws ConfigError for an unknown option or a missing value.
    static HostOptions parse(const QStringList &arguments);
    static QString usage();
};

} // namespace fis
