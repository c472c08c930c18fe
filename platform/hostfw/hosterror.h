#pragma once

#include <QString>

#include <stdexcept>

namespace fis {

// Base of the errors the host framework raises. The message is meant for the user; the host's
// error display shows it as it stands.
class HostError : public std::runtime_error
{
public:
    explicit HostError(const QString &message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

// The host configuration cannot be read or holds a value that makes no sense.
class ConfigError : public HostError
{
public:
    using HostError::HostError;
};

// A database operation failed: connecting, preparing or running a statement, or a query used
// in a way its definition does not allow. databaseMessage() is the database's own text (empty
// when the fault was found before reaching the database); queryName() names the query, when one
// was involved.
class DatabaseError : public HostError
{
public:
    DatabaseError(const QString &queryName, const QString &message,
                  const QString &databaseMessage = {})
        : HostError(compose(queryName, message, databaseMessage))
        , m_queryName(queryName)
        , m_reason(message)
        , m_databaseMessage(databaseMessage)
    {}
    QString queryName() const { return m_queryName; }
    QString reason() const { return m_reason; } // what failed, without query name and database text
    QString databaseMessage() const { return m_databaseMessage; }

private:
    static QString compose(const QString &queryName, const QString &message,
                           const QString &databaseMessage)
    {
        QString text = message;
        if (!queryName.isEmpty())
            text = queryName + QStringLiteral(": ") + message;
        if (!databaseMessage.isEmpty())
            text += QStringLiteral(": ") + databaseMessage;
        return text;
    }

    QString m_queryName;
    QString m_reason;
    QString m_databaseMessage;
};

} // namespace fis
