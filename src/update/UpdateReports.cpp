#include "update/UpdateReports.h"

#include <array>

#include <QLocale>

namespace sonarelle::update_reports {

namespace {

// Questions carry no codes: they are asked, not reported.
constexpr std::array<TReport, 48> kTable{{
    {18, "Exec: %s", 3, 0},
    {909, "Download update file : ", 0, 0},
    {910, "Download update files ?", 0, 0},
    {911, "Shutdown application to update executable files ?", 0, 0},
    {912, "Equal source and target files : %s", 10, 3},
    {913, "File not found : %s", 2, 1},
    {914, "Zero length source file : %s", 10, 2},
    {915, "Download : %s", 3, 0},
    {916, "Http status : %s", 6, 0},
    {917, "File not found : %s", 2, 1},
    {918, "Checking for Internet connection", 3, 0},
    {919, "Prompt to open new Internet connection", 3, 0},
    {920, "Opening Internet connection", 3, 0},
    {921, "Found open Internet connection", 3, 0},
    {922, "Cannot open Internet connection", 1, 0},
    {923, "Connect to host : %s", 3, 3},
    {924, "Cannot connect to FTP host : %s", 0, 0},
    {925, "Update control file not found", 2, 0},
    {926, "Update control file found", 3, 0},
    {927, "Invalid signature in update control file", 11, 4},
    {928, "Date based update found", 3, 0},
    {929, "New version found : %s", 5, 0},
    {930, "No new version found", 4, 0},
    {931, "Checksum based update found", 3, 0},
    {932, "File size based update found", 3, 0},
    {933, "Version based update found", 3, 0},
    {934, "Found message instruction", 3, 0},
    {935, "Found HTML dialog instruction", 7, 0},
    {936, "Found query instruction", 3, 0},
    {937, "Found whatsnew instruction", 12, 0},
    {938, "Whatsnew not accepted", 14, 0},
    {939, "Found license agreement instruction", 13, 0},
    {940, "License agreement not accepted", 0, 0},
    {941, "Found URL redirection instruction", 3, 0},
    {942, "Found URL show instruction", 3, 0},
    {943, "Found file update instruction", 3, 0},
    {944, "Version check : %s", 0, 0},
    {945, "Download update : %s", 0, 0},
    {946, "Cannot download update file : %s", 2, 0},
    {947, "Error decompressing CAB file : %s", 8, 0},
    {948, "Finished processing update control file", 3, 0},
    {949, "Closed Internet connection", 3, 0},
    {950, "Failed to spawn updater process : %s", 9, 0},
    {951, "Cannot connect to server for post", 16, 5},
    {952, "Cannot access resource for post", 17, 5},
    {953, "", 3, 0},
    {954, "", 3, 0},
    {955, "", 3, 0},
}};

// The first character of the user's short date or time format that is not a field letter.
QString Separator(QLocale::FormatType type, bool date) {
  const QLocale locale = QLocale::system();
  const QString format = date ? locale.dateFormat(type) : locale.timeFormat(type);
  for (const QChar c : format) {
    if (!c.isLetter() && !c.isSpace()) return QString(c);
  }
  return date ? QStringLiteral("/") : QStringLiteral(":");
}

}  // namespace

const TReport* Find(int number) {
  for (const TReport& report : kTable) {
    if (report.number == number) return &report;
  }
  return nullptr;
}

QString Text(int number, const QString& argument) {
  const TReport* report = Find(number);
  if (report == nullptr) return {};
  QString text = QString::fromLatin1(report->text);
  if (text.contains(QStringLiteral("%s"))) return text.replace(QStringLiteral("%s"), argument);
  return text;
}

QString LogLine(const QDateTime& when, int number, const QString& text, int status, int error) {
  // The pattern's "/" and ":" stand for the user's own separators.
  const QString stamp = when.toString(QStringLiteral("dd'%1'MM'%1'yyyy hh'%2'mm'%2'ss")
                                          .arg(Separator(QLocale::ShortFormat, true))
                                          .arg(Separator(QLocale::ShortFormat, false)));
  return QStringLiteral("%1 : [%2] %3 (Status:%4) (Error:%5)")
      .arg(stamp)
      .arg(number)
      .arg(text)
      .arg(status)
      .arg(error);
}

}  // namespace sonarelle::update_reports
