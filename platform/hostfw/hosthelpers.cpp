#include "hostfw/hosthelpers.h"

namespace fis {

bool EmptyString(const QString &text)
{
    for (QChar c : text) {
        if (c > u' ' && !c.isSpace())
            return false;
    }
    return true;
}

QString Ajusta(const QString &text, int width)
{
    if (width <= 0 || text.size() >= width)
        return text;
    return QString(width - text.size(), u'0') + text;
}

QString Ajusta_Inscricao(QString &text)
{
    QString digits;
    for (QChar c : std::as_const(text)) {
        if (c >= u'0' && c <= u'9')
            digits += c;
        else if (c == u'.' || c == u'/' || c == u'-' || c.isSpace())
            continue;
        else
            return QStringLiteral("O");
    }
    if (digits.size() == 14) {
        text = digits;
        return QStringLiteral("J");
    }
    if (digits.size() == 11) {
        text = digits;
        return QStringLiteral("F");
    }
    return QStringLiteral("O");
}

QString PictPess(const QString &code)
{
    const QString c = code.trimmed().toUpper();
    if (c == u"J")
        return QStringLiteral("99.999.999/9999-99;0; ");
    if (c == u"F")
        return QStringLiteral("999.999.999-99;0; ");
    return {};
}

} // namespace fis
