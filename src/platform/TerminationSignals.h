#pragma once

#include <functional>
#include <memory>

#include <QObject>

class QSocketNotifier;

namespace sonarelle {

// Turns SIGTERM, SIGHUP and SIGINT (a logout, a shutdown, Ctrl+C) into a call on the
// thread that made this object, so the program can finish its work before it ends. One at
// a time per process; the signals' former handling comes back when it is destroyed.
class TerminationSignals : public QObject {
 public:
  // Called on the owner's thread with the signal's number.
  explicit TerminationSignals(std::function<void(int signal)> onSignal);
  ~TerminationSignals() override;

 private:
  void Read();

  std::function<void(int)> onSignal_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace sonarelle
