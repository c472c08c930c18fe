#pragma once

// `TRadioGroup`, `Items` and `ItemIndex` keep the names under which the screen modules use the
// host's radio group; everything else follows the Qt naming of the project.

#include <QGroupBox>
#include <QList>
#include <QStringList>

class QRadioButton;

namespace fis {

// Where a group box draws its title, in its own coordinates, as its style lays it out.
QRect groupBoxTitleRect(const QGroupBox *box);

// A framed group of exclusive choices, one radio button per item, stacked from the top. The
// chosen item is read and set by its index; -1 means none.
class TRadioGroup : public QGroupBox
{
    Q_OBJECT
public:
    explicit TRadioGroup(const QString &title, QWidget *parent = nullptr);

    QStringList Items() const;
    // Replaces the buttons; no item is chosen afterwards.
    void setItems(const QStringList &items);

    int ItemIndex() const;
    void setItemIndex(int index);

    QRadioButton *button(int index) const;
    // How wide the group must be to show its title and every item whole.
    int neededWidth() const;

signals:
    // The user chose an item (click or arrow keys), as the group's OnClick.
    void clicked(int index);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeButtons();

    QList<QRadioButton *> m_buttons;
};

} // namespace fis
