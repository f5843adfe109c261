#pragma once

#include <xcb/xcb.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <QString>
#include <QStringList>

// Watches from outside the order in which a program's start reaches the X server and a file:
// "map ID" for each top-level window the X server maps (ID in decimal, as xdotool names it),
// and "open" the first time the file is opened. A thread of its own notes each as it comes;
// at the open it first makes a round trip to the X server, so every window mapped before the
// open is noted before it.
class StartupWatch {
 public:
  StartupWatch(const QString& display, const QString& file);
  ~StartupWatch();
  StartupWatch(const StartupWatch&) = delete;
  StartupWatch& operator=(const StartupWatch&) = delete;

  // Whether both the X server and the file can be watched.
  bool Usable() const { return usable_; }
  // What was noted so far, once the file was opened or `timeoutMs` passed.
  QStringList Events(int timeoutMs) const;

 private:
  void Run();
  void NoteMaps();

  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = 0;
  int inotify_ = -1;
  int stop_ = -1;  // an eventfd that ends the thread
  bool usable_ = false;
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  QStringList events_;
  bool opened_ = false;
  std::thread thread_;  // last: starts once everything above is in place
};
