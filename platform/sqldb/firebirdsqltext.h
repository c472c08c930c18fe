#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace fis::firebird {

// A statement text with SQLite's numbered parameters turned into Firebird's positional ones.
struct PositionalStatement
{
    QByteArray text;     // every parameter a bare `?`
    QList<int> numbers;  // the parameter number (from 1) of each `?`, in order
    int highestNumber{}; // the highest number the text uses
};

// `?N` is parameter N and may occur several times; a bare `?` is the number after the highest
// so far (as SQLite numbers them). Quoted texts ('...'), quoted names ("...") and comments are
// copied as they stand. Throws DatabaseError for a number out of range (0, or over 32766).
PositionalStatement toPositional(QByteArrayView sql);

} // namespace fis::firebird
