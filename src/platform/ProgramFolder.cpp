#include "platform/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>

namespace sonarelle {

namespace {
QString& Override() {
  static QString folder;
  return folder;
}
}  // namespace

QString ProgramFolder() {
  QString folder = Override().isEmpty() ? QCoreApplication::applicationDirPath() : Override();
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  return folder;
}

void SetProgramFolder(const QString& folder) {
  Override() = folder;
}

}  // namespace sonarelle
