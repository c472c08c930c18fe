#pragma once

#include <QString>

#include <stdexcept>

namespace fis {

// Thrown when a value does not fit its field (too long, negative, not digits, invalid date) or
// when a file's data comes in an order the file cannot have. The message names the record type,
// the field and the offending value, and is meant for the server's log and the user alike.
class LayoutError : public std::runtime_error
{
public:
    explicit LayoutError(const QString &message);

    QString message() const { return m_message; }

private:
    QString m_message;
};

} // namespace fis
