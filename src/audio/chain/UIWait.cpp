#include "audio/chain/UIWait.h"

#include <chrono>
#include <thread>

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace sonarelle {

void WaitKeepingUIAlive(int milliseconds, bool processMessages) {
  if (milliseconds <= 0) return;
  if (!processMessages || QCoreApplication::instance() == nullptr) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return;
  }
  QDeadlineTimer deadline(milliseconds, Qt::PreciseTimer);
  while (!deadline.hasExpired()) {
    if (QCoreApplication::instance() == nullptr || QCoreApplication::closingDown()) return;
    const auto left = static_cast<int>(deadline.remainingTime());
    // Wakes as soon as an event arrives, and at the deadline at the latest.
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                    left > 0 ? left : 0);
  }
}

}  // namespace sonarelle
