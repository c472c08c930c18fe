#include "hostfw/editmask.h"

namespace fis {

namespace {

bool isAsciiDigit(QChar ch)
{
    return ch >= u'0' && ch <= u'9';
}

} // namespace

EditMask::EditMask(const QString &mask)
    : m_mask(mask)
{
    Case letterCase = Case::Keep;
    qsizetype i = 0;
    const qsizetype n = mask.size();
    for (; i < n; ++i) {
        const QChar c = mask.at(i);
        if (c == u';')
            break;
        Position p;
        p.letterCase = letterCase;
        switch (c.unicode()) {
        case u'>':
            letterCase = Case::Upper;
            continue;
        case u'<':
            if (i + 1 < n && mask.at(i + 1) == u'>') {
                letterCase = Case::Keep;
                ++i;
            } else {
                letterCase = Case::Lower;
            }
            continue;
        case u'\\':
            p.literal = i + 1 < n ? mask.at(++i) : c;
            break;
        case u'9':
        case u'0':
            p.kind = Kind::Digit;
            p.required = c == u'0';
            break;
        case u'a':
        case u'A':
            p.kind = Kind::LetterOrDigit;
            p.required = c == u'A';
            break;
        case u'l':
        case u'L':
            p.kind = Kind::Letter;
            p.required = c == u'L';
            break;
        default:
            p.literal = c;
            break;
        }
        m_positions.push_back(p);
    }
    if (i >= n)
        return; // no fields after the pattern: literals kept, "_" as blank
    const QString rest = mask.mid(i + 1);
    const qsizetype separator = rest.indexOf(u';');
    const QString keep = separator < 0 ? rest : rest.left(separator);
    m_keepLiterals = keep.trimmed() != u"0";
    if (separator >= 0 && separator + 1 < rest.size())
        m_blank = rest.at(separator + 1);
}

const EditMask::Position *EditMask::at(int position) const
{
    if (position < 0 || position >= length())
        return nullptr;
    return &m_positions[size_t(position)];
}

int EditMask::editPositionCount() const
{
    int count = 0;
    for (const Position &p : m_positions)
        count += p.kind == Kind::Literal ? 0 : 1;
    return count;
}

bool EditMask::isLiteral(int position) const
{
    const Position *p = at(position);
    return p && p->kind == Kind::Literal;
}

QChar EditMask::literalAt(int position) const
{
    const Position *p = at(position);
    return p && p->kind == Kind::Literal ? p->literal : QChar();
}

bool EditMask::isRequired(int position) const
{
    const Position *p = at(position);
    return p && p->required;
}

bool EditMask::accepts(int position, QChar ch) const
{
    const Position *p = at(position);
    if (!p)
        return false;
    switch (p->kind) {
    case Kind::Literal:
        return false;
    case Kind::Digit:
        return isAsciiDigit(ch);
    case Kind::Letter:
        return ch.isLetter();
    case Kind::LetterOrDigit:
        return ch.isLetter() || isAsciiDigit(ch);
    }
    return false;
}

QChar EditMask::convert(int position, QChar ch) const
{
    const Position *p = at(position);
    if (!p || p->kind == Kind::Literal)
        return ch;
    if (p->letterCase == Case::Upper)
        return ch.toUpper();
    if (p->letterCase == Case::Lower)
        return ch.toLower();
    return ch;
}

QString EditMask::displayText(const QString &value) const
{
    if (isEmpty())
        return value;
    QString text;
    text.reserve(length());
    qsizetype next = 0; // the value's next character, without literals
    for (int pos = 0; pos < length(); ++pos) {
        const Position &p = m_positions[size_t(pos)];
        if (p.kind == Kind::Literal) {
            text += p.literal;
            continue;
        }
        const qsizetype from = m_keepLiterals ? pos : next++;
        const QChar ch = from < value.size() ? value.at(from) : QChar(u' ');
        text += ch == u' ' ? m_blank : convert(pos, ch);
    }
    return text;
}

QString EditMask::value(const QString &displayText) const
{
    if (isEmpty())
        return displayText;
    QString result;
    const int end = std::min<int>(length(), int(displayText.size()));
    for (int pos = 0; pos < end; ++pos) {
        const QChar ch = displayText.at(pos);
        const bool blank = ch == m_blank || ch == u' ';
        if (m_positions[size_t(pos)].kind == Kind::Literal) {
            if (m_keepLiterals)
                result += m_positions[size_t(pos)].literal;
        } else if (!blank) {
            result += ch;
        } else if (m_keepLiterals) {
            result += u' ';
        }
    }
    if (m_keepLiterals) {
        while (result.endsWith(u' '))
            result.chop(1);
    }
    return result;
}

bool EditMask::isComplete(const QString &displayText) const
{
    for (int pos = 0; pos < length(); ++pos) {
        if (!isRequired(pos))
            continue;
        if (pos >= displayText.size() || !accepts(pos, displayText.at(pos)))
            return false;
    }
    return true;
}

QString EditMask::toQtInputMask() const
{
    if (isEmpty())
        return {};
    static const QString qtSpecial = QStringLiteral("AaNnXx90Dd#HhBb><!{}[]\\;");
    QString result;
    Case current = Case::Keep;
    for (const Position &p : m_positions) {
        if (p.kind == Kind::Literal) {
            if (qtSpecial.contains(p.literal))
                result += u'\\';
            result += p.literal;
            continue;
        }
        if (p.letterCase != current) {
            result += p.letterCase == Case::Upper   ? u'>'
                      : p.letterCase == Case::Lower ? u'<'
                                                    : u'!';
            current = p.letterCase;
        }
        switch (p.kind) {
        case Kind::Digit:
            result += p.required ? u'9' : u'0';
            break;
        case Kind::Letter:
            result += p.required ? u'A' : u'a';
            break;
        case Kind::LetterOrDigit:
            result += p.required ? u'N' : u'n';
            break;
        case Kind::Literal:
            break;
        }
    }
    return result + u';' + m_blank;
}

QString FormatMaskText(const QString &mask, const QString &value)
{
    return EditMask(mask).displayText(value);
}

} // namespace fis
