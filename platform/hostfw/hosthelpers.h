#pragma once

// `EmptyString`, `Ajusta`, `Ajusta_Inscricao` and `PictPess` keep the names under which the
// screen modules call them; everything else follows the Qt naming of the project.
// `FormatMaskText` lives with the edit masks in hostfw/editmask.h.

#include "hostfw/editmask.h"

#include <QString>

namespace fis {

// True when the text is empty or holds only blanks (spaces, tabs, line breaks, other control
// characters).
bool EmptyString(const QString &text);

// The text fitted to a width: a shorter text is left-padded with "0" ("1" → "0001" for width 4,
// "A1" → "00A1"); a text at or over the width, and any text for a width of 0 or less, comes back
// unchanged, so nothing typed is ever cut off. An empty text becomes all zeros; callers test
// EmptyString first where an empty value means "none".
QString Ajusta(const QString &text, int width);

// The person-type code of a registration number: "J" (company, CNPJ) for exactly 14 digits,
// "F" (person, CPF) for exactly 11 digits, "O" (other) for anything else. The mask literals
// ". / -" and blanks are not counted, so a number typed with or without its mask gives the same
// code. For "J" and "F" the text is rewritten to its bare digits, the form in which numbers are
// stored; for "O" it is left as it is.
QString Ajusta_Inscricao(QString &text);

// The edit mask of a person type: "J" → "99.999.999/9999-99;0; ", "F" → "999.999.999-99;0; ",
// anything else → "" (free text). The code is compared without case and surrounding blanks.
QString PictPess(const QString &code);

} // namespace fis
