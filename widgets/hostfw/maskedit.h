#pragma once

#include "hostfw/editmask.h"

#include <QLineEdit>

namespace fis {

// A line edit with an edit mask written as the forms give it ("99;0; ", ">aaaa;0; ",
// "99.999.999/9999-99;0; ", "" for none; see EditMask for the letters). Qt's own input masks are
// not used: their letters mean other things.
//
// With a mask the edit always shows the whole mask (literals, typed characters, blanks).
// Typing overwrites the next position that may hold the character and skips the literals; a
// character no position at or after the cursor accepts is refused; Backspace and Delete blank a
// position. text() is the value the forms and their queries compare: without literals (keep
// "0") and without blanks. setText() lays a value into the mask.
//
// text(), setText(), clear(), maxLength() and setMaxLength() hide QLineEdit's: use the edit
// through a MaskEdit pointer. A text set through a QLineEdit pointer is laid into the mask too.
class MaskEdit : public QLineEdit
{
    Q_OBJECT
public:
    enum class CharCase { Normal, Upper, Lower };

    explicit MaskEdit(QWidget *parent = nullptr);
    explicit MaskEdit(const QString &editMask, QWidget *parent = nullptr);

    QString editMask() const { return m_mask.mask(); }
    // Changes the mask keeping the value; a value longer than the new mask allows is cut.
    void setEditMask(const QString &editMask);
    const EditMask &mask() const { return m_mask; }

    QString text() const;
    void setText(const QString &value);
    void clear() { setText(QString()); }
    // Whether every required position of the mask is filled (always true without a mask).
    bool isComplete() const;

    // The most characters typed without a mask; with one, the mask decides.
    int maxLength() const { return m_maxLength; }
    void setMaxLength(int length);

    // Case of everything typed or set (the role of CharCase); a mask's ">" applies as well.
    CharCase charCase() const { return m_charCase; }
    void setCharCase(CharCase charCase);

signals:
    // The shown text changed, by typing or by the program (the forms' OnChange).
    void changed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void displayChanged(const QString &display);
    void applyDisplay(const QString &display, int cursor);
    QString currentDisplay() const;
    QString convertCase(const QString &text) const;
    int nextEditPosition(int from) const;     // -1 when none
    int previousEditPosition(int from) const; // the last one before `from`, -1 when none
    void blankSelection(QString &display) const;
    void typeText(const QString &text);
    void erase(bool backward);

    EditMask m_mask;
    int m_maxLength = 32767;
    CharCase m_charCase = CharCase::Normal;
    bool m_applying = false;
};

} // namespace fis
