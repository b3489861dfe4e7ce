#include "shell/date_time_text.h"

#include "gtest/gtest.h"
#include "shell/shell_test_support.h"

namespace gateway {
namespace {

TEST(DateTimeTextTest, TwoDigitsForEveryField) {
  const QDateTime morning(QDate(2007, 3, 4), QTime(5, 6, 7));
  EXPECT_EQ(DateText(morning), QStringLiteral("04.03.07"));
  EXPECT_EQ(TimeText(morning, QLatin1Char(':')), QStringLiteral("05:06:07"));
  const QDateTime evening(QDate(2013, 7, 22), QTime(23, 59, 0));
  EXPECT_EQ(DateText(evening), QStringLiteral("22.07.13"));
  EXPECT_EQ(TimeText(evening, QLatin1Char('.')), QStringLiteral("23.59.00"));
}

TEST(DateTimeTextTest, TimeSeparatorComesFromTheLocale) {
  EXPECT_EQ(TimeSeparator(QLocale::c()), QLatin1Char(':'));
  EXPECT_EQ(TimeSeparator(QLocale(QLocale::Russian, QLocale::Russia)), QLatin1Char(':'));
  // Finnish writes times as 14.53.
  EXPECT_EQ(TimeSeparator(QLocale(QLocale::Finnish, QLocale::Finland)), QLatin1Char('.'));
}

}  // namespace
}  // namespace gateway
