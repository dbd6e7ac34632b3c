// One call into the core, and what the core may know of its caller: set
// on the calling thread for the call's duration (call_scope) and handed by
// helper_thread to every thread the call starts. Besides it the core keeps
// no state from one call to the next, and several calls run at once on
// different threads, each with its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace vesk {

struct progress_board;
struct prefault_queue;

struct call_state {
  progress_board* progress = nullptr;  // where the call's progress goes; null: nowhere
  prefault_queue* prefault = nullptr;  // the call's page prefaulter; null: pages fault where used
  int threads = 1;                     // threads the call may run at once, its own included
  // The core's notes for a person (a text coded with the mixed method, a
  // memory warning, fewer frames at once); empty: dropped.
  std::function<void(const std::string&)> notice;
  // The address space the call expects to need at its peak, for the
  // figure a refusal for want of memory quotes; 0: not known.
  std::atomic<int64_t> expected_address_space{0};
};

inline thread_local call_state* current_call = nullptr;

// Sets the call on this thread, and the floating-point mode the models'
// arithmetic relies on (round to nearest, no flush of subnormals to zero),
// whatever the host set; both are restored when the scope ends.
struct call_scope {
  explicit call_scope(call_state& c);
  ~call_scope();
  call_scope(const call_scope&) = delete;
  call_scope& operator=(const call_scope&) = delete;
  call_state* previous;
  uint32_t saved_mode;
};

// The floating-point mode of a thread that the core starts.
void set_model_float_mode();

// A note for the caller (call_state::notice).
void notice(const std::string& text);

// Threads the current call may run at once (1 outside a call).
inline int call_threads() {
  return current_call != nullptr ? current_call->threads : 1;
}

}  // namespace vesk
