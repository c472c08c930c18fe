#include "sqlscript.h"

#include <QRegularExpression>

namespace fis {

namespace {

// Index just past a run quoted with `quote`; a doubled quote inside is part of the text.
qsizetype skipQuoted(const QString &sql, qsizetype from, QChar quote)
{
    qsizetype i = from + 1;
    while (i < sql.size()) {
        if (sql.at(i) == quote) {
            if (i + 1 < sql.size() && sql.at(i + 1) == quote) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return sql.size();
}

// Index just past the comment or quoted run that starts at i; i itself when none starts there.
qsizetype skipNonCode(const QString &sql, qsizetype i)
{
    const QChar c = sql.at(i);
    if (c == u'\'' || c == u'"')
        return skipQuoted(sql, i, c);
    if (c == u'-' && sql.mid(i, 2) == u"--") {
        const qsizetype eol = sql.indexOf(u'\n', i);
        return eol < 0 ? sql.size() : eol + 1;
    }
    if (c == u'/' && sql.mid(i, 2) == u"/*") {
        const qsizetype end = sql.indexOf(QStringLiteral("*/"), i + 2);
        return end < 0 ? sql.size() : end + 2;
    }
    return i;
}

// "SET TERM ^ ;" at the start of a statement: the new terminator, else an empty text.
QString setTermTerminator(const QString &statement)
{
    static const QRegularExpression setTerm(QStringLiteral("^SET\\s+TERM\\s+(\\S+)\\s*$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match =
        setTerm.match(withoutLeadingComments(statement).trimmed());
    return match.hasMatch() ? match.captured(1) : QString();
}

} // namespace

QString withoutLeadingComments(const QString &sql)
{
    qsizetype i = 0;
    for (;;) {
        while (i < sql.size() && sql.at(i).isSpace())
            ++i;
        if (i >= sql.size() || (sql.at(i) != u'-' && sql.at(i) != u'/'))
            return sql.mid(i);
        const qsizetype next = skipNonCode(sql, i);
        if (next == i)
            return sql.mid(i);
        i = next;
    }
}

QStringList splitSqlScript(const QString &script)
{
    QStringList statements;
    QString terminator = QStringLiteral(";");
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < script.size()) {
        const qsizetype next = skipNonCode(script, i);
        if (next != i) {
            i = next;
            continue;
        }
        if (!script.mid(i).startsWith(terminator)) {
            ++i;
            continue;
        }
        const QString statement = script.mid(start, i - start);
        i += terminator.size();
        start = i;
        if (const QString term = setTermTerminator(statement); !term.isEmpty())
            terminator = term;
        else if (!withoutLeadingComments(statement).trimmed().isEmpty())
            statements.append(statement.trimmed());
    }
    return statements;
}

bool isCreateIndex(const QString &statement)
{
    static const QRegularExpression index(QStringLiteral("^CREATE\\s+(UNIQUE\\s+)?INDEX\\b"),
                                          QRegularExpression::CaseInsensitiveOption);
    return index.match(withoutLeadingComments(statement)).hasMatch();
}

QString createdObject(const QString &statement, QString *kind)
{
    static const QRegularExpression create(
        QStringLiteral("^CREATE\\s+(TABLE|SEQUENCE|FUNCTION|PROCEDURE)\\s+(\\w+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = create.match(withoutLeadingComments(statement));
    if (!match.hasMatch())
        return {};
    if (kind)
        *kind = match.captured(1).toUpper();
    return match.captured(2).toUpper();
}

} // namespace fis
