#include "sqldb/postgresparameters.h"

#include "base/error.h"

#include <algorithm>

namespace fis {

namespace {

// The protocol counts parameters in 16 bits.
constexpr int kMaxParameter = 65535;

// The index just past the quoted text or comment that starts at `from`, or `from` when none
// starts there. A doubled quote stays inside; an unterminated one runs to the end, where
// PostgreSQL reports it.
qsizetype skipQuoted(QByteArrayView sql, qsizetype from)
{
    const char c = sql.at(from);
    const qsizetype size = sql.size();
    if (c == '\'' || c == '"') {
        qsizetype i = from + 1;
        while (i < size) {
            if (sql.at(i) == c) {
                if (i + 1 < size && sql.at(i + 1) == c) {
                    i += 2;
                    continue;
                }
                return i + 1;
            }
            ++i;
        }
        return size;
    }
    if (c == '-' && from + 1 < size && sql.at(from + 1) == '-') {
        const qsizetype end = sql.indexOf('\n', from);
        return end < 0 ? size : end + 1;
    }
    if (c == '/' && from + 1 < size && sql.at(from + 1) == '*') {
        const qsizetype end = sql.indexOf("*/", from + 2);
        return end < 0 ? size : end + 2;
    }
    return from;
}

[[noreturn]] void refuseNumber(QByteArrayView sql, QByteArrayView digits)
{
    throw DatabaseError(QStringLiteral("Parâmetro ?%1 inválido no comando: %2")
                            .arg(QString::fromLatin1(digits), QString::fromUtf8(sql)));
}

} // namespace

PostgresStatementText toPostgresParameters(QByteArrayView sql)
{
    PostgresStatementText out;
    out.sql.reserve(sql.size() + 8);
    int highest = 0;
    qsizetype i = 0;
    while (i < sql.size()) {
        const qsizetype past = skipQuoted(sql, i);
        if (past > i) {
            out.sql.append(sql.sliced(i, past - i));
            i = past;
            continue;
        }
        if (sql.at(i) != '?') {
            out.sql.append(sql.at(i++));
            continue;
        }
        qsizetype end = i + 1;
        while (end < sql.size() && sql.at(end) >= '0' && sql.at(end) <= '9')
            ++end;
        const QByteArrayView digits = sql.sliced(i + 1, end - i - 1);
        int number = highest + 1;
        if (!digits.isEmpty()) {
            bool ok = false;
            const qlonglong value = digits.size() > 6 ? -1 : digits.toLongLong(&ok);
            if (!ok || value < 1 || value > kMaxParameter)
                refuseNumber(sql, digits);
            number = int(value);
        }
        if (number > kMaxParameter)
            refuseNumber(sql, QByteArray::number(number));
        highest = std::max(highest, number);
        if (out.used.size() < size_t(highest))
            out.used.resize(size_t(highest), false);
        out.used[size_t(number - 1)] = true;
        out.sql.append('$').append(QByteArray::number(number));
        i = end;
    }
    return out;
}

} // namespace fis
