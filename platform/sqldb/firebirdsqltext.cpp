#include "firebirdsqltext.h"

#include "base/error.h"

namespace fis::firebird {

namespace {

// SQLite's own limit for ?N.
constexpr int kHighestParameter = 32766;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The end of the quoted text or name that starts at `from` (a doubled quote stays inside).
qsizetype skipQuoted(QByteArrayView sql, qsizetype from)
{
    const char quote = sql[from];
    qsizetype i = from + 1;
    while (i < sql.size()) {
        if (sql[i] == quote) {
            if (i + 1 < sql.size() && sql[i + 1] == quote) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return i;
}

// The end of the comment that starts at `from`, or `from` when none starts there.
qsizetype skipComment(QByteArrayView sql, qsizetype from)
{
    if (from + 1 >= sql.size())
        return from;
    if (sql[from] == '-' && sql[from + 1] == '-') {
        const qsizetype end = sql.indexOf('\n', from);
        return end < 0 ? sql.size() : end + 1;
    }
    if (sql[from] == '/' && sql[from + 1] == '*') {
        const qsizetype end = sql.indexOf(QByteArrayView("*/"), from + 2);
        return end < 0 ? sql.size() : end + 2;
    }
    return from;
}

} // namespace

PositionalStatement toPositional(QByteArrayView sql)
{
    PositionalStatement result;
    result.text.reserve(sql.size());
    qsizetype i = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        qsizetype end = i + 1;
        if (c == '\'' || c == '"')
            end = skipQuoted(sql, i);
        else if (c == '-' || c == '/')
            end = std::max(skipComment(sql, i), i + 1);
        if (c != '?') {
            result.text += sql.sliced(i, end - i);
            i = end;
            continue;
        }
        while (end < sql.size() && isDigit(sql[end]))
            ++end;
        int number = result.highestNumber + 1;
        if (end > i + 1) {
            bool ok = false;
            number = sql.sliced(i + 1, end - i - 1).toInt(&ok);
            if (!ok || number < 1 || number > kHighestParameter)
                throw DatabaseError(
                    QStringLiteral("Parâmetro inválido %1 no comando: os números vão de 1 a %2.")
                        .arg(QString::fromUtf8(sql.sliced(i, end - i)))
                        .arg(kHighestParameter));
        }
        result.numbers.append(number);
        result.highestNumber = std::max(result.highestNumber, number);
        result.text += '?';
        i = end;
    }
    return result;
}

} // namespace fis::firebird
