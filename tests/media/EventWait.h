#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

// Waits for the media device's posted messages: the event loop runs while waiting.
namespace event_wait {

// Runs the event loop until `done()` or `timeoutMs` have passed; returns done().
template <class Done>
bool WaitUntil(Done done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() >= timeoutMs) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  return true;
}

// Runs the event loop for `ms`.
inline void Pump(int ms) {
  WaitUntil([] { return false; }, ms);
}

}  // namespace event_wait
