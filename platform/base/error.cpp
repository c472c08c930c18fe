#include "base/error.h"

namespace fis {

Error::Error(Kind kind, const QString &message, const QString &detail)
    : m_kind(kind)
    , m_message(message)
    , m_detail(detail)
    , m_what(message.toUtf8())
{}

Error::~Error() = default;

const char *Error::what() const noexcept
{
    return m_what.constData();
}

QString errorText(const std::exception &failure)
{
    if (const auto *error = dynamic_cast<const Error *>(&failure))
        return error->message();
    return QString::fromUtf8(failure.what());
}

QString errorText(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception &e) {
        return errorText(e);
    } catch (...) {
        return QStringLiteral("Erro inesperado.");
    }
}

namespace {

QString joined(const QString &queryName, const QString &reason, const QString &databaseMessage)
{
    QString text = reason;
    if (!queryName.isEmpty())
        text = queryName + QStringLiteral(": ") + reason;
    if (!databaseMessage.isEmpty())
        text += QStringLiteral(": ") + databaseMessage;
    return text;
}

} // namespace

DatabaseError::DatabaseError(const QString &queryName, const QString &reason,
                             const QString &databaseMessage, int code)
    : Error(Kind::Database, joined(queryName, reason, databaseMessage), databaseMessage)
    , m_queryName(queryName)
    , m_reason(reason)
    , m_code(code)
{}

DatabaseError::DatabaseError(const QString &message, int code)
    : Error(Kind::Database, message)
    , m_reason(message)
    , m_code(code)
{}

bool DatabaseError::isUniqueViolation() const
{
    // SQLITE_CONSTRAINT_UNIQUE and SQLITE_CONSTRAINT_PRIMARYKEY; an engine with other codes
    // reports these for the same faults.
    return m_uniqueViolation || m_code == 2067 || m_code == 1555;
}

} // namespace fis
