#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include <QObject>

namespace sonarelle {

// A hidden message window: messages posted to it from any thread, and the ticks of its
// timers, are handled one at a time on the thread that created it.
class MessageWindow : public QObject {
 public:
  // Called on the window's thread for every message and timer tick.
  using Handler = std::function<void(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)>;

  static constexpr unsigned kTimerMessage = 0x0113;  // wParam carries the timer id
  static constexpr unsigned kUserMessage = 0x0400;   // first number free for components

  explicit MessageWindow(Handler handler, QObject* parent = nullptr);
  ~MessageWindow() override;

  // Queues a message behind those already posted; safe from any thread. Messages still
  // queued when the window is destroyed are dropped.
  void PostMessage(unsigned msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);

  // Handles a message at once on the window's thread; from another thread it waits until
  // the window's thread has handled it.
  void SendMessage(unsigned msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);

  // Starts or restarts timer `id`, ticking every `intervalMs` milliseconds as kTimerMessage.
  void SetTimer(unsigned id, int intervalMs);
  void KillTimer(unsigned id);
  bool HasTimer(unsigned id) const { return timers_.count(id) != 0; }

 protected:
  bool event(QEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  void Dispatch(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);

  Handler handler_;
  std::map<unsigned, int> timers_;  // our id -> Qt timer id
};

}  // namespace sonarelle
