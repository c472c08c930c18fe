#include "hostfw/sqlparams.h"

#include "hostfw/hosterror.h"

namespace fis {

namespace {

bool isNameStart(QChar c)
{
    return c.isLetter() || c == u'_';
}

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'$';
}

// Index just past a quoted run that starts at `from` with `open` and ends with `close`; a
// doubled closing quote inside is part of the text. An unterminated run ends the statement.
qsizetype skipQuoted(const QString &sql, qsizetype from, QChar close)
{
    qsizetype i = from + 1;
    while (i < sql.size()) {
        if (sql.at(i) == close) {
            if (i + 1 < sql.size() && sql.at(i + 1) == close && close != u']') {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return sql.size();
}

} // namespace

PositionalSql toPositionalSql(const QString &sql)
{
    PositionalSql result;
    result.sql.reserve(sql.size());
    qsizetype i = 0;
    const qsizetype n = sql.size();
    while (i < n) {
        const QChar c = sql.at(i);
        qsizetype end = i + 1;
        if (c == u'\'' || c == u'"') {
            end = skipQuoted(sql, i, c);
        } else if (c == u'[') {
            end = skipQuoted(sql, i, u']');
        } else if (c == u'-' && i + 1 < n && sql.at(i + 1) == u'-') {
            end = sql.indexOf(u'\n', i);
            end = end < 0 ? n : end;
        } else if (c == u'/' && i + 1 < n && sql.at(i + 1) == u'*') {
            end = sql.indexOf(QStringLiteral("*/"), i + 2);
            end = end < 0 ? n : end + 2;
        } else if (c == u':' && i + 1 < n && sql.at(i + 1) == u':') {
            end = i + 2;
        } else if (c == u':' && i + 1 < n && isNameStart(sql.at(i + 1))) {
            end = i + 2;
            while (end < n && isNameChar(sql.at(end)))
                ++end;
            result.names.append(sql.mid(i + 1, end - i - 1).toUpper());
            result.sql += u'?';
            i = end;
            continue;
        } else if (c == u'?') {
            throw DatabaseError(
                {},
                QStringLiteral(
                    "parâmetros posicionais \"?\" não são suportados; dê nomes a eles (:P_X): %1")
                    .arg(sql));
        }
        result.sql += QStringView(sql).mid(i, end - i);
        i = end;
    }
    return result;
}

QStringList placeholderNames(const QString &sql)
{
    QStringList names = toPositionalSql(sql).names;
    names.removeDuplicates();
    return names;
}

} // namespace fis
