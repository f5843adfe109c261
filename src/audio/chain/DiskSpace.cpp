#include "audio/chain/DiskSpace.h"

#include <atomic>

#include <sys/statvfs.h>

#include <QFile>
#include <QFileInfo>

namespace sonarelle {

namespace {

std::atomic<FreeSpaceQuery> freeSpaceQuery{&QueryFreeSpace};

}  // namespace

std::uint64_t QueryFreeSpace(const QString& directory) {
  struct statvfs info {};
  if (statvfs(QFile::encodeName(directory).constData(), &info) != 0) return 0;
  return static_cast<std::uint64_t>(info.f_bavail) * static_cast<std::uint64_t>(info.f_frsize);
}

FreeSpaceQuery SetFreeSpaceQuery(FreeSpaceQuery query) {
  return freeSpaceQuery.exchange(query != nullptr ? query : &QueryFreeSpace);
}

bool EnoughDiskSpace(const QString& fileName, std::int64_t bytes) {
  if (bytes <= 0) return true;
  const QString directory = QFileInfo(fileName).absolutePath();
  const std::uint64_t free = freeSpaceQuery.load()(directory);
  return free >= static_cast<std::uint64_t>(bytes);
}

}  // namespace sonarelle
