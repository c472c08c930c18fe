#pragma once

// The checks of the export screen's header without its widgets: a typed code fitted to its width
// and looked up, and which required entry is missing before an export. The headless command
// checks its options with the same functions.

#include <QString>

#include <functional>
#include <optional>

namespace fis::compralegal {

struct CodeCheck
{
    enum class Outcome {
        Empty,   // nothing typed (blanks only)
        Unknown, // no record has the code
        Known,   // `name` is the record's name
    };
    Outcome outcome = Outcome::Empty;
    QString code; // the code fitted to its width ("1" → "01"); empty for Empty
    QString name;
};

// Looks a code up: the record's name, or nothing when no record has it. May throw (a database
// error), which passes to the caller.
using CodeLookup = std::function<std::optional<QString>(const QString &code)>;

// Fits `typed` to `width` with leading zeros and looks it up; an empty code is not looked up.
CodeCheck checkCode(const QString &typed, int width, const CodeLookup &lookup);

// The header's entries that must be filled before an export, in the order they are checked.
enum class HeaderEntry { None, Imposto, Empresa, NomeArquivo };

// The first of tax, company and output name that is empty (blanks only), or None.
HeaderEntry firstMissingEntry(const QString &imposto, const QString &empresa,
                              const QString &nomeArquivo);

} // namespace fis::compralegal
