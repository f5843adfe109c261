#pragma once

#include <unistd.h>

#include <system_error>

#include <QString>

// Small helpers for the platform files that work on POSIX file descriptors.
namespace sonarelle::posix_file {

// The system's text for an errno value.
inline QString ErrnoText(int error) {
  return QString::fromStdString(std::error_code(error, std::generic_category()).message());
}

// An owned file descriptor, closed when it goes.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

}  // namespace sonarelle::posix_file
