#include "harness.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "util/arena.h"
#include "util/fail.h"

namespace vesk::fuzz {

namespace {

std::string dir;

void on_stop(stop_kind kind) {
  if (kind == stop_kind::refusal) throw refused{};
  std::abort();  // an internal check: a bug
}

void remove_scratch() {
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace

void init() {
  if (!dir.empty()) return;
  // The arena installs its fault handler; keep the sanitizer's or the
  // fuzzer's, which report more.
  struct sigaction segv, bus;
  sigaction(SIGSEGV, nullptr, &segv);
  sigaction(SIGBUS, nullptr, &bus);
  arena_init();
  sigaction(SIGSEGV, &segv, nullptr);
  sigaction(SIGBUS, &bus, nullptr);
  set_stop_hook(on_stop);
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vesk-fuzz-XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  dir = tmpl;
  std::atexit(remove_scratch);
}

std::string scratch(const char* name) {
  return dir + "/" + name;
}

void write_whole(const std::string& path, const uint8_t* data, size_t n) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
  if (!f) std::abort();
}

std::string read_whole(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

int64_t arena_mark() {
  return arena_blocks();
}

void arena_reset(int64_t mark) {
  arena_unwind(mark);
}

}  // namespace vesk::fuzz
