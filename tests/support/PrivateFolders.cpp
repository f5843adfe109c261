#include "PrivateFolders.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include <QByteArray>
#include <QDir>

namespace {

QByteArray g_folder;

void RemoveFolder() {
  if (!g_folder.isEmpty()) QDir(QString::fromLocal8Bit(g_folder)).removeRecursively();
}

}  // namespace

void UsePrivateFolders() {
  QByteArray pattern = QDir::tempPath().toLocal8Bit() + "/sonarelle-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return;
  g_folder = pattern;
  const QByteArray temp = g_folder + "/tmp";
  const QByteArray state = g_folder + "/state";
  const QByteArray config = g_folder + "/config";
  const QByteArray data = g_folder + "/data";
  for (const QByteArray& folder : {temp, state, config, data}) {
    QDir().mkpath(QString::fromLocal8Bit(folder));
  }
  // As open as the system's own: tests that drop to another user still reach their files.
  ::chmod(g_folder.constData(), 0755);
  ::chmod(temp.constData(), 01777);
  ::setenv("TMPDIR", temp.constData(), 1);
  ::setenv("XDG_STATE_HOME", state.constData(), 1);
  ::setenv("XDG_CONFIG_HOME", config.constData(), 1);
  ::setenv("XDG_DATA_HOME", data.constData(), 1);
  std::atexit(RemoveFolder);
}
