#include "platform/CdDoor.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>

namespace sonarelle {

QString FirstOpticalDrive() {
  // The kernel lists SCSI CD-ROM drives as block devices sr0, sr1 ...; the lowest number
  // is the first drive.
  QStringList names = QDir(QStringLiteral("/sys/block"))
                          .entryList({QStringLiteral("sr*")}, QDir::Dirs | QDir::NoDotAndDotDot);
  std::sort(names.begin(), names.end(),
            [](const QString& a, const QString& b) { return a.mid(2).toInt() < b.mid(2).toInt(); });
  for (const QString& name : names) {
    QString device = QStringLiteral("/dev/") + name;
    if (QFileInfo::exists(device)) return device;
  }
  return {};
}

bool SetCdDoor(const QString& device, bool open) {
  // O_NONBLOCK: an empty drive or an open tray must not make the open fail or wait.
  const int fd = ::open(QFile::encodeName(device).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const int result = ::ioctl(fd, open ? CDROMEJECT : CDROMCLOSETRAY, 0);
  ::close(fd);
  return result == 0;
}

}  // namespace sonarelle
