// Orderly stops. Every failure of a run ends the process with exit status 1
// after one message; nothing is returned to callers. A pending output file
// (the temporary file that write_file renames into place) is removed first,
// so a failed run never leaves a partial output behind.
#pragma once

#include <source_location>

namespace vesk {

constexpr int exit_failure = 1;

// Prints the message with printf formatting and ends the process.
[[noreturn]] void fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Internal check: prints "assertion "<text>" failed: <file>:<line>" and ends
// the process when ok is false. `text` is the condition as written.
inline void check(bool ok, const char* text,
                  std::source_location loc = std::source_location::current());
[[noreturn]] void check_failed(const char* text, const char* file, unsigned line);

inline void check(bool ok, const char* text, std::source_location loc) {
  if (!ok) [[unlikely]]
    check_failed(text, loc.file_name(), static_cast<unsigned>(loc.line()));
}

// The temporary output file to delete if the run stops before it is renamed
// into place; null when there is none. The path must stay valid while set.
void set_pending_output(const char* path);

// Removes the pending output, if any. Async-signal-safe.
void remove_pending_output();

}  // namespace vesk
