#include "taxid.h"

#include <algorithm>

namespace fis::taxid {
namespace {

bool allDigits(QStringView s)
{
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Modulo 11 over the digits with the given weights, left to right: a remainder below 2 gives 0.
QChar checkDigit(QStringView digits, const int *weights)
{
    int sum = 0;
    for (qsizetype i = 0; i < digits.size(); ++i)
        sum += (digits[i].unicode() - u'0') * weights[i];
    const int rest = sum % 11;
    return QChar(u'0' + (rest < 2 ? 0 : 11 - rest));
}

} // namespace

QString cnpjCheckDigits(QStringView base)
{
    if (base.size() != 12 || !allDigits(base))
        return {};
    static const int w1[] = {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
    static const int w2[] = {6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
    const QChar d1 = checkDigit(base, w1);
    const QString first13 = base.toString() + d1;
    return QString(d1) + checkDigit(first13, w2);
}

QString cpfCheckDigits(QStringView base)
{
    if (base.size() != 9 || !allDigits(base))
        return {};
    static const int w1[] = {10, 9, 8, 7, 6, 5, 4, 3, 2};
    static const int w2[] = {11, 10, 9, 8, 7, 6, 5, 4, 3, 2};
    const QChar d1 = checkDigit(base, w1);
    const QString first10 = base.toString() + d1;
    return QString(d1) + checkDigit(first10, w2);
}

bool isValidCnpj(QStringView number)
{
    return number.size() == 14 && allDigits(number) &&
           cnpjCheckDigits(number.first(12)) == number.sliced(12);
}

bool isValidCpf(QStringView number)
{
    if (number.size() != 11 || !allDigits(number))
        return false;
    if (std::all_of(number.begin(), number.end(), [&](QChar c) { return c == number[0]; }))
        return false;
    return cpfCheckDigits(number.first(9)) == number.sliced(9);
}

} // namespace fis::taxid
