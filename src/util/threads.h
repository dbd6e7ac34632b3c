// Helper threads. The stop signals (SIGINT, SIGTERM, SIGHUP) are handled by
// the main thread alone: its handler removes the pending output, and the
// main thread blocks them while it creates or renames that output, so that
// the file is never on disk without being registered. A signal the kernel
// delivered to another thread could run the handler inside that window and
// leave the file behind; so every other thread blocks them from its first
// instruction on. The mask is inherited: it is set on the creating thread
// around the creation and restored after it.
#pragma once

#include <thread>
#include <utility>

#include "util/call.h"
#include "util/fail.h"

namespace vesk {

// Starts a thread running f with the stop signals blocked, in the call of
// the thread that starts it (call.h) and with the models' floating-point
// mode. Every thread of the program is made here. Throws std::system_error
// as std::thread does.
template <class F>
std::thread helper_thread(F&& f) {
  const stop_signals_blocked blocked;
  return std::thread([call = current_call, g = std::forward<F>(f)]() mutable {
    current_call = call;
    set_model_float_mode();
    g();
  });
}

}  // namespace vesk
