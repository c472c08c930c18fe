#pragma once

#include <QString>
#include <QStringList>

namespace fis {

// The command line of fis-host.
struct HostOptions
{
    QString configPath;         // --config FILE; empty: the default file (defaultConfigPath())
    QStringList packageDirs;    // --package-dir DIR (repeatable); empty: the build's lib folder
    QString openScreen;         // --open CODE: a screen opened at start
    bool reportAndQuit = false; // --report-and-quit: print the windows and menus, then end
    bool help = false;

    // Throws ConfigError for an unknown option or a missing value.
    static HostOptions parse(const QStringList &arguments);
    static QString usage();
};

// The configuration file used without --config: fis-host.ini in the working folder when there
// is one, else fis-host.ini beside the executable (which need not exist).
QString defaultConfigPath();

} // namespace fis
