#pragma once

#include <sys/resource.h>

// CPU seconds used so far, user and system: by the whole process (RUSAGE_SELF) or by the
// calling thread (RUSAGE_THREAD).
inline double CpuSeconds(int who = RUSAGE_SELF) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
