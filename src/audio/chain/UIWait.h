#pragma once

namespace sonarelle {

// Waits `milliseconds`. With `processMessages` the calling thread's events are dispatched
// meanwhile, so the user interface stays alive; the wait ends early when the application is
// being destroyed. Without it the thread simply sleeps.
void WaitKeepingUIAlive(int milliseconds, bool processMessages);

}  // namespace sonarelle
