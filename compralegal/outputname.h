#pragma once

// The rules of the output files' names: the base taken from what the user typed, the characters
// refused while typing it, and the name of each file.

#include <QChar>
#include <QString>

namespace fis::compralegal {

// The characters that cannot be part of the typed output name.
QString refusedNameCharacters();
bool isRefusedInName(QChar c);

// The base name of the output files for a typed name: the text before its first ".", or all of
// it when it holds none.
QString outputBaseName(const QString &typed);

// The name of one output file: the base, "_", the file's name part from the server, "_.txt".
QString outputFileName(const QString &baseName, const QString &part);

// Whether a part of a file name could place the file anywhere but in the output directory.
bool leavesDirectory(const QString &part);

} // namespace fis::compralegal
