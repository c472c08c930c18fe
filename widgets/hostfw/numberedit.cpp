#include "hostfw/widgets/numberedit.h"

#include <QKeyEvent>

#include <cmath>

namespace fis {

TNumberEdit::TNumberEdit(QWidget *parent)
    : QLineEdit(parent)
{
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(this, &QLineEdit::textChanged, this, &TNumberEdit::changed);
}

bool TNumberEdit::isEmpty() const
{
    for (const QChar ch : QLineEdit::text()) {
        if (ch.isDigit())
            return false;
    }
    return true;
}

double TNumberEdit::GetNumber() const
{
    const QLocale locale;
    const QString decimal = locale.decimalPoint();
    QString plain;
    const QString shown = QLineEdit::text();
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const QChar ch = shown.at(i);
        if (ch.isDigit())
            plain += QChar(u'0' + ch.digitValue());
        else if (ch == u'-' && plain.isEmpty())
            plain += u'-';
        else if (shown.mid(i, decimal.size()) == decimal && !plain.contains(u'.'))
            plain += u'.';
    }
    bool ok = false;
    const double value = plain.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

QString TNumberEdit::formatted(double value) const
{
    QLocale locale;
    if (!m_thousands)
        locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QString text = locale.toString(value, 'f', m_decimals);
    if (m_currency)
        text = locale.currencySymbol() + u' ' + text;
    return text;
}

void TNumberEdit::SetNumber(double value)
{
    setText(formatted(value));
}

void TNumberEdit::setDecimals(int decimals)
{
    m_decimals = qMax(0, decimals);
    reformat();
}

void TNumberEdit::setThousandsSeparator(bool on)
{
    m_thousands = on;
    reformat();
}

void TNumberEdit::setCurrency(bool on)
{
    m_currency = on;
    reformat();
}

void TNumberEdit::reformat()
{
    if (!isEmpty())
        setText(formatted(GetNumber()));
}

void TNumberEdit::keyPressEvent(QKeyEvent *event)
{
    const QString typed = event->text();
    if (typed.size() != 1 || !typed.at(0).isPrint() ||
        (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (isReadOnly())
        return;
    const QChar ch = typed.at(0);
    const QString decimal = QLocale().decimalPoint();
    QString rest = QLineEdit::text();
    if (hasSelectedText())
        rest.remove(selectionStart(), selectedText().size());
    if (ch.isDigit()) {
        insert(typed);
    } else if ((ch == u'.' || ch == u',' || typed == decimal) && m_decimals > 0 &&
               !rest.contains(decimal)) {
        insert(decimal);
    } else if (ch == u'-' && !rest.contains(u'-') &&
               (hasSelectedText() ? selectionStart() : cursorPosition()) == 0) {
        insert(typed);
    }
    // Anything else is refused.
}

void TNumberEdit::focusOutEvent(QFocusEvent *event)
{
    reformat();
    QLineEdit::focusOutEvent(event);
}

} // namespace fis
