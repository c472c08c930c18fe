#include "hostfw/widgets/radiogroup.h"

#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionGroupBox>

#include <algorithm>

namespace fis {

namespace {

// The buttons' distance from the group's left edge.
constexpr int kInset = 3;

} // namespace

QRect groupBoxTitleRect(const QGroupBox *box)
{
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = box->title();
    option.lineWidth = 1;
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    option.textAlignment = box->alignment();
    return box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel,
                                        box);
}

TRadioGroup::TRadioGroup(const QString &title, QWidget *parent)
    : QGroupBox(title, parent)
{}

QStringList TRadioGroup::Items() const
{
    QStringList items;
    for (const QRadioButton *button : m_buttons)
        items.append(button->text());
    return items;
}

void TRadioGroup::setItems(const QStringList &items)
{
    qDeleteAll(m_buttons);
    m_buttons.clear();
    for (const QString &item : items) {
        auto *button = new QRadioButton(item, this);
        const int index = int(m_buttons.size());
        connect(button, &QRadioButton::clicked, this, [this, index] { emit clicked(index); });
        m_buttons.append(button);
        button->show();
    }
    placeButtons();
}

int TRadioGroup::ItemIndex() const
{
    for (int i = 0; i < m_buttons.size(); ++i) {
        if (m_buttons.at(i)->isChecked())
            return i;
    }
    return -1;
}

void TRadioGroup::setItemIndex(int index)
{
    if (index >= 0 && index < m_buttons.size()) {
        m_buttons.at(index)->setChecked(true);
        return;
    }
    // Auto-exclusive buttons refuse to uncheck the last checked one.
    for (QRadioButton *button : std::as_const(m_buttons)) {
        button->setAutoExclusive(false);
        button->setChecked(false);
        button->setAutoExclusive(true);
    }
}

QRadioButton *TRadioGroup::button(int index) const
{
    return m_buttons.value(index);
}

void TRadioGroup::resizeEvent(QResizeEvent *event)
{
    QGroupBox::resizeEvent(event);
    placeButtons();
}

int TRadioGroup::neededWidth() const
{
    int width = groupBoxTitleRect(this).right() + 2;
    for (const QRadioButton *button : m_buttons)
        width = std::max(width, kInset + button->sizeHint().width() + 2);
    return width;
}

void TRadioGroup::placeButtons()
{
    if (m_buttons.isEmpty())
        return;
    // Evenly spread below the caption, as the classic radio group does; the caption is as tall
    // as the style draws it, which grows with the font.
    const int top = std::max(fontMetrics().height(), groupBoxTitleRect(this).bottom() + 1);
    const int step = qMax(1, (height() - top - 2) / int(m_buttons.size()));
    for (int i = 0; i < m_buttons.size(); ++i)
        m_buttons.at(i)->setGeometry(kInset, top + i * step, width() - kInset - 2, qMin(step, 20));
}

} // namespace fis
