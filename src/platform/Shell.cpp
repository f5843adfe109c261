#include "platform/Shell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace sonarelle::Shell {

bool Open(const QString& fileOrUrl) {
  QUrl url = QFileInfo(fileOrUrl).isAbsolute() ? QUrl::fromLocalFile(fileOrUrl) : QUrl(fileOrUrl);
  return QDesktopServices::openUrl(url);
}

bool HasDefaultApplication(const QString& path) {
  QString xdgMime = FindProgram(QStringLiteral("xdg-mime"));
  if (xdgMime.isEmpty()) return false;
  QString mime = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension).name();
  QProcess query;
  query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), mime});
  if (!query.waitForFinished(3000)) {
    query.kill();
    query.waitForFinished(1000);
    return false;
  }
  return query.exitCode() == 0 && !query.readAllStandardOutput().trimmed().isEmpty();
}

QString FindProgram(const QString& program) {
  return QStandardPaths::findExecutable(program);
}

bool Start(const QString& program, const QStringList& arguments) {
  return QProcess::startDetached(program, arguments);
}

}  // namespace sonarelle::Shell
