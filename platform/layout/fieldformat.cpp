#include "fieldformat.h"

#include "layouterror.h"

#include <QChar>
#include <QLocale>
#include <QString>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace fis {

namespace {

constexpr int maxNumberWidth = 18;

constexpr std::array<quint64, maxNumberWidth + 1> powersOfTen = [] {
    std::array<quint64, maxNumberWidth + 1> p{};
    p[0] = 1;
    for (int i = 1; i <= maxNumberWidth; ++i)
        p[i] = p[i - 1] * 10;
    return p;
}();

[[noreturn]] void fail(const FieldFormat &field, const QString &what)
{
    throw LayoutError(QStringLiteral("Registro %1, campo \"%2\": %3")
                          .arg(QLatin1String(field.record), QString::fromUtf8(field.name), what));
}

QString shortest(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// "00" to "99": two digits a step halve the divisions, the costliest part of a line.
constexpr std::array<char, 200> twoDigits = [] {
    std::array<char, 200> t{};
    for (int i = 0; i < 100; ++i) {
        t[size_t(2 * i)] = char('0' + i / 10);
        t[size_t(2 * i + 1)] = char('0' + i % 10);
    }
    return t;
}();

// value must fit width digits. Amounts are mostly far shorter than their fields, so the division
// loop stops at the value's own digits and the zeros are filled in one go; values that fit 32
// bits, nearly all of them, divide in 32 bits.
void putDigits(char *out, int width, quint64 value)
{
    int i = width;
    while (value > 0xffffffffu) {
        const auto pair = size_t(value % 100);
        value /= 100;
        i -= 2;
        std::memcpy(out + i, twoDigits.data() + 2 * pair, 2);
    }
    auto small = quint32(value);
    while (small >= 100) {
        const auto pair = size_t(small % 100);
        small /= 100;
        i -= 2;
        std::memcpy(out + i, twoDigits.data() + 2 * pair, 2);
    }
    if (small >= 10) {
        i -= 2;
        std::memcpy(out + i, twoDigits.data() + 2 * size_t(small), 2);
    } else if (small > 0) {
        out[--i] = char('0' + small);
    }
    std::memset(out, '0', size_t(i));
}

// Rounds the shortest decimal form of value, so that amounts typed as 1.005 round as the user
// sees them. Only reached near a half, where the binary product could fall on the wrong side.
quint64 roundDecimalForm(double value, int decimals)
{
    char buf[512];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    const char *p = buf;
    const char *const end = res.ptr;
    quint64 result = 0;
    while (p < end && *p != '.')
        result = result * 10 + quint64(*p++ - '0');
    if (p < end)
        ++p;
    for (int i = 0; i < decimals; ++i)
        result = result * 10 + (p < end ? quint64(*p++ - '0') : 0);
    if (p < end && *p >= '5')
        ++result;
    return result;
}

char upperAscii(char32_t c)
{
    return char(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
}

// What one character of the input becomes: an ASCII character, or 0 when it is dropped.
char foldCharacter(char32_t ucs)
{
    if (ucs < 0x20 || (ucs >= 0x7f && ucs < 0xa0))
        return ' ';
    if (ucs < 0x7f)
        return upperAscii(ucs);
    // Text typed on some systems arrives decomposed: the accent is a mark of its own.
    if (QChar::category(ucs) == QChar::Mark_NonSpacing)
        return 0;
    char32_t c = ucs;
    // Canonical decompositions nest (U+1EAB is U+00E2 plus a tilde), so follow them down.
    for (int depth = 0; depth < 4 && c >= 0x80; ++depth) {
        if (QChar::decompositionTag(c) != QChar::Canonical)
            break;
        const QString parts = QChar::decomposition(c);
        if (parts.isEmpty())
            break;
        c = parts.at(0).unicode();
    }
    if (c >= 0x20 && c < 0x7f)
        return upperAscii(c);
    return ' ';
}

const std::array<char, 256> &latin1Folding()
{
    static const std::array<char, 256> table = [] {
        std::array<char, 256> t{};
        for (char32_t c = 0; c < 256; ++c)
            t[c] = foldCharacter(c);
        return t;
    }();
    return table;
}

} // namespace

void writeNumber(char *out, const FieldFormat &field, qint64 value)
{
    Q_ASSERT(field.width > 0 && field.width <= maxNumberWidth);
    if (value < 0)
        fail(field, QStringLiteral("valor negativo %1").arg(value));
    if (quint64(value) >= powersOfTen[field.width])
        fail(field,
             QStringLiteral("o valor %1 tem mais de %2 dígitos").arg(value).arg(field.width));
    putDigits(out, field.width, quint64(value));
}

void writeAmount(char *out, const FieldFormat &field, double value)
{
    Q_ASSERT(field.width > 0 && field.width <= maxNumberWidth);
    Q_ASSERT(field.decimals >= 0 && field.decimals <= field.width);
    if (!std::isfinite(value))
        fail(field, QStringLiteral("o valor %1 não é um número").arg(shortest(value)));
    if (value < 0)
        fail(field, QStringLiteral("valor negativo %1").arg(shortest(value)));
    const auto tooLong = [&] {
        fail(field, QStringLiteral("o valor %1 não cabe em %2 dígitos com %3 decimais")
                        .arg(shortest(value))
                        .arg(field.width)
                        .arg(field.decimals));
    };
    const double scaled = value * double(powersOfTen[field.decimals]);
    if (scaled >= double(powersOfTen[maxNumberWidth]))
        tooLong();
    // Below 10^18 and not negative: the conversion truncates, which is the floor, without a
    // call for it.
    const auto whole = quint64(qint64(scaled));
    const double fraction = scaled - double(whole);
    // The product carries an error of a few units in the last place; only a fraction that close
    // to a half needs the exact decimal rounding.
    const double tolerance = scaled * 1e-15 + 1e-9;
    const quint64 rounded = std::fabs(fraction - 0.5) > tolerance
                                ? whole + (fraction > 0.5 ? 1 : 0)
                                : roundDecimalForm(value, field.decimals);
    if (rounded >= powersOfTen[field.width])
        tooLong();
    putDigits(out, field.width, rounded);
}

void writeText(char *out, const FieldFormat &field, QStringView value)
{
    Q_ASSERT(field.width > 0);
    const std::array<char, 256> &latin1 = latin1Folding();
    const char16_t *p = value.utf16();
    const char16_t *const end = p + value.size();
    int written = 0;
    int contentLength = 0; // up to the last non-blank
    for (; p < end; ++p) {
        char c;
        if (*p < 256) {
            c = latin1[*p];
        } else if (QChar::isHighSurrogate(*p) && p + 1 < end && QChar::isLowSurrogate(p[1])) {
            c = foldCharacter(QChar::surrogateToUcs4(p[0], p[1]));
            ++p;
        } else {
            c = foldCharacter(*p);
        }
        if (c == 0)
            continue;
        if (written < field.width)
            out[written] = c;
        else if (field.cut)
            break;
        ++written;
        if (c != ' ')
            contentLength = written;
    }
    if (contentLength > field.width)
        fail(field, QStringLiteral("\"%1\" tem mais de %2 caracteres")
                        .arg(value.toString())
                        .arg(field.width));
    if (written < field.width)
        std::memset(out + written, ' ', size_t(field.width - written));
}

void writeDigits(char *out, const FieldFormat &field, QStringView digits)
{
    Q_ASSERT(field.width > 0);
    qsizetype first = 0;
    qsizetype last = digits.size();
    while (first < last && digits[first] == u' ')
        ++first;
    while (last > first && digits[last - 1] == u' ')
        --last;
    const qsizetype length = last - first;
    for (qsizetype i = first; i < last; ++i) {
        if (digits[i] < u'0' || digits[i] > u'9')
            fail(field,
                 QStringLiteral("\"%1\" não é formado só por dígitos").arg(digits.toString()));
    }
    if (length > field.width)
        fail(field, QStringLiteral("\"%1\" tem mais de %2 dígitos")
                        .arg(digits.toString())
                        .arg(field.width));
    const qsizetype fill = field.width - length;
    std::memset(out, '0', size_t(fill));
    for (qsizetype i = 0; i < length; ++i)
        out[fill + i] = char(digits[first + i].unicode());
}

void writeDate(char *out, const FieldFormat &field, QDate date)
{
    Q_ASSERT(field.width == 8);
    if (!date.isValid())
        fail(field, QStringLiteral("data ausente ou inválida"));
    int year = 0;
    int month = 0;
    int day = 0;
    date.getDate(&year, &month, &day);
    if (year < 1 || year > 9999)
        fail(field, QStringLiteral("o ano %1 não cabe em quatro dígitos").arg(year));
    putDigits(out, 4, quint64(year));
    putDigits(out + 4, 2, quint64(month));
    putDigits(out + 6, 2, quint64(day));
}

namespace {

template<typename Value>
QByteArray formatField(void (*writer)(char *, const FieldFormat &, Value), const FieldFormat &field,
                       Value value)
{
    QByteArray bytes(field.width, Qt::Uninitialized);
    writer(bytes.data(), field, value);
    return bytes;
}

} // namespace

QByteArray formatNumber(const FieldFormat &field, qint64 value)
{
    return formatField(&writeNumber, field, value);
}

QByteArray formatAmount(const FieldFormat &field, double value)
{
    return formatField(&writeAmount, field, value);
}

QByteArray formatText(const FieldFormat &field, QStringView value)
{
    return formatField(&writeText, field, value);
}

QByteArray formatDigits(const FieldFormat &field, QStringView digits)
{
    return formatField(&writeDigits, field, digits);
}

QByteArray formatDate(const FieldFormat &field, QDate date)
{
    return formatField(&writeDate, field, date);
}

} // namespace fis
