#pragma once

// `TNumberEdit` and `GetNumber` keep the names under which the screen modules use the host's
// numeric edit; everything else follows the Qt naming of the project.

#include <QLineEdit>
#include <QLocale>

namespace fis {

// A box for a number: digits, one decimal separator ("." and "," both give the locale's), a
// leading minus. Leaving the box shows the number with its decimals, the thousands separators
// and the currency symbol as set; an empty box stays empty and counts as 0. Separators follow the
// default QLocale.
class TNumberEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit TNumberEdit(QWidget *parent = nullptr);

    double GetNumber() const; // 0 when empty
    void SetNumber(double value);
    bool isEmpty() const;
    void clear() { QLineEdit::clear(); }

    int decimals() const { return m_decimals; }
    void setDecimals(int decimals);
    bool thousandsSeparator() const { return m_thousands; }
    void setThousandsSeparator(bool on);
    bool isCurrency() const { return m_currency; }
    void setCurrency(bool on);

    // The number as the box shows it once left.
    QString formatted(double value) const;

signals:
    void changed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void reformat();

    int m_decimals = 2;
    bool m_thousands = true;
    bool m_currency = false;
};

} // namespace fis
