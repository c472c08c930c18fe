#pragma once

#include <QString>
#include <QStringView>

// Brazilian taxpayer numbers: CNPJ (companies, 14 digits) and CPF (persons, 11 digits), each
// ending in two modulo-11 check digits.
namespace fis::taxid {

// The two check digits for the first 12 digits of a CNPJ; an empty string when base is not
// exactly 12 digits.
QString cnpjCheckDigits(QStringView base);

// The two check digits for the first 9 digits of a CPF; empty when base is not exactly 9 digits.
QString cpfCheckDigits(QStringView base);

// True for 14 digits whose last two are the check digits of the first 12. Formatting characters
// are not accepted: numbers are stored as digits only.
bool isValidCnpj(QStringView number);

// True for 11 digits whose last two are the check digits of the first 9, except the eleven
// repetitions of one digit ("00000000000" ...), which pass the arithmetic but are never issued.
bool isValidCpf(QStringView number);

} // namespace fis::taxid
