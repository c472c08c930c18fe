#pragma once

#include <QStringList>

namespace fis {

// Exit statuses of fis-host.
enum HostExit {
    ExitOk = 0,
    ExitStartFailed = 1,    // the database cannot be opened
    ExitUsage = 2,          // command line or configuration
    ExitPackageMissing = 3, // the package of --open cannot be loaded
};

// The whole host: reads the command line (without the program name) and the configuration,
// opens the shared database, shows the main window and runs until it closes. Needs a
// QApplication.
int runHost(const QStringList &arguments);

} // namespace fis
