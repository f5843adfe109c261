#include "audio/chain/UIWait.h"

#include <chrono>
#include <thread>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace sonarelle {

void WaitKeepingUIAlive(int milliseconds, bool processMessages) {
  if (milliseconds <= 0) return;
  QCoreApplication* app = QCoreApplication::instance();
  if (!processMessages || app == nullptr) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return;
  }
  if (QCoreApplication::closingDown()) return;
  // A local loop sleeps until an event comes and dispatches it, instead of polling.
  QEventLoop loop;
  QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  QObject::connect(app, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace sonarelle
