#pragma once

// `TDateEditPlus`, `GetDate`, `SetDate`, `CheckValidDate` and `ValidDateColor` keep the names
// under which the screen modules use the host's date edit; everything else follows the Qt naming
// of the project.

#include "hostfw/widgets/maskedit.h"

#include <QColor>
#include <QDate>
#include <QStringList>

class QCalendarWidget;

namespace fis {

// A date box "dd/mm/yyyy" that may be empty, with a calendar drop-down (the button at its right,
// F4 or Alt+Down) and the weekday name of the date shown beside it.
//
// Typing goes through the mask "99/99/9999"; a year may be typed with two digits (00-49 give
// 20xx, 50-99 19xx). A complete, possible date is drawn in ValidDateColor.
class TDateEditPlus : public MaskEdit
{
    Q_OBJECT
public:
    explicit TDateEditPlus(QWidget *parent = nullptr);

    // The date shown; a null QDate when the box is empty or holds no possible date.
    QDate GetDate() const;
    // A null date empties the box.
    void SetDate(const QDate &date);

    // Empty when nothing is typed, else the text as shown ("05/03/2024", "05/03/    ").
    QString text() const;
    // "dd/mm/yyyy", "ddmmyyyy" or empty.
    void setText(const QString &text);

    // For an exit handler or a check: an empty box passes; a complete, possible date passes
    // and is rewritten with four year digits; anything else (an incomplete or impossible date)
    // puts the focus into the box and ends the action with the message "Data inválida.".
    void CheckValidDate();
    bool isDateValid() const { return GetDate().isValid(); }

    // Seven names, Sunday first ("Domingo", "Segunda", ...). Empty: no name is shown.
    QStringList weekDayNames() const { return m_weekDayNames; }
    void setWeekDayNames(const QStringList &names);
    // The name of the weekday of the date shown, empty when none.
    QString weekDayName() const;

    // Where the box draws: the calendar button at the right, the weekday left of it (room for
    // the widest name) and the date's text left of that; in the box's coordinates.
    QRect calendarButtonGeometry() const;
    QRect weekDayArea() const;
    QRect textArea() const;
    int widestWeekDayWidth() const;
    // How wide the box must be to show a whole date and the widest weekday beside it.
    int widthForDate() const;

    QColor ValidDateColor() const { return m_validDateColor; }
    void setValidDateColor(const QColor &color);

    void showCalendar();
    // The drop-down while it exists (created at its first showing).
    QCalendarWidget *calendar() const { return m_calendar; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void updateLook();
    void calendarPicked(const QDate &date);
    void changeEvent(QEvent *event) override;
    void measureWeekDays();

    QStringList m_weekDayNames;
    QColor m_validDateColor;
    QCalendarWidget *m_calendar = nullptr;
    int m_weekDayWidth = 0;
};

} // namespace fis
