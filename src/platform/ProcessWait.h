#pragma once

#include <sys/types.h>

#include <QString>

namespace sonarelle {

// How a wait for another process's end went.
struct ProcessEndWait {
  enum How {
    AlreadyGone,  // there was no such process
    Ended,        // waited on a process descriptor until it ended
    Polled,       // the kernel gave no process descriptor: asked every 100 ms until it ended
  };
  How how = AlreadyGone;
  QString whyPolled;  // the kernel's answer that made the wait fall back to polling
};

// Blocks without a time limit until the process `pid` (> 0) has ended, sleeping meanwhile.
// Any thread; the process need not be a child of this one.
ProcessEndWait WaitForProcessEnd(pid_t pid);

}  // namespace sonarelle
