#include "platform/MessageWindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QTimerEvent>

#include "platform/MessageBoxes.h"

namespace sonarelle {

namespace {

const QEvent::Type kPostedMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class PostedMessage : public QEvent {
 public:
  PostedMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
      : QEvent(kPostedMessageEvent), msg_(msg), wParam_(wParam), lParam_(lParam) {}
  unsigned msg_;
  std::uintptr_t wParam_;
  std::intptr_t lParam_;
};

}  // namespace

MessageWindow::MessageWindow(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {}

MessageWindow::~MessageWindow() {
  QCoreApplication::removePostedEvents(this, kPostedMessageEvent);
}

void MessageWindow::PostMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
  // Ownership of the event passes to the event loop.
  QCoreApplication::postEvent(this, new PostedMessage(msg, wParam, lParam));
}

void MessageWindow::SendMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
  if (QThread::currentThread() == thread()) {
    Dispatch(msg, wParam, lParam);
    return;
  }
  QMetaObject::invokeMethod(
      this, [this, msg, wParam, lParam] { Dispatch(msg, wParam, lParam); },
      Qt::BlockingQueuedConnection);
}

void MessageWindow::SetTimer(unsigned id, int intervalMs) {
  KillTimer(id);
  timers_[id] = startTimer(intervalMs < 1 ? 1 : intervalMs, Qt::PreciseTimer);
}

void MessageWindow::KillTimer(unsigned id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  killTimer(it->second);
  timers_.erase(it);
}

bool MessageWindow::event(QEvent* event) {
  if (event->type() == kPostedMessageEvent) {
    auto* posted = static_cast<PostedMessage*>(event);
    Dispatch(posted->msg_, posted->wParam_, posted->lParam_);
    return true;
  }
  return QObject::event(event);
}

void MessageWindow::timerEvent(QTimerEvent* event) {
  for (const auto& [id, qtId] : timers_) {
    if (qtId == event->timerId()) {
      Dispatch(kTimerMessage, id, 0);
      return;
    }
  }
}

void MessageWindow::Dispatch(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
  if (!handler_) return;
  RunGuarded([&] { handler_(msg, wParam, lParam); });
}

}  // namespace sonarelle
