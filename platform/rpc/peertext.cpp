#include "rpc/peertext.h"

namespace fis {

namespace {

bool needsEscape(char32_t c)
{
    return c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069) || c == 0x200e ||
           c == 0x200f || c == 0x061c || c == 0xfeff;
}

void appendEscape(QString &out, char32_t c)
{
    switch (c) {
    case U'\n':
        out += u"\\n";
        return;
    case U'\r':
        out += u"\\r";
        return;
    case U'\t':
        out += u"\\t";
        return;
    default:
        break;
    }
    if (c < 0x100)
        out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
    else
        out += QStringLiteral("\\u{%1}").arg(uint(c), 4, 16, QLatin1Char('0'));
}

} // namespace

QString printable(QStringView text, qsizetype max)
{
    const bool cut = text.size() > max;
    if (cut) {
        qsizetype n = max;
        // Never split a surrogate pair.
        if (n > 0 && text.at(n - 1).isHighSurrogate())
            --n;
        text = text.left(n);
    }
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += c;
            out += text.at(++i);
        } else if (c.isSurrogate()) {
            appendEscape(out, c.unicode());
        } else if (needsEscape(c.unicode())) {
            appendEscape(out, c.unicode());
        } else {
            out += c;
        }
    }
    if (cut)
        out += u'…';
    return out;
}

bool isPlainName(QStringView name)
{
    if (name.isEmpty() || name.size() > kEchoLength)
        return false;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'z') ||
                        (u >= u'A' && u <= u'Z') || u == u'_' || u == u'.' || u == u'-';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace fis
