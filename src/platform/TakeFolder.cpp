#include "platform/TakeFolder.h"

#include <QDir>
#include <QFile>

namespace sonarelle {

QString TakeFolder() {
  QString state = qEnvironmentVariable("XDG_STATE_HOME");
  if (state.isEmpty() || QDir::isRelativePath(state)) {
    state = QDir::homePath() + QStringLiteral("/.local/state");
  }
  const QString folder = state + QStringLiteral("/sonarelle/takes");
  // Takes are the singer's own: nobody else may read them.
  if (!QDir().mkpath(folder)) return QDir::tempPath() + QLatin1Char('/');
  QFile::setPermissions(folder,
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  return folder + QLatin1Char('/');
}

}  // namespace sonarelle
