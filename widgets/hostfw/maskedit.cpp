#include "hostfw/widgets/maskedit.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>

namespace fis {

MaskEdit::MaskEdit(QWidget *parent)
    : MaskEdit(QString(), parent)
{}

MaskEdit::MaskEdit(const QString &editMask, QWidget *parent)
    : QLineEdit(parent)
{
    connect(this, &QLineEdit::textChanged, this, &MaskEdit::displayChanged);
    setEditMask(editMask);
}

void MaskEdit::setEditMask(const QString &editMask)
{
    const QString value = text();
    m_mask = EditMask(editMask);
    QLineEdit::setMaxLength(m_mask.isEmpty() ? m_maxLength : m_mask.length());
    // Dropped text would go in past the mask's keystroke handling.
    setAcceptDrops(m_mask.isEmpty());
    setText(value);
}

QString MaskEdit::text() const
{
    const QString display = QLineEdit::text();
    return m_mask.isEmpty() ? display : m_mask.value(display);
}

void MaskEdit::setText(const QString &value)
{
    const QString converted = convertCase(value);
    applyDisplay(m_mask.isEmpty() ? converted : m_mask.displayText(converted), 0);
}

bool MaskEdit::isComplete() const
{
    return m_mask.isEmpty() || m_mask.isComplete(QLineEdit::text());
}

void MaskEdit::setMaxLength(int length)
{
    m_maxLength = length;
    if (m_mask.isEmpty())
        QLineEdit::setMaxLength(length);
}

void MaskEdit::setCharCase(CharCase charCase)
{
    m_charCase = charCase;
    setText(text());
}

QString MaskEdit::convertCase(const QString &text) const
{
    switch (m_charCase) {
    case CharCase::Upper:
        return text.toUpper();
    case CharCase::Lower:
        return text.toLower();
    case CharCase::Normal:
        break;
    }
    return text;
}

QString MaskEdit::currentDisplay() const
{
    const QString display = QLineEdit::text();
    return display.size() == m_mask.length() ? display : m_mask.displayText(m_mask.value(display));
}

void MaskEdit::applyDisplay(const QString &display, int cursor)
{
    m_applying = true;
    const bool same = QLineEdit::text() == display;
    QLineEdit::setText(display);
    setCursorPosition(cursor);
    m_applying = false;
    if (!same)
        emit changed();
}

void MaskEdit::displayChanged(const QString &display)
{
    if (m_applying)
        return;
    // A change that did not come through this class (a QLineEdit pointer, an undo, a word
    // deletion): lay it into the mask again.
    bool fits = m_mask.isEmpty();
    if (!fits && display.size() == m_mask.length()) {
        fits = true;
        for (int i = 0; i < display.size() && fits; ++i)
            fits = !m_mask.isLiteral(i) || display.at(i) == m_mask.literalAt(i);
    }
    if (fits) {
        emit changed();
        return;
    }
    QString value = display;
    if (!m_mask.keepsLiterals()) {
        for (int p = 0; p < m_mask.length(); ++p) {
            if (m_mask.isLiteral(p))
                value.remove(m_mask.literalAt(p));
        }
    }
    const int cursor = cursorPosition();
    m_applying = true;
    QLineEdit::setText(m_mask.displayText(convertCase(value)));
    setCursorPosition(qMin(cursor, m_mask.length()));
    m_applying = false;
    emit changed();
}

int MaskEdit::nextEditPosition(int from) const
{
    for (int p = qMax(from, 0); p < m_mask.length(); ++p) {
        if (!m_mask.isLiteral(p))
            return p;
    }
    return -1;
}

int MaskEdit::previousEditPosition(int from) const
{
    for (int p = qMin(from, m_mask.length()) - 1; p >= 0; --p) {
        if (!m_mask.isLiteral(p))
            return p;
    }
    return -1;
}

void MaskEdit::blankSelection(QString &display) const
{
    const int start = selectionStart();
    const int end = start + int(selectedText().size());
    for (int p = start; p < end && p < display.size(); ++p) {
        if (!m_mask.isLiteral(p))
            display[p] = m_mask.blank();
    }
}

void MaskEdit::typeText(const QString &text)
{
    QString display = currentDisplay();
    int pos = cursorPosition();
    if (hasSelectedText()) {
        pos = selectionStart();
        blankSelection(display);
    }
    for (const QChar typed : convertCase(text)) {
        // A literal typed where the mask has it steps over it ("." before the dot).
        int p = pos;
        while (p < m_mask.length() && m_mask.isLiteral(p) && m_mask.literalAt(p) != typed)
            ++p;
        if (p < m_mask.length() && m_mask.isLiteral(p)) {
            pos = p + 1;
            continue;
        }
        p = nextEditPosition(pos);
        if (p < 0)
            break;
        if (!m_mask.accepts(p, typed))
            continue;
        display[p] = m_mask.convert(p, typed);
        pos = p + 1;
    }
    const int next = nextEditPosition(pos);
    applyDisplay(display, next < 0 ? m_mask.length() : next);
}

void MaskEdit::erase(bool backward)
{
    QString display = currentDisplay();
    int cursor = cursorPosition();
    if (hasSelectedText()) {
        cursor = selectionStart();
        blankSelection(display);
    } else if (backward) {
        const int p = previousEditPosition(cursor);
        if (p < 0)
            return;
        display[p] = m_mask.blank();
        cursor = p;
    } else {
        const int p = nextEditPosition(cursor);
        if (p < 0)
            return;
        display[p] = m_mask.blank();
    }
    applyDisplay(display, cursor);
}

void MaskEdit::keyPressEvent(QKeyEvent *event)
{
    const QString typed = event->text();
    const bool printable = !typed.isEmpty() && typed.at(0).isPrint() &&
                           !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    if (m_mask.isEmpty()) {
        if (printable && m_charCase != CharCase::Normal && !isReadOnly()) {
            insert(convertCase(typed));
            return;
        }
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (isReadOnly()) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        typeText(QGuiApplication::clipboard()->text());
        return;
    }
    if (event->matches(QKeySequence::Cut)) {
        copy();
        erase(false);
        return;
    }
    if (event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo))
        return; // QLineEdit's undo knows nothing of the mask
    if (event->key() == Qt::Key_Backspace) {
        erase(true);
        return;
    }
    if (event->key() == Qt::Key_Delete) {
        erase(false);
        return;
    }
    if (printable) {
        typeText(typed);
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void MaskEdit::mouseReleaseEvent(QMouseEvent *event)
{
    QLineEdit::mouseReleaseEvent(event);
    if (m_mask.isEmpty() || hasSelectedText())
        return;
    // A click in the blank tail puts the cursor where typing goes on.
    const QString display = QLineEdit::text();
    int lastFilled = -1;
    for (int p = 0; p < display.size(); ++p) {
        if (!m_mask.isLiteral(p) && display.at(p) != m_mask.blank())
            lastFilled = p;
    }
    int limit = nextEditPosition(lastFilled + 1);
    if (limit < 0)
        limit = m_mask.length();
    if (cursorPosition() > limit)
        setCursorPosition(limit);
}

} // namespace fis
