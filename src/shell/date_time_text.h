// Dates and times as the window and the event log show them: "dd.mm.yy" and "hh:mm:ss" with the
// system locale's time separator in place of ':'.
#pragma once

#include <QChar>
#include <QDateTime>
#include <QLocale>
#include <QString>

namespace gateway {

// The character between hours and minutes in the locale's time format; ':' when it has none.
QChar TimeSeparator(const QLocale& locale);

// "dd.mm.yy": two digits each for day, month and year.
QString DateText(const QDateTime& moment);

// "hh:mm:ss" with `separator` for ':': hours 00 to 23, two digits each.
QString TimeText(const QDateTime& moment, QChar separator);

}  // namespace gateway
