#include "sqldb/postgresrowwriter.h"

#include "sqldb/postgresresult.h"

namespace fis {

namespace {

// Large enough that the calls cost little, small enough to stay out of the way in memory.
constexpr qsizetype kChunkBytes = 64 * 1024;

// COPY's text format: backslash, tab, newline and carriage return are escaped. The runs between
// them go in one append each, since a value may be a whole block of a file's lines.
void appendEscaped(QByteArray &buffer, QByteArrayView text)
{
    qsizetype run = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char *escaped = c == '\\'   ? "\\\\"
                              : c == '\t' ? "\\t"
                              : c == '\n' ? "\\n"
                              : c == '\r' ? "\\r"
                                          : nullptr;
        if (!escaped)
            continue;
        buffer.append(text.sliced(run, i - run));
        buffer.append(escaped);
        run = i + 1;
    }
    buffer.append(text.sliced(run));
}

} // namespace

PostgresRowWriter::PostgresRowWriter(PostgresConnection &db, const QByteArray &table,
                                     const QList<QByteArray> &columns)
    : m_db(db)
    , m_copy("COPY " + table + " (" + columns.join(", ") + ") FROM STDIN")
{
    m_buffer.reserve(kChunkBytes + 4096);
}

PostgresRowWriter::~PostgresRowWriter()
{
    if (m_copying)
        endCopy("the row writer was dropped unfinished");
}

void PostgresRowWriter::startField()
{
    throwPending();
    if (m_rowStarted)
        m_buffer.append('\t');
    m_rowStarted = true;
}

void PostgresRowWriter::addText(QByteArrayView utf8)
{
    startField();
    appendEscaped(m_buffer, utf8);
}

void PostgresRowWriter::addInteger(qint64 value)
{
    startField();
    m_buffer.append(QByteArray::number(value));
}

void PostgresRowWriter::addNull()
{
    startField();
    m_buffer.append("\\N");
}

void PostgresRowWriter::endRow()
{
    throwPending();
    m_buffer.append('\n');
    m_rowStarted = false;
    if (m_buffer.size() >= kChunkBytes)
        send();
}

void PostgresRowWriter::finish()
{
    if (m_rowStarted)
        endRow();
    throwPending();
    if (!m_buffer.isEmpty())
        send();
    if (!m_copying)
        return;
    if (const std::optional<DatabaseError> error = endCopy(nullptr))
        throw *error;
}

void PostgresRowWriter::yieldConnection() noexcept
{
    if (m_copying)
        m_pendingError = endCopy(nullptr);
}

void PostgresRowWriter::throwPending()
{
    if (!m_pendingError)
        return;
    const DatabaseError error = *m_pendingError;
    m_pendingError.reset();
    // The rows after the failed COPY would land without the ones it lost.
    m_buffer.resize(0);
    m_rowStarted = false;
    throw error;
}

void PostgresRowWriter::send()
{
    PGconn *conn = m_db.handle();
    if (!m_copying) {
        m_db.startCommand(this);
        const PgResult result(PQexec(conn, m_copy.constData()));
        if (PQresultStatus(result.get()) != PGRES_COPY_IN) {
            m_buffer.resize(0);
            throw m_db.commandFailed(result.get());
        }
        m_db.hold(this);
        m_copying = true;
    }
    const int sent = PQputCopyData(conn, m_buffer.constData(), int(m_buffer.size()));
    m_buffer.resize(0);
    if (sent == 1)
        return;
    // The server refused a row already, or the connection broke: the results say which.
    const std::optional<DatabaseError> error = endCopy(nullptr);
    throw error ? *error : DatabaseError(QStringLiteral("O COPY foi interrompido."));
}

std::optional<DatabaseError> PostgresRowWriter::endCopy(const char *refusal) noexcept
{
    m_copying = false;
    m_db.release(this);
    PGconn *conn = m_db.handle();
    // When this fails the result below says why.
    PQputCopyEnd(conn, refusal);
    const PgResult result(PQgetResult(conn));
    if (PQresultStatus(result.get()) == PGRES_COMMAND_OK) {
        m_db.commandSucceeded(true);
        return std::nullopt;
    }
    return m_db.commandFailed(result.get());
}

} // namespace fis
