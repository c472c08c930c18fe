#pragma once

#include "base/error.h"

#include <QString>
#include <QStringList>

namespace fis {

// A key list as the multi-selection picker returns it and the application server reads it:
// every key in single quotes, a quote inside a key doubled, keys separated by commas, nothing
// else (no blanks): 'S01','E05'. No key gives an empty text.

class KeyListError : public Error
{
public:
    explicit KeyListError(const QString &message)
        : Error(Kind::Input, message)
    {}
};

// The keys in the list format, in the given order. Never fails.
QString formatKeyList(const QStringList &keys);

// Whether parseKeyList() takes blanks (spaces, tabs, line breaks) outside the keys: before the
// first, around the commas and after the last. The application server allows them, since its
// callers need not be the picker; a blank text then gives no keys.
enum class KeyListBlanks { Rejected, Allowed };

// The keys of a list text; an empty text gives no keys. Strict: anything that formatKeyList()
// cannot have produced (blanks unless allowed, a missing quote or comma, text after the last
// key) throws KeyListError saying where.
QStringList parseKeyList(const QString &text, KeyListBlanks blanks = KeyListBlanks::Rejected);

} // namespace fis
