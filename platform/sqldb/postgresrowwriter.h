#pragma once

#include "sqldb/postgresconnection.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace fis {

// Rows sent through COPY ... FROM STDIN in the text format, in chunks: the COPY starts with the
// first full chunk (or at finish()) and ends at finish(). Should another command need the
// connection in between, the COPY ends there and the next chunk starts another; a failure
// found then is reported by the writer's next call.
class PostgresRowWriter final : public SqlRowWriter, public PostgresHolder
{
public:
    PostgresRowWriter(PostgresConnection &db, const QByteArray &table,
                      const QList<QByteArray> &columns);
    // An unfinished COPY is refused by the server: none of its rows are written.
    ~PostgresRowWriter() override;

    void addText(QByteArrayView utf8) override;
    void addInteger(qint64 value) override;
    void addNull() override;
    void endRow() override;
    void finish() override;

    void yieldConnection() noexcept override;

private:
    void startField();
    void throwPending();
    void send();
    std::optional<DatabaseError> endCopy(const char *refusal) noexcept;

    PostgresConnection &m_db;
    QByteArray m_copy;
    QByteArray m_buffer;
    bool m_rowStarted = false;
    bool m_copying = false;
    std::optional<DatabaseError> m_pendingError;
};

} // namespace fis
