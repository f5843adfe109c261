#pragma once

#include <QDateTime>
#include <QString>

namespace sonarelle::update_reports {

// One entry of the engine's string table, with the codes its report carries.
struct TReport {
  int number;
  const char* text;
  int status;
  int error;
};

// The table entry of `number`; nullptr when the table has none.
const TReport* Find(int number);
// The entry's text formatted with `argument` ("%s" replaced; otherwise the argument follows).
QString Text(int number, const QString& argument);
// One line of WUPDATE.LOG for a report made at `when`.
QString LogLine(const QDateTime& when, int number, const QString& text, int status, int error);

}  // namespace sonarelle::update_reports
