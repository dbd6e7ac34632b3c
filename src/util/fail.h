// Failures. Anything that stops a call (bad input, a damaged archive,
// memory that cannot be had, a failed read or write, a cancel, an internal
// check) throws one `failure`, which carries its kind and its message and
// unwinds to the caller: the library returns its code, the command line
// prints the message and ends with status 1, having removed what the run
// left behind. Nothing in the core prints or ends the process.
#pragma once

#include <signal.h>

#include <exception>
#include <string>

namespace vesk {

// What went wrong, for callers that tell failures apart.
enum class failure_kind {
  input,     // an input that cannot be used: missing, too large, not a vesk file
  damaged,   // a compressed file that is damaged or foreign
  memory,    // memory that cannot be had
  io,        // a read or write that the system refused
  internal,  // an internal check: a bug
  cancelled, // the caller asked the work to stop
};

struct failure : std::exception {
  failure(failure_kind k, std::string m) : kind(k), message(std::move(m)) {}
  const char* what() const noexcept override { return message.c_str(); }
  failure_kind kind;
  std::string message;  // without a trailing newline
};

// Throws a failure of that kind with the message, printf-formatted (a
// trailing newline is dropped).
[[noreturn]] void fail_as(failure_kind kind, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));
// The same for an input that cannot be used.
[[noreturn]] void fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Internal check: throws an internal failure, "assertion "<text>" failed:
// <file>:<line>", when ok is false. `text` names the condition: the checks
// vesk has always made carry the texts they always printed (some in the
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

// Blocks the stop signals (SIGINT, SIGTERM, SIGHUP) on this thread while it
// lives: while a pending output is created or renamed, so that it is never
// on disk without being registered, and in every helper thread, so that
// the program's main thread alone runs their handler.
struct stop_signals_blocked {
  stop_signals_blocked();
  ~stop_signals_blocked();
  stop_signals_blocked(const stop_signals_blocked&) = delete;
  stop_signals_blocked& operator=(const stop_signals_blocked&) = delete;
  sigset_t saved;
};

}  // namespace vesk
