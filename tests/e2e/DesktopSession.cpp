#include "DesktopSession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QThread>
#include <stdexcept>

namespace {

constexpr int kToolTimeoutMs = 20000;
// Under AddressSanitizer the program takes several times longer to come up and to stop.
constexpr int kStartTimeoutMs = 90000;
constexpr int kEndTimeoutMs = 30000;

// A title as an anchored POSIX extended expression, which xdotool matches names with.
QString TitlePattern(const QString& title) {
  QString pattern = QStringLiteral("^");
  for (const QChar c : title) {
    if (QStringLiteral(".[]()*+?{}|^$\\").contains(c)) pattern += QLatin1Char('\\');
    pattern += c;
  }
  return pattern + QLatin1Char('$');
}

QString Env(const char* name) {
  return QString::fromLocal8Bit(qgetenv(name));
}

}  // namespace

const QString DesktopSession::kMainTitle = QStringLiteral("Sonarelle recorder[v1.0]");

DesktopSession::DesktopSession() {
  if (!folder_.isValid()) throw std::runtime_error("no temporary folder");
  try {
    // -displayfd picks a free display and writes its number to our standard output.
    xserver_ = std::make_unique<QProcess>();
    xserver_->setProcessChannelMode(QProcess::SeparateChannels);
    xserver_->setStandardErrorFile(folder_.filePath(QStringLiteral("xvfb.log")));
    xserver_->start(QStringLiteral("Xvfb"),
                    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                     QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                     QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!xserver_->waitForStarted(kToolTimeoutMs)) Fail(QStringLiteral("Xvfb did not start"));
    QElapsedTimer waited;
    waited.start();
    QByteArray number;
    while (!number.endsWith('\n') && waited.elapsed() < kToolTimeoutMs &&
           xserver_->state() == QProcess::Running) {
      xserver_->waitForReadyRead(100);
      number += xserver_->readAllStandardOutput();
    }
    if (!number.endsWith('\n')) Fail(QStringLiteral("Xvfb named no display"));
    display_ = QStringLiteral(":") + QString::fromLatin1(number.trimmed());

    rig_ = folder_.filePath(QStringLiteral("rig"));
    rigStarted_ = true;
    Run(Env("SONARELLE_SOURCE_DIR") + QStringLiteral("/scripts/sound-rig.sh"),
        {QStringLiteral("start"), rig_}, 60000);
  } catch (...) {
    StopAll();
    throw;
  }
}

DesktopSession::~DesktopSession() {
  StopAll();
}

void DesktopSession::StopAll() {
  EndProgram();
  program_.reset();
  if (rigStarted_) {
    QProcess::execute(Env("SONARELLE_SOURCE_DIR") + QStringLiteral("/scripts/sound-rig.sh"),
                      {QStringLiteral("stop"), rig_});
    rigStarted_ = false;
  }
  if (xserver_ && xserver_->state() != QProcess::NotRunning) {
    xserver_->terminate();
    if (!xserver_->waitForFinished(kToolTimeoutMs)) {
      xserver_->kill();
      xserver_->waitForFinished(kToolTimeoutMs);
    }
  }
  xserver_.reset();
}

void DesktopSession::StartProgram(const QStringList& environment) {
  const QString path = Env("SONARELLE_PROGRAM");
  if (path.isEmpty()) Fail(QStringLiteral("SONARELLE_PROGRAM names no program"));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  // The test itself runs on Qt's offscreen platform; the program gets the real X server, and
  // no desktop bus or compositor of the machine's.
  for (const char* name :
       {"QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "SESSION_MANAGER"}) {
    env.remove(QString::fromLatin1(name));
  }
  env.insert(QStringLiteral("DISPLAY"), display_);
  env.insert(QStringLiteral("PULSE_SERVER"), SoundServer());
  env.insert(QStringLiteral("SONARELLE_SOUNDFONT"),
             QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2"));
  const QDir user(folder_.filePath(QStringLiteral("user")));
  const QStringList homes = {QStringLiteral("HOME"),
                             QStringLiteral("XDG_CONFIG_HOME"),
                             QStringLiteral("XDG_STATE_HOME"),
                             QStringLiteral("XDG_DATA_HOME"),
                             QStringLiteral("XDG_RUNTIME_DIR"),
                             QStringLiteral("TMPDIR")};
  for (const QString& name : homes) {
    const QString dir = user.filePath(name.toLower());
    QDir().mkpath(dir);
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert(name, dir);
  }
  for (const QString& entry : environment) {
    env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
  }
  program_ = std::make_unique<QProcess>();
  program_->setProcessEnvironment(env);
  // Started from the desktop, the program's file dialogs open in the user's home.
  program_->setWorkingDirectory(user.filePath(QStringLiteral("home")));
  program_->setProcessChannelMode(QProcess::MergedChannels);
  program_->setStandardOutputFile(folder_.filePath(QStringLiteral("program.log")),
                                  QIODevice::Append);
  program_->start(path, {});
  if (!program_->waitForStarted(kToolTimeoutMs)) Fail(QStringLiteral("cannot start ") + path);
  main_ = WaitWindow(kMainTitle, kStartTimeoutMs);
}

QString DesktopSession::EndProgram() {
  if (program_ && program_->state() != QProcess::NotRunning) {
    program_->terminate();
    if (!program_->waitForFinished(kEndTimeoutMs)) {
      program_->kill();
      program_->waitForFinished(kToolTimeoutMs);
    }
  }
  return ProgramLog();
}

void DesktopSession::KillProgram() {
  if (!program_ || program_->state() == QProcess::NotRunning) return;
  program_->kill();
  program_->waitForFinished(kToolTimeoutMs);
}

bool DesktopSession::ProgramRunning() const {
  return program_ && program_->state() == QProcess::Running;
}

QString DesktopSession::ProgramLog() const {
  QFile log(folder_.filePath(QStringLiteral("program.log")));
  return log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : QString();
}

QString DesktopSession::Run(const QString& program, const QStringList& args, int timeoutMs) const {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), display_);
  process.setProcessEnvironment(env);
  process.start(program, args);
  const QString what = program + QLatin1Char(' ') + args.join(QLatin1Char(' '));
  if (!process.waitForStarted(kToolTimeoutMs)) Fail(QStringLiteral("cannot run ") + what);
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished();
    Fail(QStringLiteral("timed out: ") + what);
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
    Fail(what + QStringLiteral(" failed: ") +
         QString::fromLocal8Bit(process.readAllStandardError()));
  }
  return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QString DesktopSession::Output(const QStringList& args) const {
  QProcess xdotool;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), display_);
  xdotool.setProcessEnvironment(env);
  xdotool.start(QStringLiteral("xdotool"), args);
  xdotool.waitForFinished(kToolTimeoutMs);
  return QString::fromUtf8(xdotool.readAllStandardOutput());
}

QString DesktopSession::Xdotool(const QStringList& args, int timeoutMs) const {
  return Run(QStringLiteral("xdotool"), args, timeoutMs);
}

void DesktopSession::Fail(const QString& what) const {
  QString seen = what;
  if (!display_.isEmpty() && xserver_ && xserver_->state() == QProcess::Running) {
    try {
      seen += QStringLiteral("\nvisible windows: ") + VisibleWindows().join(QStringLiteral(", "));
    } catch (const std::exception&) {
      seen += QStringLiteral("\nthe X server does not answer");
    }
  }
  if (program_) {
    seen += ProgramRunning()
                ? QStringLiteral("\nthe program runs")
                : QStringLiteral("\nthe program has ended, exit code %1").arg(program_->exitCode());
    seen += QStringLiteral("\nits output ends:\n") + ProgramLog().right(3000);
  }
  throw std::runtime_error(seen.toStdString());
}

QString DesktopSession::SearchVisible(const QString& title) const {
  // xdotool gives up with an X error when a window goes away while it reads the tree (a menu
  // closing, a dialog replaced); "not found" then would be a lie, so such a search is repeated.
  for (int attempt = 0;; ++attempt) {
    QProcess xdotool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    xdotool.setProcessEnvironment(env);
    xdotool.start(QStringLiteral("xdotool"),
                  {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                   QStringLiteral("--name"), TitlePattern(title)});
    xdotool.waitForFinished(kToolTimeoutMs);
    const QString found = QString::fromUtf8(xdotool.readAllStandardOutput());
    const bool tripped = xdotool.readAllStandardError().contains("X Error");
    if (!tripped || attempt == 20) return found.section(QLatin1Char('\n'), 0, 0);
    QThread::msleep(20);
  }
}

QStringList DesktopSession::VisibleIds() const {
  return Output({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                 QStringLiteral("--maxdepth"), QStringLiteral("1"), QStringLiteral("--class"),
                 QStringLiteral(".*")})
      .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList DesktopSession::VisibleWindows() const {
  QStringList titles;
  for (const QString& id : VisibleIds()) {
    titles << QLatin1Char('"') + Output({QStringLiteral("getwindowname"), id}).trimmed() +
                  QLatin1Char('"');
  }
  return titles;
}

QString DesktopSession::WaitWindow(const QString& title, int timeoutMs) const {
  // Polled rather than "search --sync", which gives up at the first X error.
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    const QString id = SearchVisible(title).trimmed();
    if (!id.isEmpty()) return id;
    if (waited.elapsed() > timeoutMs) {
      Fail(QStringLiteral("no window \"%1\" showed within %2 s").arg(title).arg(timeoutMs / 1000));
    }
    QThread::msleep(50);
  }
}

void DesktopSession::WaitWindowGone(const QString& title, int timeoutMs) const {
  QElapsedTimer waited;
  waited.start();
  while (!SearchVisible(title).isEmpty()) {
    if (waited.elapsed() > timeoutMs) {
      Fail(QStringLiteral("the window \"%1\" still shows after %2 s")
               .arg(title)
               .arg(timeoutMs / 1000));
    }
    QThread::msleep(50);
  }
}

QRect DesktopSession::Geometry(const QString& window) const {
  // X=.. Y=.. WIDTH=.. HEIGHT=.. one a line.
  const QString shell =
      Xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
  const auto value = [&](const char* key) {
    const QRegularExpression line(QStringLiteral("^%1=(-?\\d+)$").arg(QLatin1String(key)),
                                  QRegularExpression::MultilineOption);
    return line.match(shell).captured(1).toInt();
  };
  return {value("X"), value("Y"), value("WIDTH"), value("HEIGHT")};
}

QImage DesktopSession::Screenshot(const QString& window) const {
  const QString file = folder_.filePath(QStringLiteral("shot.png"));
  Run(QStringLiteral("import"), {QStringLiteral("-window"), window, QStringLiteral("png:") + file},
      kToolTimeoutMs);
  QImage image(file);
  if (image.isNull()) Fail(QStringLiteral("import wrote no picture of window ") + window);
  return image;
}

QImage DesktopSession::ScreenshotOfScreen() const {
  return Screenshot(QStringLiteral("root"));
}

void DesktopSession::Focus(const QString& window) const {
  // Without a window manager nobody moves the focus: give it to the window ourselves, unless
  // it has it (focusing again would close a pop-up it shows). At first the focus follows the
  // pointer, which xdotool reports as an error.
  if (Output({QStringLiteral("getwindowfocus"), QStringLiteral("-f")}).trimmed() != window) {
    Xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
  }
}

void DesktopSession::Raise(const QString& window) const {
  Xdotool({QStringLiteral("windowraise"), window});
}

void DesktopSession::Keys(const QString& window, const QStringList& keys) const {
  Focus(window);
  Xdotool(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("50")} +
          keys);
}

void DesktopSession::Type(const QString& window, const QString& text) const {
  Focus(window);
  Xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), text}, 60000);
}

void DesktopSession::Click(const QString& window, int x, int y) const {
  Xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(x),
           QString::number(y), QStringLiteral("click"), QStringLiteral("1")});
}

void DesktopSession::Move(const QString& window, QPoint place) const {
  Xdotool({QStringLiteral("windowmove"), QStringLiteral("--sync"), window,
           QString::number(place.x()), QString::number(place.y())});
}

bool DesktopSession::WaitNewPopup(const QStringList& before, int timeoutMs) const {
  QElapsedTimer waited;
  waited.start();
  while (waited.elapsed() < timeoutMs) {
    for (const QString& id : VisibleIds()) {
      if (!before.contains(id)) return true;
    }
    QThread::msleep(50);
  }
  return false;
}

void DesktopSession::OpenFile(const QString& path) {
  // File is the menu bar's first menu and "Open a file" its first item, both with access keys.
  Keys(main_, {QStringLiteral("alt+f"), QStringLiteral("o")});
  const QString title = QStringLiteral("Open");
  const QString dialog = WaitWindow(title);
  const QStringList before = VisibleIds();
  Keys(dialog, {QStringLiteral("ctrl+a")});
  Type(dialog, path);
  // The name's completer lists the file once the dialog's folder model has read the folder;
  // Escape closes that list (and would close the dialog when no list shows).
  if (WaitNewPopup(before, 5000)) {
    Keys(dialog, {QStringLiteral("Escape")});
    if (SearchVisible(title).isEmpty()) Fail(QStringLiteral("Escape closed the open dialog"));
  }
  Keys(dialog, {QStringLiteral("Return")});
  WaitWindowGone(title);
}

void DesktopSession::SetMp3Info(const QString& title, const QString& artist) {
  // "MP3 Infomation Setting" has no access key: the second item of the Options menu.
  Keys(main_, {QStringLiteral("alt+o"), QStringLiteral("Down"), QStringLiteral("Return")});
  const QString caption = QStringLiteral("MP3 Infomation Setting");
  const QString dialog = WaitWindow(caption);
  // The title's field has the focus; Tab goes through artist, album, year, comment to OK.
  Keys(dialog, {QStringLiteral("ctrl+a")});
  Type(dialog, title);
  Keys(dialog, {QStringLiteral("Tab"), QStringLiteral("ctrl+a")});
  Type(dialog, artist);
  Keys(dialog, {QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Tab"),
                QStringLiteral("Tab"), QStringLiteral("space")});
  WaitWindowGone(caption);
}

void DesktopSession::SaveTakeAs(const QString& path) {
  const QString title = QStringLiteral("Save As");
  // Stopping finishes the take's file first; slow under the sanitizers.
  const QString dialog = WaitWindow(title, 60000);
  Keys(dialog, {QStringLiteral("ctrl+a")});
  Type(dialog, path);
  Keys(dialog, {QStringLiteral("Return")});
  WaitWindowGone(title);
}
