#pragma once

#include <QString>

class QSettings;

namespace fis {

// The text of an ini key as it was written. QSettings reads an unquoted value holding commas
// as a list, which QVariant::toString() turns into an empty text: the items are joined again
// with commas (blanks around them are lost; quote the value to keep them). `absent` when the
// key is not there.
QString iniText(const QSettings &ini, const QString &key, const QString &absent = {});

// Why `path` cannot be read as a configuration file, in a sentence naming it: missing, a
// directory, no regular file (a FIFO, a device) or unreadable; empty when it can.
QString configFileProblem(const QString &path);

} // namespace fis
