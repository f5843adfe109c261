#include "platform/TakeFolder.h"

#include <linux/magic.h>
#include <sys/vfs.h>

#include <QDir>
#include <QFile>

namespace sonarelle {

bool IsMemoryFilesystem(const QString& path) {
  struct statfs info {};
  if (::statfs(QFile::encodeName(path).constData(), &info) != 0) return false;
  return info.f_type == TMPFS_MAGIC || info.f_type == RAMFS_MAGIC;
}

QString TakeFolder() {
  const QString temp = QDir::tempPath();
  if (!IsMemoryFilesystem(temp)) return temp + QLatin1Char('/');
  QString state = qEnvironmentVariable("XDG_STATE_HOME");
  if (state.isEmpty() || QDir::isRelativePath(state)) {
    state = QDir::homePath() + QStringLiteral("/.local/state");
  }
  const QString folder = state + QStringLiteral("/sonarelle/takes");
  // Takes are the singer's own: nobody else may read them.
  if (!QDir().mkpath(folder)) return temp + QLatin1Char('/');
  QFile::setPermissions(folder,
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  return folder + QLatin1Char('/');
}

}  // namespace sonarelle
