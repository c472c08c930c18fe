#pragma once

#include "sqldb/postgresconnection.h"
#include "sqldb/postgresresult.h"

#include <QByteArray>

#include <deque>
#include <optional>
#include <vector>

namespace fis {

// A statement prepared once on its connection under a name of its own, deallocated when it
// goes. Parameters go as text of no declared type, so that the server takes each one's type
// from where the statement uses it. Rows arrive one at a time (libpq's single-row mode), so
// that a large SELECT is never held whole in memory, unless another command needs the
// connection before the last one has been read.
class PostgresStatement final : public SqlStatementImpl, public PostgresHolder
{
public:
    PostgresStatement(PostgresConnection &db, QByteArrayView sql);
    ~PostgresStatement() override;

    void bindUtf8(int index, QByteArrayView utf8) override;
    void bindUtf8NoCopy(int index, QByteArrayView utf8) override { bindUtf8(index, utf8); }
    void bind(int index, qint64 value) override;
    void bind(int index, double value) override;
    void bindNull(int index) override;
    bool step() override;
    int execute() override;
    void reset() override;
    bool isNull(int column) const override;
    QByteArrayView utf8(int column) const override;
    qint64 integer(int column) const override;
    double real(int column) const override;

    void yieldConnection() noexcept override;

private:
    enum class State { Idle, Streaming, Buffered };
    struct Value
    {
        QByteArray text;
        bool null = true;
    };

    Value &parameter(int index);
    void start();
    bool nextStreamed();
    bool nextBuffered();
    // Reads the rest of the running command's results, keeping the rows or not.
    void finishStream(bool keepRows) noexcept;
    bool hasField(int column) const;

    PostgresConnection &m_db;
    QByteArray m_name;
    std::vector<Value> m_values;
    State m_state = State::Idle;
    PgResult m_row;
    std::deque<PgResult> m_buffered;
    std::optional<DatabaseError> m_bufferedError;
    int m_changed = 0;
};

} // namespace fis
