#include "updater/Updater.h"

#include <limits>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include "platform/Cabinet.h"
#include "platform/FileReplace.h"
#include "platform/ProcessWait.h"

namespace sonarelle::updater {

namespace {

// A bare program name is found in the current folder first, then on the PATH.
QString FindProgram(const QString& name) {
  if (name.contains(QLatin1Char('/'))) return name;
  const QFileInfo here(QDir::current().filePath(name));
  if (here.isFile() && here.isExecutable()) return here.absoluteFilePath();
  const QString found = QStandardPaths::findExecutable(name);
  return found.isEmpty() ? name : found;
}

bool ReplaceBase(const QString& name, const QString& base, Log& log) {
  const QString error = RenameOver(name, base);
  if (!error.isEmpty()) {
    log.Write(QStringLiteral("%1: not renamed to %2: %3").arg(name, base, error));
    return false;
  }
  log.Write(QStringLiteral("%1: renamed to %2").arg(name, base));
  return true;
}

bool ApplyPatch(const QString& name, Log& log) {
  if (!QFileInfo::exists(name)) {
    log.Write(QStringLiteral("%1: missing").arg(name));
    return false;
  }
  const int dot = name.lastIndexOf(QLatin1Char('.'));
  const QString program = QStringLiteral("patcher.exe");
  const QStringList arguments{name, name.left(dot) + QStringLiteral(".EXE")};
  QProcess patcher;
  patcher.setProcessChannelMode(QProcess::ForwardedChannels);
  patcher.start(FindProgram(program), arguments);
  if (!patcher.waitForStarted(-1)) {
    // The patch is kept: it was never applied.
    log.Write(QStringLiteral("%1: %2 could not start: %3; patch kept")
                  .arg(name, program, patcher.errorString()));
    return false;
  }
  patcher.waitForFinished(-1);
  const QString outcome = patcher.exitStatus() == QProcess::NormalExit
                              ? QStringLiteral("exit code %1").arg(patcher.exitCode())
                              : QStringLiteral("crashed");
  const bool removed = QFile::remove(name);
  log.Write(QStringLiteral("%1: %2 %3 ran (%4); patch %5")
                .arg(name, program, arguments.join(QLatin1Char(' ')), outcome,
                     removed ? QStringLiteral("deleted") : QStringLiteral("not deleted")));
  return removed;
}

bool ExtractCabinet(const QString& name, Log& log) {
  const QString error = Cabinet::Extract(name, QString());
  if (!error.isEmpty()) {
    log.Write(QStringLiteral("%1: not extracted: %2").arg(name, error));
    return false;
  }
  const bool removed = QFile::remove(name);
  log.Write(QStringLiteral("%1: extracted; cabinet %2")
                .arg(name, removed ? QStringLiteral("deleted") : QStringLiteral("not deleted")));
  return removed;
}

bool ExpandSzdd(const QString& name, Log& log) {
  if (!QFileInfo::exists(name)) {
    log.Write(QStringLiteral("%1: missing").arg(name));
    return false;
  }
  // Expanding anything else into its own name would destroy it.
  if (!Szdd::IsSzdd(name)) {
    log.Write(QStringLiteral("%1: not SZDD-compressed; left alone").arg(name));
    return true;
  }
  const QString target = Szdd::ExpandedName(name);
  if (QFileInfo(target) == QFileInfo(name)) {
    log.Write(QStringLiteral("%1: its header names no replaced character; left alone").arg(name));
    return true;
  }
  const QString error = Szdd::Expand(name, target);
  if (!error.isEmpty()) {
    log.Write(QStringLiteral("%1: not expanded to %2: %3").arg(name, target, error));
    return false;
  }
  log.Write(QStringLiteral("%1: expanded to %2").arg(name, target));
  return true;
}

void Restart(const QString& command, Log& log) {
  QStringList parts = QProcess::splitCommand(command);
  if (parts.isEmpty()) {
    log.Write(QStringLiteral("no restart: the command is empty"));
    return;
  }
  const QString program = FindProgram(parts.takeFirst());
  qint64 pid = 0;
  if (QProcess::startDetached(program, parts, QDir::currentPath(), &pid)) {
    log.Write(QStringLiteral("restarted %1 as process %2").arg(command, QString::number(pid)));
  } else {
    log.Write(QStringLiteral("could not restart %1").arg(command));
  }
}

}  // namespace

Log::Log(const QString& path) : file_(path) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  // Without a log the updater still does its work; it shows nothing either way.
  (void)file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

QString Log::DefaultPath() {
  QString state = qEnvironmentVariable("XDG_STATE_HOME");
  if (state.isEmpty() || QDir::isRelativePath(state)) {
    state = QDir::homePath() + QStringLiteral("/.local/state");
  }
  return state + QStringLiteral("/sonarelle/updater.log");
}

void Log::Write(const QString& line) {
  if (!file_.isOpen()) return;
  file_.write((QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + QLatin1Char(' ') + line +
               QLatin1Char('\n'))
                  .toUtf8());
  file_.flush();
}

std::optional<Request> ParseArguments(const QStringList& arguments) {
  if (arguments.isEmpty() || arguments[0].isEmpty()) return std::nullopt;
  for (const QChar c : arguments[0]) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
  }
  Request request;
  bool ok = false;
  request.pid = arguments[0].toLongLong(&ok);
  // Too many digits for any number is still a decimal number: no process has it.
  if (!ok) request.pid = 0;
  request.restart = arguments.value(1, QStringLiteral("null"));
  request.components = arguments.mid(2);
  return request;
}

bool InstallComponent(const QString& name, Log& log) {
  // Only a "_new" that is the name's first is the downloaded file's mark (my_new_tool.exe_new
  // is not renamed).
  const QString mark = QStringLiteral("_NEW");
  const qsizetype first = name.indexOf(mark, 0, Qt::CaseInsensitive);
  if (first >= 0 && first == name.size() - mark.size()) {
    return ReplaceBase(name, name.chopped(mark.size()), log);
  }
  const QString extension = QFileInfo(name).suffix().toUpper();
  if (extension == QStringLiteral("PAT")) return ApplyPatch(name, log);
  if (extension == QStringLiteral("CAB")) return ExtractCabinet(name, log);
  return ExpandSzdd(name, log);
}

int Run(const QStringList& arguments, Log& log) {
  const std::optional<Request> request = ParseArguments(arguments);
  if (!request) {
    log.Write(
        QStringLiteral("not a process identifier: \"%1\"; nothing done").arg(arguments.value(0)));
    return 2;
  }
  log.Write(QStringLiteral("in %1: waiting for process %2")
                .arg(QDir::currentPath(), QString::number(request->pid)));
  if (request->pid <= 0 || request->pid > std::numeric_limits<pid_t>::max()) {
    log.Write(QStringLiteral("no process %1; going on").arg(request->pid));
  } else {
    const ProcessEndWait wait = WaitForProcessEnd(static_cast<pid_t>(request->pid));
    switch (wait.how) {
      case ProcessEndWait::AlreadyGone:
        log.Write(QStringLiteral("process %1 was already gone").arg(request->pid));
        break;
      case ProcessEndWait::Ended:
        log.Write(QStringLiteral("process %1 ended").arg(request->pid));
        break;
      case ProcessEndWait::Polled:
        log.Write(QStringLiteral("process %1 ended (checked every 100 ms, as %2)")
                      .arg(QString::number(request->pid), wait.whyPolled));
        break;
    }
  }
  bool allDone = true;
  for (const QString& name : request->components) {
    if (!InstallComponent(name, log)) allDone = false;
  }
  if (request->restart == QStringLiteral("null")) {
    log.Write(QStringLiteral("no restart (null)"));
  } else {
    Restart(request->restart, log);
  }
  return allDone ? 0 : 1;
}

}  // namespace sonarelle::updater
