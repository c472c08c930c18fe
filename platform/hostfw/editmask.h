#pragma once

// `FormatMaskText` keeps the name under which the screen modules call it; everything else
// follows the Qt naming of the project.

#include <QChar>
#include <QString>

#include <vector>

namespace fis {

// An edit mask written "pattern;keep;blank", as the forms give them ("99.999.999/9999-99;0; ").
//
// Pattern: `9` optional digit, `0` required digit, `a`/`A` optional/required letter or digit,
// `l`/`L` optional/required letter, `>` upper-cases what follows, `<` lower-cases it, `<>` ends
// the case conversion, `\` makes the next character a literal; any other character is a
// literal. Keep "0": the text of the edit holds only what was typed, without literals; any other
// keep flag (or none): the literals are part of the text. Blank: the character shown in an
// unfilled position, "_" when not given.
//
// Positions count the characters of the display text (literals included). An empty mask edits
// free text: every function passes the text through.
class EditMask
{
public:
    EditMask() = default;
    // Parsing never fails: what is not a mask character is a literal.
    explicit EditMask(const QString &mask);

    bool isEmpty() const { return m_positions.empty(); }
    QString mask() const { return m_mask; }
    bool keepsLiterals() const { return m_keepLiterals; }
    QChar blank() const { return m_blank; }

    int length() const { return int(m_positions.size()); } // of the display text
    int editPositionCount() const;       // the most characters a value without literals holds
    bool isLiteral(int position) const;  // false outside the mask
    QChar literalAt(int position) const; // a null QChar unless a literal
    bool isRequired(int position) const;

    // Whether a typed character may stand at an edit position (never at a literal or outside).
    bool accepts(int position, QChar ch) const;
    // The character as it is stored at the position: upper- or lower-cased where the mask says.
    QChar convert(int position, QChar ch) const;

    // The display text of a value: literals in place, the value's characters laid into the edit
    // positions from the left (case-converted, not checked: stored data is shown as it is),
    // blanks where the value runs out. With keep "0" the value has no literals; otherwise it is
    // read position by position, its characters at literal positions ignored. Characters beyond
    // the mask are dropped.
    QString displayText(const QString &value) const;

    // The text an edit yields for a display text: with keep "0" the characters of the edit
    // positions without the blanks; otherwise the display text with blanks turned into spaces
    // and trailing spaces removed.
    QString value(const QString &displayText) const;

    // Whether every required position of a display text holds an accepted character.
    bool isComplete(const QString &displayText) const;

    // The same mask in QLineEdit::setInputMask() notation, whose letters mean other things
    // (Qt's `9` is a required digit). Empty for an empty mask.
    QString toQtInputMask() const;

private:
    enum class Kind { Literal, Digit, Letter, LetterOrDigit };
    enum class Case { Keep, Upper, Lower };
    struct Position
    {
        Kind kind = Kind::Literal;
        bool required = false;
        Case letterCase = Case::Keep;
        QChar literal;
    };

    const Position *at(int position) const;

    QString m_mask;
    std::vector<Position> m_positions;
    bool m_keepLiterals = true;
    QChar m_blank = u'_';
};

// The value laid into the mask with its literals (the display text of EditMask); an empty mask
// gives the value unchanged. FormatMaskText("99.999.999/9999-99;0; ", "12345678000195") is
// "12.345.678/0001-95".
QString FormatMaskText(const QString &mask, const QString &value);

} // namespace fis
