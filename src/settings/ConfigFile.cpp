#include "settings/ConfigFile.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "platform/ProgramFolder.h"
#include "settings/ConfigKeys.h"

namespace sonarelle {

namespace {

bool Writable(const QString& path) {
  return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

}  // namespace

QString ConfigFilePath() {
  const QString name = QString::fromLatin1(ConfigKeys::kConfigFileName);
  const QString folder = ProgramFolder();
  QString beside = folder + name;
  // Settings are written by replacing the file, which takes a writable folder.
  if (Writable(folder) && (!QFile::exists(beside) || Writable(beside))) return beside;

  const QString own =
      QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/sonarelle";
  QString path = own + QLatin1Char('/') + name;
  if (!QFile::exists(path) && QDir().mkpath(own) && QFile::exists(beside)) {
    // The settings shipped beside the program are the user's starting point.
    if (QFile::copy(beside, path)) {
      QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
  }
  return path;
}

}  // namespace sonarelle
