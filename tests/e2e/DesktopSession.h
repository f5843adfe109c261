#pragma once

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// A desktop of its own for the installed program, driven as a user would drive it: a private
// X server without a window manager, a private sound server, and real keyboard and mouse
// events sent through the X test extension (xdotool). Everything it starts it stops again,
// also when a test fails half-way; it never signals a process it did not start.
// Any step that cannot be done throws std::runtime_error saying what was seen.
class DesktopSession {
 public:
  // Starts the X server and the sound server (the rig of scripts/sound-rig.sh: a null sink
  // "speakers" and sine sources "mic", 440 Hz and the default, and "line", 880 Hz).
  DesktopSession();
  ~DesktopSession();
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  // A folder of the session's own for songs and takes.
  QString Folder() const { return folder_.path(); }
  // The X server's display name (":1") and the sound server's PULSE_SERVER address.
  QString Display() const { return display_; }
  QString SoundServer() const { return QStringLiteral("unix:") + rig_ + QStringLiteral("/native"); }

  // Starts the program named by SONARELLE_PROGRAM and waits for its main window. Each
  // "NAME=VALUE" of `environment` is set for it beside the session's own.
  void StartProgram(const QStringList& environment = {});
  // Ends the program as a logout would (SIGTERM; SIGKILL if it has not ended in time) and
  // returns what it printed.
  QString EndProgram();
  // Ends the program at once with SIGKILL, as a crash or a power cut would.
  void KillProgram();
  bool ProgramRunning() const;
  // What the program printed so far.
  QString ProgramLog() const;

  // The visible top-level window whose title is `title` exactly, waited for.
  QString WaitWindow(const QString& title, int timeoutMs = 20000) const;
  // Waits until no visible window has the title `title`.
  void WaitWindowGone(const QString& title, int timeoutMs = 20000) const;
  // The titles of the visible windows, for failure messages.
  QStringList VisibleWindows() const;
  // A window's place and size on the screen.
  QRect Geometry(const QString& window) const;
  // What the window shows now.
  QImage Screenshot(const QString& window) const;
  // The whole screen.
  QImage ScreenshotOfScreen() const;

  // Gives `window` the keyboard focus, unless it has it.
  void Focus(const QString& window) const;
  // Brings `window` above the others: without a window manager the last shown lies on top.
  void Raise(const QString& window) const;
  // Gives `window` the keyboard focus, then presses the keys one after the other (xdotool
  // key names: "F5", "alt+f", "Return").
  void Keys(const QString& window, const QStringList& keys) const;
  // Gives `window` the keyboard focus, then types the text.
  void Type(const QString& window, const QString& text) const;
  // Puts the window's top-left corner at `place` on the screen.
  void Move(const QString& window, QPoint place) const;
  // Clicks the left button at (x, y) inside the window.
  void Click(const QString& window, int x, int y) const;

  // The main window's id (valid once StartProgram returned).
  QString MainWindow() const { return main_; }
  // File, Open a file: types the path into the open dialog and confirms it.
  void OpenFile(const QString& path);
  // Options, MP3 Infomation Setting: types title and artist, then OK.
  void SetMp3Info(const QString& title, const QString& artist);
  // Answers the save dialog that Stop recording opens with the path.
  void SaveTakeAs(const QString& path);

  // The main window's title.
  static const QString kMainTitle;

 private:
  QString Xdotool(const QStringList& args, int timeoutMs = 10000) const;
  // xdotool's output, whatever its exit code (1 is "no such window").
  QString Output(const QStringList& args) const;
  QString Run(const QString& program, const QStringList& args, int timeoutMs) const;
  QString SearchVisible(const QString& title) const;
  // Waits until the program shows a pop-up of its own (a completer's list) that was not
  // there before, or `timeoutMs` passed; whether it did.
  bool WaitNewPopup(const QStringList& before, int timeoutMs) const;
  QStringList VisibleIds() const;
  [[noreturn]] void Fail(const QString& what) const;
  void StopAll();

  QTemporaryDir folder_;
  QString rig_;
  QString display_;
  std::unique_ptr<QProcess> xserver_;
  std::unique_ptr<QProcess> program_;
  QString main_;
  bool rigStarted_ = false;
};
