#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <cmath>

namespace fis {

// An automation date counts days since 1899-12-30; the fraction is the time of day. Before the
// epoch the whole part counts the days back and the fraction still adds the time of day in
// absolute value (-1.25 is 1899-12-29 06:00), as every automation client reads it.
//
// Dates are wall-clock values without a time zone, as the host database stores them. A
// QDateTime made here carries them in Qt::UTC only because UTC has no gaps: a local
// midnight that daylight saving skips would otherwise turn a stored date into an invalid value.
// Read date() and time(); do not convert it to local time.

// CBOR tag that marks an automation date (a float or integer number of days) in data packets and
// in the wire protocol, so that a date never travels as text.
inline constexpr quint64 kAutomationDateTag = 1899;

inline QDate automationEpoch()
{
    return QDate(1899, 12, 30);
}

// The wall-clock date and time of dt (as it reads in its own zone), as an automation date.
inline double toAutomationDate(const QDateTime &dt)
{
    const qint64 days = automationEpoch().daysTo(dt.date());
    const double frac = dt.time().msecsSinceStartOfDay() / 86400000.0;
    return days < 0 ? double(days) - frac : double(days) + frac;
}

inline double toAutomationDate(const QDate &d)
{
    return double(automationEpoch().daysTo(d));
}

// The same wall-clock date and time in the zone-free form used by the data sets.
inline QDateTime wallClockDateTime(const QDate &date, const QTime &time = QTime(0, 0))
{
    return QDateTime(date, time.isValid() ? time : QTime(0, 0), Qt::UTC);
}

// Returns an invalid QDateTime for a value that is not a finite number in the supported range
// (years 100 to 9999).
inline QDateTime fromAutomationDate(double value)
{
    if (!std::isfinite(value) || value <= -657435.0 || value >= 2958466.0)
        return {};
    const double dayPart = std::trunc(value);
    qint64 msecs = std::llround(std::fabs(value - dayPart) * 86400000.0);
    qint64 days = qint64(dayPart);
    if (msecs >= 86400000) {
        msecs -= 86400000;
        days += value < 0 ? -1 : 1;
    }
    const QDate date = automationEpoch().addDays(days);
    if (date.year() > 9999)
        return {};
    return wallClockDateTime(date, QTime::fromMSecsSinceStartOfDay(int(msecs)));
}

} // namespace fis
