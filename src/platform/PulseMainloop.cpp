#include "platform/PulseMainloop.h"

namespace sonarelle {

PulseMainloop::PulseMainloop() : loop_(pa_threaded_mainloop_new()) {
  if (loop_ != nullptr && pa_threaded_mainloop_start(loop_) != 0) {
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
  }
}

PulseMainloop::~PulseMainloop() {
  if (loop_ == nullptr) {
    return;
  }
  pa_threaded_mainloop_lock(loop_);
  DropContext();
  pa_threaded_mainloop_unlock(loop_);
  pa_threaded_mainloop_stop(loop_);
  pa_threaded_mainloop_free(loop_);
}

bool PulseMainloop::Finish(pa_operation* op) {
  if (op == nullptr) {
    return false;
  }
  const bool done =
      Wait([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, kOperationTimeout);
  if (!done) {
    pa_operation_cancel(op);
  }
  pa_operation_unref(op);
  return done;
}

pa_context* PulseMainloop::Context(int& error) {
  if (Ready() != nullptr) {
    return context_;
  }
  DropContext();
  context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "sonarelle");
  if (context_ == nullptr) {
    error = PA_ERR_INTERNAL;
    return nullptr;
  }
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    error = pa_context_errno(context_);
    DropContext();
    return nullptr;
  }
  const bool settled = Wait(
      [this] {
        const pa_context_state_t state = pa_context_get_state(context_);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
      },
      kConnectTimeout);
  if (!settled || pa_context_get_state(context_) != PA_CONTEXT_READY) {
    error = settled ? pa_context_errno(context_) : PA_ERR_TIMEOUT;
    DropContext();
    return nullptr;
  }
  return context_;
}

pa_context* PulseMainloop::Ready() const {
  if (context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY) {
    return context_;
  }
  return nullptr;
}

void PulseMainloop::DropContext() {
  if (context_ != nullptr) {
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
  }
}

}  // namespace sonarelle
