#include "app/TimeDisplay.h"

namespace sonarelle {

namespace {
QString TwoDigits(std::int64_t n) {
  return n < 10 ? QStringLiteral("0") + QString::number(n) : QString::number(n);
}
}  // namespace

QString TimeText(std::int64_t ms) {
  if (ms < 0) ms = 0;
  return TwoDigits(ms / 3600000) + QLatin1Char(':') + TwoDigits((ms / 60000) % 60) +
         QLatin1Char(':') + TwoDigits((ms / 1000) % 60);
}

QString TimeDisplayText(std::int64_t lengthMs, std::int64_t positionMs) {
  return TimeText(lengthMs) + QStringLiteral("   ") + TimeText(positionMs);
}

}  // namespace sonarelle
