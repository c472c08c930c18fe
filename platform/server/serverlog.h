#pragma once

#include <QString>

namespace fis {

// Writes one line to standard error, whole, whatever thread calls it.
void logServerLine(const QString &line);

} // namespace fis
