#pragma once

// The one error model of the system. Every error derives from fis::Error: a message for the user
// (in Portuguese, shown as it stands), the broad kind of fault, and an optional detail for logs
// (an engine's own text, a path, a code; it may be English). Classes add what their callers need
// to tell cases apart (RpcError::Kind, ExportRunError::Kind, ...). errorText() is the one place
// that turns any failure into the text shown. The action runner's ActionAborted is no error:
// it ends a user action whose message has been shown already.

#include <QByteArray>
#include <QString>

#include <exception>

namespace fis {

class Error : public std::exception
{
public:
    enum class Kind {
        Input,      // a value given by the user or a caller is refused
        State,      // the system is not in a state to do it (a window, a package missing)
        Config,     // the configuration is missing or wrong
        Database,   // the database failed
        Connection, // the application server cannot be reached, or the connection broke
        Protocol,   // a malformed message or answer
        Server,     // the application server refused a call; the message is its text
        Data,       // data read or received is not what it must be
        File,       // a file cannot be created, read or written
    };

    Error(Kind kind, const QString &message, const QString &detail = {});
    ~Error() override;
    Error(const Error &) = default;
    Error &operator=(const Error &) = default;

    Kind errorKind() const noexcept { return m_kind; }
    // For the user, as it stands.
    QString message() const { return m_message; }
    // For logs; empty when there is nothing to add to the message.
    QString detail() const { return m_detail; }
    // The message in UTF-8.
    const char *what() const noexcept override;

private:
    Kind m_kind;
    QString m_message;
    QString m_detail;
    QByteArray m_what;
};

// The text shown for a failure: an Error's message, another exception's what(), or a fixed
// text for anything else.
QString errorText(std::exception_ptr failure);
QString errorText(const std::exception &failure);

// The configuration cannot be read, or holds a value that makes no sense: the host's, the
// server's, a program's options.
class ConfigError : public Error
{
public:
    explicit ConfigError(const QString &message, const QString &detail = {})
        : Error(Kind::Config, message, detail)
    {}
};

// A database operation failed: connecting, preparing or running a statement, or a query used
// in a way its definition does not allow.
class DatabaseError : public Error
{
public:
    // What failed (`reason`), the query involved (may be empty) and the database's own text
    // (empty when the fault was found before reaching the database). The message joins them.
    DatabaseError(const QString &queryName, const QString &reason,
                  const QString &databaseMessage = {}, int code = 0);
    // A message that says it all, with the engine's result code (0 when not known).
    explicit DatabaseError(const QString &message, int code = 0);

    QString queryName() const { return m_queryName; }
    QString reason() const { return m_reason; }
    QString databaseMessage() const { return detail(); }
    // The engine's result code (SQLite's extended result code), 0 when not known.
    int code() const { return m_code; }
    // A UNIQUE or PRIMARY KEY constraint refused a row.
    bool isUniqueViolation() const;
    // For engines whose codes say so in their own way (an SQLSTATE, a status vector).
    DatabaseError &markUniqueViolation()
    {
        m_uniqueViolation = true;
        return *this;
    }

private:
    QString m_queryName;
    QString m_reason;
    int m_code = 0;
    bool m_uniqueViolation = false;
};

} // namespace fis
