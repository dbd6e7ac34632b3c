#include "cli/options.h"

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
  char same_as;  // the short option it spells out (capitals: long only)
  bool value;
};
constexpr long_option long_options[] = {
    {"compress", 'c', false}, {"decompress", 'd', false}, {"uncompress", 'd', false},
    {"test", 't', false},     {"list", 'l', false},       {"threads", 'T', true},
    {"quiet", 'q', false},    {"verbose", 'v', false},    {"force", 'f', false},
    {"keep", 'k', false},     {"output", 'o', true},      {"stdout", 'S', false},
    {"to-stdout", 'S', false}, {"rm", 'R', false},        {"help", 'h', false},
    {"version", 'V', false},  {"frame-size", 'F', true},  {"method", 'M', true},
    {"best", '9', false},
};
constexpr const char* short_flags = "cdtlqvfkhV9";
constexpr const char* short_with_value = "To";

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

std::optional<run_options> parse_options(int argc, const char* const* argv, std::string& why,
                                         bool every_input) {
  run_options o;
  if (every_input) {
    o.mode = run_mode::decompress;
    o.mode_given = true;
  }
  int modes = 0;  // -c, -d, -t, -l given
  bool info = false;  // -h or -V
  // Applies option `c` (as spelled: `name`) with its value (nullptr when it
  // takes none).
  auto apply = [&](char c, const std::string& name, const char* value) -> bool {
    auto set_mode = [&](run_mode m) {
      if (modes > 0 && o.mode != m) {
        why = "-c, -d, -t and -l exclude each other";
        return false;
      }
      o.mode = m;
      o.mode_given = true;
      modes++;
      return true;
    };
    switch (c) {
      case 'c':
        return set_mode(run_mode::compress);
      case 'd':
        return set_mode(run_mode::decompress);
      case 't':
        return set_mode(run_mode::test);
      case 'l':
        return set_mode(run_mode::list);
      case 'q':
        o.quiet = true;
        return true;
      case 'v':
        o.verbose = true;
        return true;
      case 'f':
        o.force = true;
        return true;
      case 'k':
        return true;  // originals are kept anyway
      case '9':
        o.strong = true;
        return true;
      case 'S':
        o.to_stdout = true;
        return true;
      case 'R':
        o.remove = true;
        return true;
      case 'h':
      case 'V':
        info = true;
        o.mode = c == 'h' ? run_mode::help : run_mode::version;
        return true;
      case 'o':
        if (*value == '\0') {
          why = name + " needs a file name";
          return false;
        }
        o.output = value;
        return true;
      case 'T': {
        const int64_t t = parse_count(value, most_threads);
        if (t < 0) {
          why = name + " takes a number of threads from 0 to 4096, not '" + value + "'";
          return false;
        }
        o.threads = static_cast<int>(t);
        return true;
      }
      case 'F':
        o.frame_size = parse_size(value);
        if (o.frame_size < frame_size_least || o.frame_size > frame_size_most) {
          why = name + " takes a size from 64K to 1,001,000,000 bytes, not '" + value + "'";
          return false;
        }
        return true;
      case 'M':
        if (std::strcmp(value, "text") == 0) {
          o.forced = method::text;
        } else if (std::strcmp(value, "mixed") == 0) {
          o.forced = method::mixed;
        } else if (std::strcmp(value, "stored") == 0) {
          o.forced = method::stored;
        } else {
          why = name + " takes text, mixed or stored, not '" + value + "'";
          return false;
        }
        return true;
      default:
        return false;
    }
  };
  bool operands_only = false;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    if (operands_only || a[0] != '-' || a[1] == '\0') {  // a file, or "-"
      o.files.emplace_back(a);
      continue;
    }
    if (std::strcmp(a, "--") == 0) {
      operands_only = true;
      continue;
    }
    if (a[1] == '-') {
      const char* name = a + 2;
      const char* eq = std::strchr(name, '=');
      const size_t len = eq != nullptr ? static_cast<size_t>(eq - name) : std::strlen(name);
      const long_option* found = nullptr;
      for (const auto& l : long_options)
        if (std::strlen(l.name) == len && std::strncmp(l.name, name, len) == 0) found = &l;
      const std::string spelled = "--" + std::string(name, len);
      if (found == nullptr) {
        why = "unknown option '" + spelled + "'";
        return std::nullopt;
      }
      const char* value = nullptr;
      if (found->value) {
        if (eq != nullptr) {
          value = eq + 1;
        } else if (i + 1 < argc) {
          value = argv[++i];
        } else {
          why = spelled + " needs a value";
          return std::nullopt;
        }
      } else if (eq != nullptr) {
        why = spelled + " takes no value";
        return std::nullopt;
      }
      if (!apply(found->same_as, spelled, value)) return std::nullopt;
      continue;
    }
    for (const char* p = a + 1; *p != '\0'; p++) {
      const char c = *p;
      const std::string spelled = std::string("-") + c;
      if (std::strchr(short_with_value, c) != nullptr) {
        const char* value = p[1] != '\0' ? p + 1 : i + 1 < argc ? argv[++i] : nullptr;
        if (value == nullptr) {
          why = spelled + (c == 'T' ? " needs a number of threads" : " needs a file name");
          return std::nullopt;
        }
        if (!apply(c, spelled, value)) return std::nullopt;
        break;
      }
      if (std::strchr(short_flags, c) == nullptr) {
        why = "unknown option '" + spelled + "'";
        return std::nullopt;
      }
      if (!apply(c, spelled, nullptr)) return std::nullopt;
    }
  }
  if (info) return o;
  // What applies to one direction only is refused in the others, never
  // ignored.
  const bool compressing = o.mode == run_mode::compress;
  const char* only_compress = o.frame_size != 0 ? "--frame-size"
                              : o.forced        ? "--method"
                              : o.strong        ? "-9"
                                                : nullptr;
  if (!compressing && only_compress != nullptr) {
    why = std::string(only_compress) + " applies only when compressing";
    return std::nullopt;
  }
  const bool writes = o.mode == run_mode::compress || o.mode == run_mode::decompress;
  const char* only_writing = o.output      ? "-o"
                             : o.to_stdout ? "--stdout"
                             : o.force     ? "-f"
                             : o.remove    ? "--rm"
                                           : nullptr;
  if (!writes && only_writing != nullptr) {
    why = std::string(only_writing) + " does not apply to " + (o.mode == run_mode::test ? "-t" : "-l");
    return std::nullopt;
  }
  if (o.mode == run_mode::list && o.threads) {
    why = "-T does not apply to -l";
    return std::nullopt;
  }
  if (o.remove && (o.to_stdout || o.files.empty())) {
    why = o.to_stdout ? "--rm does not apply with --stdout" : "--rm applies to file operands";
    return std::nullopt;
  }
  if (o.output && o.to_stdout) {
    why = "-o and --stdout exclude each other";
    return std::nullopt;
  }
  if (o.mode == run_mode::list && o.files.empty()) {
    why = "-l needs a file to list";
    return std::nullopt;
  }
  return o;
}

}  // namespace vesk
