#pragma once

#include <optional>

#include <QFile>
#include <QString>
#include <QStringList>

// The companion updater: waits for the program to end, installs the component files it could
// not replace while running, and starts it again. Shows nothing; every step goes to its log.

namespace sonarelle::updater {

// The updater's log: one time-stamped line per step, appended and flushed at once, so that
// it tells what happened even when the updater is killed.
class Log {
 public:
  explicit Log(const QString& path);
  // $XDG_STATE_HOME/sonarelle/updater.log (default ~/.local/state/sonarelle/updater.log).
  static QString DefaultPath();
  void Write(const QString& line);

 private:
  QFile file_;
};

// What the command line asks for.
struct Request {
  qint64 pid = 0;          // the process to wait for
  QString restart;         // the command line that starts the program again; "null": none
  QStringList components;  // component files, relative to the current folder
};

// Reads the arguments that follow the updater's own name; nothing when the first is not a
// decimal process identifier.
std::optional<Request> ParseArguments(const QStringList& arguments);

// Installs one component file (in the current folder) by what its name says: "_new" renamed
// over its base, ".pat" through patcher.exe, ".cab" extracted, else expanded from SZDD.
// Returns false when its step failed; the log says why.
bool InstallComponent(const QString& name, Log& log);

// The whole run over the arguments that follow the updater's name; returns the exit code:
// 2 when argument 1 is no process identifier (nothing done), 1 when a step failed, else 0.
int Run(const QStringList& arguments, Log& log);

}  // namespace sonarelle::updater
