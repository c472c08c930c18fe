#pragma once

#include "exportoptions.h"

#include <QTextStream>

namespace fis::exportcommand {

enum ExitStatus { Done = 0, Failed = 1, BadOptions = 2, NothingToExport = 3 };

// Loads the invoices the options select from the application server, marks all of them or the
// ones named, and runs the export as the screen does. Progress goes to `progress`, the paths of
// the files written to `paths`, the failure's text to `errors`. Returns the exit status.
int runExport(const ExportOptions &options, QTextStream &paths, QTextStream &progress,
              QTextStream &errors);

} // namespace fis::exportcommand
