#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <cmath>

namespace fis {

// An automation date counts days since 1899-12-30; the fraction is the time of day.
// Dates are wall-clock values without a time zone, as the host database stores them.

// CBOR tag that marks an automation date (a float or integer number of days) in data packets and
// in the wire protocol, so that a date never travels as text.
inline constexpr quint64 kAutomationDateTag = 1899;

inline QDate automationEpoch()
{
    return QDate(1899, 12, 30);
}

inline double toAutomationDate(const QDateTime &dt)
{
    const qint64 days = automationEpoch().daysTo(dt.date());
    const double frac = dt.time().msecsSinceStartOfDay() / 86400000.0;
    return double(days) + frac;
}

inline double toAutomationDate(const QDate &d)
{
    return double(automationEpoch().daysTo(d));
}

// Returns an invalid QDateTime for a value that is not a finite number in the supported range.
inline QDateTime fromAutomationDate(double value)
{
    if (!std::isfinite(value) || value < -657434.0 || value > 2958465.99999999)
        return {};
    const double dayPart = std::floor(value);
    qint64 msecs = std::llround((value - dayPart) * 86400000.0);
    qint64 days = qint64(dayPart);
    if (msecs >= 86400000) {
        msecs -= 86400000;
        ++days;
    }
    return QDateTime(automationEpoch().addDays(days), QTime::fromMSecsSinceStartOfDay(int(msecs)));
}

} // namespace fis
