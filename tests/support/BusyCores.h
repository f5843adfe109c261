#pragma once

#include <QProcess>
#include <QStringList>
#include <QThread>
#include <algorithm>
#include <memory>
#include <vector>

// Keeps every core busy (two at least) with processes of its own while it lives: the load
// the real-time paths are tried under, in benchmarks and tests alike.
class BusyCores {
 public:
  BusyCores() {
    for (int i = 0; i < std::max(2, QThread::idealThreadCount()); ++i) {
      burners_.push_back(std::make_unique<QProcess>());
      burners_.back()->start(QStringLiteral("sh"),
                             {QStringLiteral("-c"), QStringLiteral("while :; do :; done")});
      burners_.back()->waitForStarted();
    }
  }
  ~BusyCores() {
    for (auto& burner : burners_) {
      burner->kill();
      burner->waitForFinished();
    }
  }
  BusyCores(const BusyCores&) = delete;
  BusyCores& operator=(const BusyCores&) = delete;

  int Count() const { return int(burners_.size()); }

 private:
  std::vector<std::unique_ptr<QProcess>> burners_;
};
