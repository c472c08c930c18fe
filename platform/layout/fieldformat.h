#pragma once

#include <QByteArray>
#include <QDate>
#include <QStringView>

namespace fis {

// One field of a fixed-width record: its width and format, and the names that an error message
// points at.
struct FieldFormat
{
    const char *record = ""; // record type, e.g. "50"
    const char *name = "";   // field name as the layout gives it (UTF-8)
    int width = 0;           // 1 to 18 for numbers
    int decimals = 0;        // implied decimals of an amount
    bool cut = false;        // a text longer than the field is cut instead of rejected
};

// The writers put exactly field.width characters at out, which must have room for them. On error
// they throw LayoutError and what they left at out is undefined.

// Numeric field (N): right-aligned, zero-filled. Throws when value is negative or has more digits
// than the field.
void writeNumber(char *out, const FieldFormat &field, qint64 value);

// Numeric field with field.decimals implied decimals: value x 10^decimals rounded half away from
// zero, taking the value as its shortest decimal form (1.005 counts as 1.005, not as the binary
// 1.00499...). Throws when the value is negative, not finite, or too long once scaled.
void writeAmount(char *out, const FieldFormat &field, double value);

// Text field (X): left-aligned, blank-filled, upper case ASCII. Accents are removed (letters
// with a canonical decomposition keep their base letter, detached combining accents are dropped);
// any other non-ASCII or control character becomes one blank. Trailing blanks do not count
// towards the length. Throws when the text is longer than the field, unless field.cut is set, in
// which case it is cut at the width.
void writeText(char *out, const FieldFormat &field, QStringView value);

// A number kept as text (CNPJ, CPF, CEP, telephone): surrounding blanks are ignored, the rest must
// be digits, zero-filled on the left; an empty value gives zeros. Throws on any other character
// or when there are more digits than the field.
void writeDigits(char *out, const FieldFormat &field, QStringView digits);

// Date as AAAAMMDD in an 8-character field. Throws when the date is null or invalid.
void writeDate(char *out, const FieldFormat &field, QDate date);

// The same as the writers, returning the field alone; they throw LayoutError alike.
QByteArray formatNumber(const FieldFormat &field, qint64 value);
QByteArray formatAmount(const FieldFormat &field, double value);
QByteArray formatText(const FieldFormat &field, QStringView value);
QByteArray formatDigits(const FieldFormat &field, QStringView digits);
QByteArray formatDate(const FieldFormat &field, QDate date);

} // namespace fis
