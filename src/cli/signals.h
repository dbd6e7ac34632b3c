// The program's signals: a stop (SIGINT, SIGTERM, SIGHUP) removes the
// pending output and ends the process by the same signal; a fault
// (SIGSEGV, SIGBUS) says so, removes it too and ends by the fault.
#pragma once

#include <signal.h>

namespace vesk {

constexpr int exit_failure = 1;

// The temporary output file to delete if the process is stopped by a
// signal before it is renamed into place: a name inside the directory open
// as dir_fd. clear_pending_output forgets it (after the rename or the
// removal). The name is copied.
void set_pending_output(int dir_fd, const char* name);
void clear_pending_output();

// Removes the pending output, if any. Async-signal-safe.
void remove_pending_output();

// Installs the handlers, once at start-up.
void install_stop_signals();
void install_fault_handler();

// Blocks the stop signals for the rest of the run: once its last output is
// renamed into place, the run has succeeded, and a stop that comes after it
// must not report otherwise. A run of several files unblocks them again
// before the next file.
void block_stop_signals();
void unblock_stop_signals();

}  // namespace vesk
