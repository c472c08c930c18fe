#include "hostfw/widgets/dateeditplus.h"

#include "hostfw/widgets/useraction.h"

#include <QAction>
#include <QCalendarWidget>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QStyleOptionFrame>
#include <QToolButton>

namespace fis {

namespace {

const QString dateMask = QStringLiteral("99/99/9999;0; ");

QIcon calendarIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QColor(64, 64, 64));
    painter.setBrush(Qt::white);
    painter.drawRect(1, 2, 13, 12);
    painter.fillRect(2, 3, 12, 3, QColor(180, 40, 40));
    for (int y = 8; y <= 12; y += 2) {
        for (int x = 3; x <= 12; x += 3)
            painter.drawPoint(x, y);
    }
    return QIcon(pixmap);
}

// Day, month and year of the shown text; blanks inside a part are ignored.
QDate parseDisplay(const QString &display)
{
    if (display.size() < 10)
        return {};
    auto digits = [&](int from, int length) {
        QString part = display.mid(from, length);
        part.remove(u' ');
        return part;
    };
    const QString day = digits(0, 2);
    const QString month = digits(3, 2);
    const QString year = digits(6, 4);
    if (day.isEmpty() || month.isEmpty() || (year.size() != 2 && year.size() != 4))
        return {};
    int y = year.toInt();
    if (year.size() == 2)
        y += y < 50 ? 2000 : 1900;
    return QDate(y, month.toInt(), day.toInt()); // invalid when impossible
}

} // namespace

TDateEditPlus::TDateEditPlus(QWidget *parent)
    : MaskEdit(dateMask, parent)
    , m_validDateColor(palette().color(QPalette::Text))
{
    QAction *drop = addAction(calendarIcon(), QLineEdit::TrailingPosition);
    drop->setToolTip(QStringLiteral("Calendário"));
    connect(drop, &QAction::triggered, this, &TDateEditPlus::showCalendar);
    connect(this, &MaskEdit::changed, this, &TDateEditPlus::updateLook);
    updateLook();
}

QDate TDateEditPlus::GetDate() const
{
    return parseDisplay(QLineEdit::text());
}

void TDateEditPlus::SetDate(const QDate &date)
{
    MaskEdit::setText(date.isValid() ? date.toString(QStringLiteral("ddMMyyyy")) : QString());
}

QString TDateEditPlus::text() const
{
    return MaskEdit::text().isEmpty() ? QString() : QLineEdit::text();
}

void TDateEditPlus::setText(const QString &text)
{
    QString digits = text;
    digits.remove(u'/');
    MaskEdit::setText(digits);
}

void TDateEditPlus::CheckValidDate()
{
    if (text().isEmpty())
        return;
    const QDate date = GetDate();
    if (!date.isValid()) {
        setFocus();
        MensErro(QStringLiteral("Data inválida."), true);
        return;
    }
    SetDate(date);
}

void TDateEditPlus::setWeekDayNames(const QStringList &names)
{
    m_weekDayNames = names;
    measureWeekDays();
}

void TDateEditPlus::measureWeekDays()
{
    m_weekDayWidth = 0;
    for (const QString &name : std::as_const(m_weekDayNames))
        m_weekDayWidth = qMax(m_weekDayWidth, fontMetrics().horizontalAdvance(name));
    if (m_weekDayWidth > 0)
        m_weekDayWidth += 6;
    // The box keeps the calendar button's room itself; the margin keeps the weekday's.
    setTextMargins(0, 0, m_weekDayWidth, 0);
    update();
}

void TDateEditPlus::changeEvent(QEvent *event)
{
    MaskEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        measureWeekDays();
}

int TDateEditPlus::widestWeekDayWidth() const
{
    return m_weekDayWidth > 0 ? m_weekDayWidth - 6 : 0;
}

QRect TDateEditPlus::calendarButtonGeometry() const
{
    for (const QToolButton *button : findChildren<QToolButton *>())
        if (button->isVisible())
            return button->geometry();
    return QRect(width(), 0, 0, height());
}

int TDateEditPlus::widthForDate() const
{
    // The button's room from the right edge: as laid out once shown, else as the line edit lays
    // out a side button (its small icon with some margin).
    const QRect button = calendarButtonGeometry();
    const int buttonRoom = button.width() > 0 ? width() - button.left()
                                              : style()->pixelMetric(QStyle::PM_SmallIconSize) + 10;
    return textArea().left() + fontMetrics().horizontalAdvance(QStringLiteral("00/00/0000")) + 1 +
           m_weekDayWidth + 2 + buttonRoom;
}

QRect TDateEditPlus::weekDayArea() const
{
    const int right = calendarButtonGeometry().left() - 2;
    return QRect(right - m_weekDayWidth + 1, 0, m_weekDayWidth, height());
}

QRect TDateEditPlus::textArea() const
{
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    // The text starts after the frame and the edit's own small margin.
    const int left = contents.left() + 2;
    return QRect(left, 0, std::max(0, weekDayArea().left() - left), height());
}

QString TDateEditPlus::weekDayName() const
{
    const QDate date = GetDate();
    if (!date.isValid() || m_weekDayNames.size() != 7)
        return {};
    return m_weekDayNames.at(date.dayOfWeek() % 7); // Qt counts Monday 1 .. Sunday 7
}

void TDateEditPlus::setValidDateColor(const QColor &color)
{
    m_validDateColor = color;
    updateLook();
}

void TDateEditPlus::updateLook()
{
    QPalette look = palette();
    const QColor normal = QPalette().color(QPalette::Text);
    look.setColor(QPalette::Text, isDateValid() ? m_validDateColor : normal);
    setPalette(look);
    update();
}

void TDateEditPlus::showCalendar()
{
    if (!m_calendar) {
        m_calendar = new QCalendarWidget(this);
        m_calendar->setWindowFlags(Qt::Popup);
        m_calendar->setObjectName(QStringLiteral("calendar"));
        connect(m_calendar, &QCalendarWidget::activated, this, &TDateEditPlus::calendarPicked);
        connect(m_calendar, &QCalendarWidget::clicked, this, &TDateEditPlus::calendarPicked);
    }
    const QDate date = GetDate();
    m_calendar->setSelectedDate(date.isValid() ? date : QDate::currentDate());
    m_calendar->adjustSize();
    m_calendar->move(mapToGlobal(QPoint(0, height())));
    m_calendar->show();
    m_calendar->setFocus(Qt::PopupFocusReason);
}

void TDateEditPlus::calendarPicked(const QDate &date)
{
    m_calendar->hide();
    SetDate(date);
}

void TDateEditPlus::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F4 ||
        (event->key() == Qt::Key_Down && (event->modifiers() & Qt::AltModifier))) {
        showCalendar();
        return;
    }
    MaskEdit::keyPressEvent(event);
}

void TDateEditPlus::paintEvent(QPaintEvent *event)
{
    MaskEdit::paintEvent(event);
    const QString name = weekDayName();
    if (name.isEmpty())
        return;
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(weekDayArea(), Qt::AlignVCenter | Qt::AlignRight, name);
}

} // namespace fis
