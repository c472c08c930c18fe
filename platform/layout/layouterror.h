#pragma once

#include "base/error.h"

#include <QString>

namespace fis {

// Thrown when a value does not fit its field (too long, negative, not digits, invalid date) or
// when a file's data comes in an order the file cannot have. The message names the record type,
// the field and the offending value, and is meant for the server's log and the user alike.
class LayoutError : public Error
{
public:
    explicit LayoutError(const QString &message);
};

} // namespace fis
