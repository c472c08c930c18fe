#include "sqldb/postgresstatement.h"

#include "sqldb/postgresparameters.h"

#include <QLocale>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace fis {

namespace {

// Type numbers from PostgreSQL's catalogue (pg_type.dat).
constexpr Oid kBoolOid = 16;
constexpr Oid kTextOid = 25;

QByteArray doubleText(double value)
{
    if (std::isnan(value))
        return QByteArrayLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QByteArrayLiteral("Infinity") : QByteArrayLiteral("-Infinity");
    // The shortest text that reads back as the same double: 17 significant digits at most.
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

// "123", "-0.05": the form NUMERIC and integers take as text. With at most 15 digits the digits
// and the power of ten are both exact doubles, so their quotient is the correctly rounded value,
// as a full conversion gives it, at a fraction of its cost (7 amounts an item in a file's
// build).
std::optional<double> plainDecimal(QByteArrayView text)
{
    static constexpr std::array<double, 16> kPowers = {
        1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const char *p = text.data();
    const char *const end = p + text.size();
    const bool negative = p < end && *p == '-';
    if (negative)
        ++p;
    quint64 digits = 0;
    int count = 0;
    int decimals = -1; // none before the point
    for (; p < end; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            if (++count > 15)
                return std::nullopt;
            digits = digits * 10 + quint64(c - '0');
            if (decimals >= 0)
                ++decimals;
        } else if (c == '.' && decimals < 0 && count > 0) {
            decimals = 0;
        } else {
            return std::nullopt;
        }
    }
    if (count == 0 || decimals == 0)
        return std::nullopt;
    double value = double(digits);
    if (decimals > 0)
        value /= kPowers[size_t(decimals)];
    return negative ? -value : value;
}

double realOf(QByteArrayView text)
{
    if (const std::optional<double> plain = plainDecimal(text))
        return *plain;
    if (text == "NaN")
        return std::numeric_limits<double>::quiet_NaN();
    if (text == "Infinity")
        return std::numeric_limits<double>::infinity();
    if (text == "-Infinity")
        return -std::numeric_limits<double>::infinity();
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? value : 0.0;
}

// A NUMERIC with decimals or a double gives its integer part, as SQLite's integer() does, held
// within the 64 bits.
qint64 integerOf(QByteArrayView text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (ok)
        return value;
    const double real = realOf(text);
    if (std::isnan(real))
        return 0;
    if (real >= 9223372036854775807.0)
        return std::numeric_limits<qint64>::max();
    if (real <= -9223372036854775808.0)
        return std::numeric_limits<qint64>::min();
    return qint64(real);
}

bool isSuccess(ExecStatusType status)
{
    return status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK || status == PGRES_EMPTY_QUERY;
}

// A SELECT changes nothing a rollback to the savepoint would have to undo.
bool mayHaveWritten(PGresult *result)
{
    return !QByteArrayView(PQcmdStatus(result)).startsWith("SELECT ");
}

} // namespace

PostgresStatement::PostgresStatement(PostgresConnection &db, QByteArrayView sql)
    : m_db(db)
{
    const PostgresStatementText text = toPostgresParameters(sql);
    m_values.resize(size_t(text.parameterCount()));
    // A number the statement skips gives the server nothing to infer a type from.
    std::vector<Oid> types(text.used.size(), 0);
    for (size_t i = 0; i < types.size(); ++i) {
        if (!text.used[i])
            types[i] = kTextOid;
    }
    const QByteArray name = m_db.newStatementName();
    m_db.startCommand();
    const PgResult result(PQprepare(m_db.handle(), name.constData(), text.sql.constData(),
                                    int(types.size()), types.data()));
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK)
        throw m_db.commandFailed(result.get());
    m_db.commandSucceeded(false);
    m_name = name;
}

PostgresStatement::~PostgresStatement()
{
    if (m_state == State::Streaming)
        finishStream(false);
    m_db.deallocateLater(m_name);
}

PostgresStatement::Value &PostgresStatement::parameter(int index)
{
    if (index < 1 || size_t(index) > m_values.size())
        throw DatabaseError(QStringLiteral("O comando não tem o parâmetro %1 (tem %2).")
                                .arg(index)
                                .arg(m_values.size()));
    return m_values[size_t(index - 1)];
}

void PostgresStatement::bindUtf8(int index, QByteArrayView utf8)
{
    // Parameters go as C strings, and PostgreSQL's texts hold no NUL anyway.
    if (!utf8.isEmpty() && std::memchr(utf8.data(), 0, size_t(utf8.size())))
        throw DatabaseError(
            QStringLiteral("O texto do parâmetro %1 contém um caractere nulo.").arg(index));
    Value &value = parameter(index);
    value.text = utf8.toByteArray();
    value.null = false;
}

void PostgresStatement::bind(int index, qint64 value)
{
    parameter(index) = Value{QByteArray::number(value), false};
}

void PostgresStatement::bind(int index, double value)
{
    parameter(index) = Value{doubleText(value), false};
}

void PostgresStatement::bindNull(int index)
{
    parameter(index) = Value();
}

bool PostgresStatement::step()
{
    // Like SQLite's, a statement stepped after its last row runs again.
    if (m_state == State::Idle)
        start();
    return m_state == State::Streaming ? nextStreamed() : nextBuffered();
}

void PostgresStatement::start()
{
    m_db.startCommand(this);
    std::vector<const char *> values(m_values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        const Value &value = m_values[i];
        values[i] = value.null ? nullptr : value.text.isEmpty() ? "" : value.text.constData();
    }
    PGconn *conn = m_db.handle();
    if (!PQsendQueryPrepared(conn, m_name.constData(), int(values.size()), values.data(), nullptr,
                             nullptr, 0))
        throw m_db.commandFailed(nullptr);
    PQsetSingleRowMode(conn);
    m_db.hold(this);
    m_state = State::Streaming;
    m_changed = 0;
}

bool PostgresStatement::nextStreamed()
{
    m_row.reset();
    PgResult result(PQgetResult(m_db.handle()));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status == PGRES_SINGLE_TUPLE) {
        m_row = std::move(result);
        return true;
    }
    m_state = State::Idle;
    m_db.release(this);
    if (!isSuccess(status))
        throw m_db.commandFailed(result.get());
    m_changed = std::atoi(PQcmdTuples(result.get()));
    m_db.commandSucceeded(mayHaveWritten(result.get()));
    return false;
}

bool PostgresStatement::nextBuffered()
{
    m_row.reset();
    if (!m_buffered.empty()) {
        m_row = std::move(m_buffered.front());
        m_buffered.pop_front();
        return true;
    }
    m_state = State::Idle;
    if (m_bufferedError) {
        const DatabaseError error = *m_bufferedError;
        m_bufferedError.reset();
        throw error;
    }
    return false;
}

void PostgresStatement::finishStream(bool keepRows) noexcept
{
    m_db.release(this);
    for (;;) {
        PgResult result(PQgetResult(m_db.handle()));
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_SINGLE_TUPLE) {
            if (keepRows)
                m_buffered.push_back(std::move(result));
            continue;
        }
        if (isSuccess(status)) {
            m_changed = std::atoi(PQcmdTuples(result.get()));
            m_db.commandSucceeded(mayHaveWritten(result.get()));
        } else {
            m_bufferedError = m_db.commandFailed(result.get());
        }
        return;
    }
}

void PostgresStatement::yieldConnection() noexcept
{
    if (m_state != State::Streaming)
        return;
    finishStream(true);
    m_state = State::Buffered;
}

int PostgresStatement::execute()
{
    while (step()) {
    }
    const int changed = m_changed;
    reset();
    return changed;
}

void PostgresStatement::reset()
{
    if (m_state == State::Streaming)
        finishStream(false);
    m_state = State::Idle;
    m_row.reset();
    m_buffered.clear();
    m_bufferedError.reset();
    std::fill(m_values.begin(), m_values.end(), Value());
}

bool PostgresStatement::hasField(int column) const
{
    return m_row && column >= 0 && column < PQnfields(m_row.get()) &&
           !PQgetisnull(m_row.get(), 0, column);
}

bool PostgresStatement::isNull(int column) const
{
    return !hasField(column);
}

QByteArrayView PostgresStatement::utf8(int column) const
{
    if (!hasField(column))
        return {};
    return QByteArrayView(PQgetvalue(m_row.get(), 0, column), PQgetlength(m_row.get(), 0, column));
}

qint64 PostgresStatement::integer(int column) const
{
    const QByteArrayView text = utf8(column);
    if (hasField(column) && PQftype(m_row.get(), column) == kBoolOid)
        return text == "t" ? 1 : 0;
    return integerOf(text);
}

double PostgresStatement::real(int column) const
{
    if (hasField(column) && PQftype(m_row.get(), column) == kBoolOid)
        return utf8(column) == "t" ? 1.0 : 0.0;
    return realOf(utf8(column));
}

} // namespace fis
