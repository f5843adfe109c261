#include "platform/ProcessWait.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include <QFile>

namespace sonarelle {

namespace {

QString ErrnoText(int error) {
  return QString::fromStdString(std::error_code(error, std::generic_category()).message());
}

// Whether the process still runs. EPERM: it belongs to someone else. An ended process whose
// parent has not collected it yet (a zombie) still answers kill() but runs no more.
bool Running(pid_t pid) {
  if (::kill(pid, 0) != 0 && errno != EPERM) return false;
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return true;
  const QByteArray line = stat.readAll();
  // "pid (name) S ...": the name may hold anything, the state follows its last ")".
  const qsizetype close = line.lastIndexOf(')');
  if (close < 0 || close + 2 >= line.size()) return true;
  const char state = line[close + 2];
  return state != 'Z' && state != 'X';
}

}  // namespace

ProcessEndWait WaitForProcessEnd(pid_t pid) {
  ProcessEndWait result;
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (fd >= 0) {
    pollfd entry{fd, POLLIN, 0};
    int ready = 0;
    do {
      ready = ::poll(&entry, 1, -1);
    } while (ready < 0 && errno == EINTR);
    const int error = errno;
    ::close(fd);
    if (ready > 0) {
      result.how = ProcessEndWait::Ended;
      return result;
    }
    result.whyPolled = QStringLiteral("poll: ") + ErrnoText(error);
  } else if (errno == ESRCH) {
    return result;
  } else {
    // Kernels before 5.3 have no pidfd_open (ENOSYS). Any other refusal (out of descriptors)
    // must not let the caller go on while the process still runs either.
    result.whyPolled = QStringLiteral("pidfd_open: ") + ErrnoText(errno);
  }
  if (!Running(pid)) return result;
  result.how = ProcessEndWait::Polled;
  while (Running(pid)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return result;
}

}  // namespace sonarelle
