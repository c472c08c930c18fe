#include "firebirdvalues.h"

#include <QDate>
#include <QLocale>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace fis::firebird {

namespace {

// The Julian day number of Firebird's day 0, 1858-11-17.
constexpr qint64 kJulianDayOfDateZero = 2400001;
constexpr ISC_TIME kTimeUnitsPerSecond = 10000;

size_t aligned(size_t offset, size_t alignment)
{
    return (offset + alignment - 1) / alignment * alignment;
}

double powerOfTen(int exponent)
{
    double result = 1;
    for (int i = 0; i < exponent; ++i)
        result *= 10;
    return result;
}

qint64 truncated(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 9.2233720368547758e18)
        return std::numeric_limits<qint64>::max();
    if (value <= -9.2233720368547758e18)
        return std::numeric_limits<qint64>::min();
    return qint64(value);
}

// The number a text starts with, as SQLite reads one ("12.5 kg" is 12.5, "abc" is 0).
QByteArrayView leadingNumber(QByteArrayView text, bool *isInteger)
{
    qsizetype begin = 0;
    while (begin < text.size() && text[begin] == ' ')
        ++begin;
    qsizetype end = begin;
    auto digits = [&] {
        while (end < text.size() && text[end] >= '0' && text[end] <= '9')
            ++end;
    };
    if (end < text.size() && (text[end] == '-' || text[end] == '+'))
        ++end;
    digits();
    *isInteger = true;
    if (end < text.size() && text[end] == '.') {
        *isInteger = false;
        ++end;
        digits();
    }
    if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
        const qsizetype mark = end++;
        if (end < text.size() && (text[end] == '-' || text[end] == '+'))
            ++end;
        const qsizetype before = end;
        digits();
        if (end == before)
            end = mark;
        else
            *isInteger = false;
    }
    return text.sliced(begin, end - begin);
}

qint64 integerOfText(QByteArrayView text)
{
    bool isInteger = false;
    const QByteArrayView number = leadingNumber(text, &isInteger);
    bool ok = false;
    if (isInteger) {
        const qint64 value = number.toLongLong(&ok);
        if (ok)
            return value;
    }
    return truncated(number.toDouble(&ok));
}

double realOfText(QByteArrayView text)
{
    bool isInteger = false;
    bool ok = false;
    const double value = leadingNumber(text, &isInteger).toDouble(&ok);
    return ok ? value : 0.0;
}

// The bytes of the first `characters` characters of a UTF-8 text.
qsizetype utf8Prefix(const char *data, qsizetype size, qsizetype characters)
{
    qsizetype i = 0;
    while (i < size && characters > 0) {
        ++i;
        while (i < size && (static_cast<unsigned char>(data[i]) & 0xc0) == 0x80)
            ++i;
        --characters;
    }
    return i;
}

qint64 scaledInteger(const XSQLVAR &var)
{
    switch (var.sqltype & ~1) {
    case SQL_SHORT:
        return *reinterpret_cast<const ISC_SHORT *>(var.sqldata);
    case SQL_LONG:
        return *reinterpret_cast<const ISC_LONG *>(var.sqldata);
    default:
        return *reinterpret_cast<const ISC_INT64 *>(var.sqldata);
    }
}

// The buffer bytes a column takes, for the types Firebird 3 sends.
size_t bufferSize(const XSQLVAR &var)
{
    switch (var.sqltype & ~1) {
    case SQL_VARYING:
        return size_t(var.sqllen) + 2;
    case SQL_NULL:
        return 0;
    default:
        return size_t(var.sqllen);
    }
}

// The plain decimal form of value * 10^scale (scale <= 0).
QByteArray formatScaled(qint64 value, int scale)
{
    if (scale >= 0)
        return QByteArray::number(value) + QByteArray(scale, '0');
    const bool negative = value < 0;
    // The magnitude as unsigned, so that the lowest BIGINT has one too.
    const quint64 magnitude = negative ? 0 - quint64(value) : quint64(value);
    QByteArray digits = QByteArray::number(magnitude);
    const int decimals = -scale;
    if (digits.size() <= decimals)
        digits.prepend(QByteArray(decimals - digits.size() + 1, '0'));
    digits.insert(digits.size() - decimals, '.');
    return negative ? '-' + digits : digits;
}

// A Firebird date (days from 1858-11-17) as 'YYYY-MM-DD'.
QByteArray formatDate(ISC_DATE date)
{
    const QDate day = QDate::fromJulianDay(qint64(date) + kJulianDayOfDateZero);
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", day.year(), day.month(), day.day());
    return QByteArray(text);
}

// A time of day (1/10000 s) as 'HH:MM:SS', with a fraction only when there is one.
QByteArray formatTime(ISC_TIME time)
{
    const ISC_TIME seconds = time / kTimeUnitsPerSecond;
    const ISC_TIME fraction = time % kTimeUnitsPerSecond;
    char text[24];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    QByteArray result(text);
    if (fraction) {
        std::snprintf(text, sizeof text, ".%04u", fraction);
        result += text;
        while (result.endsWith('0'))
            result.chop(1);
    }
    return result;
}

} // namespace

Parameters::Parameters(const QList<int> &numbers, int highestNumber, const Sqlda &described)
    : m_numbers(numbers)
    , m_values(size_t(highestNumber))
    , m_area(int(numbers.size()))
    , m_nulls(size_t(numbers.size()))
    , m_starts(size_t(numbers.size()))
{
    for (int i = 0; i < int(numbers.size()); ++i)
        m_described.push_back(described[i]);
}

Parameters::Value &Parameters::at(int number)
{
    if (number < 1 || number > int(m_values.size()))
        throw DatabaseError(QStringLiteral("O comando não tem o parâmetro %1 (tem de 1 a %2).")
                                .arg(number)
                                .arg(m_values.size()));
    return m_values[size_t(number - 1)];
}

void Parameters::bindText(int number, QByteArrayView utf8, bool copy)
{
    if (utf8.size() > kMaxVaryingBytes)
        throw DatabaseError(QStringLiteral("O texto do parâmetro %1 tem %2 bytes; o Firebird "
                                           "aceita até %3 bytes num parâmetro.")
                                .arg(number)
                                .arg(utf8.size())
                                .arg(kMaxVaryingBytes));
    Value &value = at(number);
    value.kind = Value::Text;
    if (copy) {
        value.copy = utf8.toByteArray();
        value.text = value.copy;
    } else {
        value.copy.clear();
        value.text = utf8;
    }
}

void Parameters::bindInteger(int number, qint64 integer)
{
    Value &value = at(number);
    value.kind = Value::Integer;
    value.integer = integer;
    value.copy.clear();
}

void Parameters::bindNull(int number)
{
    Value &value = at(number);
    value.kind = Value::Null;
    value.copy.clear();
}

void Parameters::clear()
{
    for (Value &value : m_values)
        value = Value();
}

XSQLDA *Parameters::fill()
{
    if (m_numbers.isEmpty())
        return nullptr;
    const int count = int(m_numbers.size());
    size_t end = 0;
    for (int i = 0; i < count; ++i) {
        m_starts[size_t(i)] = typeValue(i, m_values[size_t(m_numbers[i] - 1)], end);
        end = m_starts[size_t(i)] + bufferSize(m_area[i]);
    }
    m_data.assign(end / sizeof(double) + 1, 0.0);
    char *base = reinterpret_cast<char *>(m_data.data());
    for (int i = 0; i < count; ++i) {
        XSQLVAR &var = m_area[i];
        const Value &value = m_values[size_t(m_numbers[i] - 1)];
        var.sqldata = base + m_starts[size_t(i)];
        var.sqlind = &m_nulls[size_t(i)];
        m_nulls[size_t(i)] = value.kind == Value::Null ? -1 : 0;
        if (value.kind == Value::Text) {
            const auto length = quint16(value.text.size());
            std::memcpy(var.sqldata, &length, sizeof length);
            if (length)
                std::memcpy(var.sqldata + 2, value.text.data(), length);
        } else if (value.kind == Value::Integer) {
            std::memcpy(var.sqldata, &value.integer, sizeof value.integer);
        }
    }
    m_area.get()->sqld = short(count);
    return m_area.get();
}

// Sets the position's type for the value; returns where the value goes, at or after `offset`.
size_t Parameters::typeValue(int position, const Value &value, size_t offset)
{
    XSQLVAR &var = m_area[position];
    const XSQLVAR &described = m_described[size_t(position)];
    var.sqlscale = 0;
    var.sqlsubtype = 0;
    if (value.kind == Value::Text) {
        var.sqltype = SQL_VARYING | 1;
        // Firebird transliterates a UTF-8 text into the parameter's own character set, but
        // not into OCTETS, which takes the bytes as they are.
        const short type = short(described.sqltype & ~1);
        const bool octets = (type == SQL_TEXT || type == SQL_VARYING) &&
                            (described.sqlsubtype & 0xff) == kCharsetOctets;
        var.sqlsubtype = octets ? kCharsetOctets : kCharsetUtf8;
        var.sqllen = short(value.text.size());
        return aligned(offset, 2);
    }
    if (value.kind == Value::Integer) {
        var.sqltype = SQL_INT64 | 1;
        var.sqllen = sizeof(ISC_INT64);
        return aligned(offset, 8);
    }
    // A null keeps the described type, with the null flag.
    var.sqltype = short(described.sqltype | 1);
    var.sqllen = described.sqllen;
    var.sqlscale = described.sqlscale;
    var.sqlsubtype = described.sqlsubtype;
    return aligned(offset, 8);
}

void ResultRow::allocate(Sqlda &area)
{
    const int count = area.described();
    m_columns.assign(size_t(count), Column());
    m_texts.assign(size_t(count), QByteArray());
    m_haveText.assign(size_t(count), false);
    size_t size = 0;
    std::vector<size_t> offsets;
    for (int i = 0; i < count; ++i) {
        size = aligned(size, 8);
        offsets.push_back(size);
        size += bufferSize(area[i]);
    }
    m_data.assign(size / sizeof(double) + 1, 0.0);
    for (int i = 0; i < count; ++i) {
        XSQLVAR &var = area[i];
        var.sqltype |= 1; // a null indicator for every column
        var.sqldata = reinterpret_cast<char *>(m_data.data()) + offsets[size_t(i)];
        var.sqlind = &m_columns[size_t(i)].indicator;
        m_columns[size_t(i)].var = &var;
    }
}

void ResultRow::invalidate()
{
    std::fill(m_haveText.begin(), m_haveText.end(), false);
}

const XSQLVAR &ResultRow::var(int column) const
{
    if (column < 0 || column >= count())
        throw DatabaseError(
            QStringLiteral("O resultado não tem a coluna %1 (tem %2).").arg(column).arg(count()));
    return *m_columns[size_t(column)].var;
}

bool ResultRow::isNull(int column) const
{
    const XSQLVAR &v = var(column);
    return *v.sqlind < 0 || (v.sqltype & ~1) == SQL_NULL;
}

QByteArrayView ResultRow::utf8(int column) const
{
    if (isNull(column))
        return {};
    const XSQLVAR &v = var(column);
    switch (v.sqltype & ~1) {
    case SQL_TEXT: {
        // Firebird pads a CHAR to its length in bytes; as stored it holds its length in
        // characters, the rest being more padding.
        const int characters = v.sqllen / bytesPerCharacter(v.sqlsubtype);
        return QByteArrayView(v.sqldata, utf8Prefix(v.sqldata, v.sqllen, characters));
    }
    case SQL_VARYING: {
        quint16 length = 0;
        std::memcpy(&length, v.sqldata, sizeof length);
        return QByteArrayView(v.sqldata + 2, length);
    }
    default:
        return formatted(column, v);
    }
}

QByteArrayView ResultRow::formatted(int column, const XSQLVAR &v) const
{
    if (!m_haveText[size_t(column)]) {
        m_texts[size_t(column)] = format(v);
        m_haveText[size_t(column)] = true;
    }
    return m_texts[size_t(column)];
}

QByteArray ResultRow::format(const XSQLVAR &v) const
{
    switch (v.sqltype & ~1) {
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
        return formatScaled(scaledInteger(v), v.sqlscale);
    case SQL_FLOAT:
        return QByteArray::number(double(*reinterpret_cast<const float *>(v.sqldata)), 'g',
                                  QLocale::FloatingPointShortest);
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return QByteArray::number(*reinterpret_cast<const double *>(v.sqldata), 'g',
                                  QLocale::FloatingPointShortest);
    case SQL_TYPE_DATE:
        return formatDate(*reinterpret_cast<const ISC_DATE *>(v.sqldata));
    case SQL_TYPE_TIME:
        return formatTime(*reinterpret_cast<const ISC_TIME *>(v.sqldata));
    case SQL_TIMESTAMP: {
        const auto *stamp = reinterpret_cast<const ISC_TIMESTAMP *>(v.sqldata);
        return formatDate(stamp->timestamp_date) + ' ' + formatTime(stamp->timestamp_time);
    }
    case SQL_BOOLEAN:
        return *v.sqldata ? QByteArrayLiteral("1") : QByteArrayLiteral("0");
    default:
        throw DatabaseError(QStringLiteral("A coluna %1 tem um tipo do Firebird (%2) que esta "
                                           "conexão não lê (BLOB ou ARRAY).")
                                .arg(QString::fromUtf8(v.aliasname, v.aliasname_length))
                                .arg(v.sqltype & ~1));
    }
}

qint64 ResultRow::integer(int column) const
{
    if (isNull(column))
        return 0;
    const XSQLVAR &v = var(column);
    switch (v.sqltype & ~1) {
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64: {
        const qint64 raw = scaledInteger(v);
        qint64 divisor = 1;
        for (int i = 0; i < -v.sqlscale; ++i)
            divisor *= 10;
        return raw / divisor; // toward zero, as SQLite truncates a REAL
    }
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return truncated(real(column));
    case SQL_BOOLEAN:
        return *v.sqldata ? 1 : 0;
    default:
        return integerOfText(utf8(column));
    }
}

double ResultRow::real(int column) const
{
    if (isNull(column))
        return 0.0;
    const XSQLVAR &v = var(column);
    switch (v.sqltype & ~1) {
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
        return double(scaledInteger(v)) / powerOfTen(-v.sqlscale);
    case SQL_FLOAT:
        return double(*reinterpret_cast<const float *>(v.sqldata));
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return *reinterpret_cast<const double *>(v.sqldata);
    case SQL_BOOLEAN:
        return *v.sqldata ? 1.0 : 0.0;
    default:
        return realOfText(utf8(column));
    }
}

} // namespace fis::firebird
