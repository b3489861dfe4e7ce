#include "shell/date_time_text.h"

namespace gateway {

QChar TimeSeparator(const QLocale& locale) {
  const QString format = locale.timeFormat(QLocale::ShortFormat);
  const qsizetype hours = format.indexOf(QLatin1Char('h'), 0, Qt::CaseInsensitive);
  if (hours < 0) return QLatin1Char(':');
  for (qsizetype i = hours; i < format.size(); ++i) {
    const QChar c = format.at(i);
    if (c != QLatin1Char('h') && c != QLatin1Char('H')) {
      return c.isLetterOrNumber() || c == QLatin1Char('\'') ? QLatin1Char(':') : c;
    }
  }
  return QLatin1Char(':');
}

QString DateText(const QDateTime& moment) {
  const QDate date = moment.date();
  return QStringLiteral("%1.%2.%3")
      .arg(date.day(), 2, 10, QLatin1Char('0'))
      .arg(date.month(), 2, 10, QLatin1Char('0'))
      .arg(date.year() % 100, 2, 10, QLatin1Char('0'));
}

QString TimeText(const QDateTime& moment, QChar separator) {
  const QTime time = moment.time();
  return QStringLiteral("%1").arg(time.hour(), 2, 10, QLatin1Char('0')) + separator +
         QStringLiteral("%1").arg(time.minute(), 2, 10, QLatin1Char('0')) + separator +
         QStringLiteral("%1").arg(time.second(), 2, 10, QLatin1Char('0'));
}

}  // namespace gateway
