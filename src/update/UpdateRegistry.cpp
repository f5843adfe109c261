#include "update/UpdateRegistry.h"

#include <memory>

#include <QLocale>
#include <QSettings>

namespace sonarelle::update_registry {

namespace {

const QString kLastURL = QStringLiteral("LastURL");
const QString kLastDate = QStringLiteral("LastDate");
const QString kLastTime = QStringLiteral("LastTime");

// The user's short date format with a four-digit year: a two-digit one reads back a century
// early, which would make every update look due again.
QString DateFormat(const QLocale& locale) {
  QString format = locale.dateFormat(QLocale::ShortFormat);
  if (!format.contains(QStringLiteral("yyyy")))
    format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
  return format;
}

bool Placed(const TLastURLEntry& entry) {
  return !entry.Key.isEmpty() && !entry.Section.isEmpty();
}

// The registry's key path becomes a group of the INI file.
std::unique_ptr<QSettings> Open(const TLastURLEntry& entry) {
  const auto scope = entry.RegRoot == TLastURLRoot::lurLOCALMACHINE ? QSettings::SystemScope
                                                                    : QSettings::UserScope;
  auto settings = std::make_unique<QSettings>(
      QSettings::IniFormat, scope, QStringLiteral("sonarelle"), QStringLiteral("registry"));
  QString group = entry.Key + QLatin1Char('\\') + entry.Section;
  group.replace(QLatin1Char('\\'), QLatin1Char('/'));
  settings->beginGroup(group);
  return settings;
}

}  // namespace

QString ReadLastURL(const TLastURLEntry& entry) {
  if (!entry.Save || !Placed(entry)) return {};
  return Open(entry)->value(kLastURL).toString();
}

void WriteLastURL(const TLastURLEntry& entry, const QString& url) {
  if (!entry.Save || !Placed(entry)) return;
  Open(entry)->setValue(kLastURL, url);
}

bool KeepsLastDate(const TLastURLEntry& entry) {
  return Placed(entry);
}

QDateTime ReadLastDate(const TLastURLEntry& entry) {
  if (!Placed(entry)) return {};
  const auto settings = Open(entry);
  const QLocale locale = QLocale::system();
  const QDate date = locale.toDate(settings->value(kLastDate).toString(), DateFormat(locale));
  if (!date.isValid()) return {};
  const QTime time = locale.toTime(settings->value(kLastTime).toString(), QLocale::ShortFormat);
  return QDateTime(date, time.isValid() ? time : QTime(0, 0));
}

void WriteLastDate(const TLastURLEntry& entry, const QDateTime& moment) {
  if (!entry.Save || !Placed(entry) || !moment.isValid()) return;
  const auto settings = Open(entry);
  const QLocale locale = QLocale::system();
  settings->setValue(kLastDate, locale.toString(moment.date(), DateFormat(locale)));
  if (moment.time() != QTime(0, 0)) {
    settings->setValue(kLastTime, locale.toString(moment.time(), QLocale::ShortFormat));
  }
}

}  // namespace sonarelle::update_registry
