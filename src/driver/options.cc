#include "driver/options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "driver/frames.h"

namespace vesk {

namespace {

// Parses a whole decimal number in [0, most], or returns -1.
int64_t parse_count(std::string_view s, int64_t most) {
  if (s.empty() || s.size() > 18) return -1;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return -1;
    v = 10 * v + (c - '0');
  }
  return v <= most ? v : -1;
}

constexpr int64_t most_threads = 4096;

struct long_option {
  const char* name;
  char same_as;  // the short option it spells out
  bool value;
};
constexpr long_option long_options[] = {
    {"compress", 'c', false}, {"decompress", 'd', false}, {"test", 't', false},
    {"threads", 'T', true},   {"quiet", 'q', false},      {"help", 'h', false},
    {"version", 'V', false},  {"frame-size", 'F', true},  {"method", 'M', true},
};

}  // namespace

int64_t parse_size(const std::string& text) {
  std::string_view s = text;
  int64_t unit = 1;
  if (!s.empty()) {
    switch (s.back()) {
      case 'K':
      case 'k':
        unit = int64_t{1} << 10;
        break;
      case 'M':
      case 'm':
        unit = int64_t{1} << 20;
        break;
      case 'G':
      case 'g':
        unit = int64_t{1} << 30;
        break;
      default:
        break;
    }
    if (unit != 1) s.remove_suffix(1);
  }
  const int64_t v = parse_count(s, (int64_t{1} << 62) / unit);
  return v < 0 ? -1 : v * unit;
}

std::optional<run_options> parse_options(int argc, const char* const* argv, std::string& why) {
  run_options o;
  int modes = 0;  // -c, -d, -t given
  // Applies option `c` with its value (nullptr when it takes none).
  auto apply = [&](char c, const char* value) -> bool {
    switch (c) {
      case 'c':
        o.mode = run_mode::compress;
        modes++;
        return true;
      case 'd':
        o.mode = run_mode::decompress;
        modes++;
        return true;
      case 't':
        o.mode = run_mode::test;
        modes++;
        return true;
      case 'q':
        o.quiet = true;
        return true;
      case 'h':
        o.mode = run_mode::help;
        return true;
      case 'V':
        o.mode = run_mode::version;
        return true;
      case 'T': {
        if (value == nullptr) return false;
        const int64_t t = parse_count(value, most_threads);
        if (t < 0) {
          why = "-T takes a number of threads from 0 to 4096";
          return false;
        }
        o.threads = static_cast<int>(t);
        return true;
      }
      case 'F':
        if (value == nullptr) return false;
        o.frame_size = parse_size(value);
        if (o.frame_size < frame_size_least || o.frame_size > frame_size_most) {
          why = "--frame-size takes a size from 64K to 1,001,000,000 bytes";
          return false;
        }
        return true;
      case 'M':
        if (value == nullptr) return false;
        if (std::strcmp(value, "text") == 0)
          o.forced = method::text;
        else if (std::strcmp(value, "mixed") == 0)
          o.forced = method::mixed;
        else if (std::strcmp(value, "stored") == 0)
          o.forced = method::stored;
        else {
          why = "--method takes text, mixed or stored";
          return false;
        }
        return true;
      default:
        return false;
    }
  };
  int i = 1;
  for (; i < argc; i++) {
    const char* a = argv[i];
    if (std::strcmp(a, "--") == 0) {
      i++;
      break;
    }
    if (a[0] != '-' || a[1] == '\0') break;  // a file, or "-" for standard input/output
    if (a[1] == '-') {
      const char* name = a + 2;
      const char* eq = std::strchr(name, '=');
      const size_t len = eq != nullptr ? static_cast<size_t>(eq - name) : std::strlen(name);
      const long_option* found = nullptr;
      for (const auto& l : long_options)
        if (std::strlen(l.name) == len && std::strncmp(l.name, name, len) == 0) found = &l;
      if (found == nullptr) {
        why = std::string("unknown option ") + a;
        return std::nullopt;
      }
      const char* value = nullptr;
      if (found->value) {
        if (eq != nullptr)
          value = eq + 1;
        else if (i + 1 < argc)
          value = argv[++i];
        else {
          why = std::string(a) + " needs a value";
          return std::nullopt;
        }
      } else if (eq != nullptr) {
        why = std::string("--") + found->name + " takes no value";
        return std::nullopt;
      }
      if (!apply(found->same_as, value)) return std::nullopt;
      continue;
    }
    for (const char* p = a + 1; *p != '\0'; p++) {
      const char c = *p;
      if (std::strchr("cdtqhVT", c) == nullptr) {
        why = std::string("unknown option -") + c;
        return std::nullopt;
      }
      if (c == 'T') {
        const char* value = p[1] != '\0' ? p + 1 : i + 1 < argc ? argv[++i] : nullptr;
        if (value == nullptr) {
          why = "-T needs a number of threads";
          return std::nullopt;
        }
        if (!apply(c, value)) return std::nullopt;
        break;
      }
      if (!apply(c, nullptr)) return std::nullopt;
    }
  }
  for (; i < argc; i++) o.files.emplace_back(argv[i]);
  if (modes > 1) {
    why = "-c, -d and -t exclude each other";
    return std::nullopt;
  }
  if (o.mode == run_mode::help || o.mode == run_mode::version) return o;
  // What only compression uses is refused elsewhere, never ignored.
  if (o.mode != run_mode::compress) {
    const char* only = o.frame_size != 0 ? "--frame-size" : o.forced ? "--method" : nullptr;
    if (only != nullptr) {
      why = std::string(only) + " applies only when compressing";
      return std::nullopt;
    }
  }
  // Compress and decompress take an input and an output, or neither
  // (standard input to standard output); -t takes any number of files.
  if (o.mode != run_mode::test && o.files.size() != 0 && o.files.size() != 2) {
    why = "give an input and an output, or neither to use standard input and output";
    return std::nullopt;
  }
  return o;
}

}  // namespace vesk
