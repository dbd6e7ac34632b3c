// Orderly stops. Every failure of a run ends the process with exit status 1
// after one message; nothing is returned to callers. A pending output file
// (the temporary file that write_file renames into place) is removed first,
// so a failed or interrupted run never leaves a partial output behind.
#pragma once

#include <signal.h>

#include <cstdio>

namespace vesk {

constexpr int exit_failure = 1;

// Where the run's messages go: standard output, as file-to-file runs have
// always printed them, or standard error when standard output carries data.
void set_messages_to_stderr(bool on);
FILE* message_stream();

// Prints the message with printf formatting and ends the process.
[[noreturn]] void fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Internal check: prints "assertion "<text>" failed: <file>:<line>" and ends
// the process when ok is false. `text` names the condition: the checks vesk
// has always made print the texts they always printed (some in the
// program's first names: allocstore, alloctablec, rand_value), later ones a
// short description. File and line are the caller's (the build maps source
// paths to the tree's own).
inline void check(bool ok, const char* text, const char* file = __builtin_FILE(),
                  int line = __builtin_LINE());
[[noreturn]] void check_failed(const char* text, const char* file, int line);

inline void check(bool ok, const char* text, const char* file, int line) {
  if (!ok) [[unlikely]]
    check_failed(text, file, line);
}

// The temporary output file to delete if the run stops before it is renamed
// into place: a name inside the directory open as dir_fd. clear_pending_output
// forgets it (after the rename). The name is copied.
void set_pending_output(int dir_fd, const char* name);
void clear_pending_output();

// Removes the pending output, if any. Async-signal-safe.
void remove_pending_output();

// SIGINT, SIGTERM and SIGHUP remove the pending output and end the process
// by the same signal. Installed once at start-up.
void install_stop_signals();

// Blocks those signals while a pending output is created or renamed, so
// that it is never on disk without being registered.
struct stop_signals_blocked {
  stop_signals_blocked();
  ~stop_signals_blocked();
  stop_signals_blocked(const stop_signals_blocked&) = delete;
  stop_signals_blocked& operator=(const stop_signals_blocked&) = delete;
  sigset_t saved;
};

// Blocks those signals for the rest of the process: once the output is
// renamed into place, the run has succeeded, and a stop that came after it
// must not report otherwise.
void block_stop_signals();

// For harnesses that run the decoders in-process (the fuzz targets): called
// after the message, before the process would end; a refusal may throw to
// unwind, an internal check should abort. Null (the default) ends the process.
enum class stop_kind { refusal, internal };
using stop_hook = void (*)(stop_kind);
void set_stop_hook(stop_hook hook);

}  // namespace vesk
