#include "util/memory_limits.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "util/call.h"
#include "util/fail.h"

namespace vesk {

namespace {


// Reads up to room - 1 bytes of a small file into buf, NUL-terminated,
// without touching the heap (the refusal reads /proc while the heap may be
// out of memory). False when it cannot be read.
bool read_small(const char* path, char* buf, size_t room) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t got = 0;
  while (got + 1 < room) {
    const ssize_t r = read(fd, buf + got, room - 1 - got);
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  close(fd);
  buf[got] = '\0';
  return true;
}

std::string read_text(const std::string& path) {
  std::vector<char> buf(1 << 16);
  if (!read_small(path.c_str(), buf.data(), buf.size())) return "";
  return buf.data();
}

// A limit file's value: a byte count, or -1 for "max", a value too large
// to be a limit (cgroup v1 writes its page counter's maximum), or no file.
int64_t read_limit(const std::string& path) {
  const std::string t = read_text(path);
  if (t.empty() || t.compare(0, 3, "max") == 0) return -1;
  char* end = nullptr;
  const long long v = std::strtoll(t.c_str(), &end, 10);
  if (end == t.c_str() || v <= 0 || v >= (int64_t{1} << 60)) return -1;
  return v;
}

bool has_token(const std::string& list, const std::string& token) {
  std::stringstream ss(list);
  std::string item;
  while (std::getline(ss, item, ','))
    if (item == token) return true;
  return false;
}

// The limits of one hierarchy, from the process's group up to the mount's
// root. `path` is the group (from /proc/self/cgroup), `mount_root` the part
// of the hierarchy mounted at `dir`.
void hierarchy_limits(const std::string& path, const std::string& mount_root,
                      const std::string& dir, bool v2, memory_limits& l) {
  std::string rel;
  if (mount_root == "/") {
    rel = path;
  } else if (path.compare(0, mount_root.size(), mount_root) == 0) {
    rel = path.substr(mount_root.size());
  }
  if (rel == "/") rel.clear();
  const char* limit_file = v2 ? "/memory.max" : "/memory.limit_in_bytes";
  const char* usage_file = v2 ? "/memory.current" : "/memory.usage_in_bytes";
  for (;;) {
    const std::string group = dir + rel;
    const int64_t limit = read_limit(group + limit_file);
    if (limit > 0) {
      const int64_t usage = std::max<int64_t>(read_limit(group + usage_file), 0);
      const int64_t room = std::max<int64_t>(limit - usage, 0);
      l.cgroup_limit = l.cgroup_limit < 0 ? limit : std::min(l.cgroup_limit, limit);
      l.cgroup_room = l.cgroup_room < 0 ? room : std::min(l.cgroup_room, room);
    }
    if (rel.empty()) break;
    rel.resize(rel.rfind('/'));
  }
}

void cgroup_limits(const std::string& root, memory_limits& l) {
  // Lines "id:controllers:path"; v2 is "0::path", v1's memory hierarchy
  // names "memory" among its controllers.
  std::string v2_path, v1_path;
  bool in_v2 = false, in_v1 = false;
  std::stringstream groups(read_text(root + "/proc/self/cgroup"));
  for (std::string line; std::getline(groups, line);) {
    const size_t a = line.find(':'), b = line.find(':', a + 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    const std::string id = line.substr(0, a), ctl = line.substr(a + 1, b - a - 1);
    if (id == "0" && ctl.empty()) {
      v2_path = line.substr(b + 1);
      in_v2 = true;
    } else if (has_token(ctl, "memory")) {
      v1_path = line.substr(b + 1);
      in_v1 = true;
    }
  }
  // Lines "id parent dev root mountpoint options... - fstype source superoptions".
  std::stringstream mounts(read_text(root + "/proc/self/mountinfo"));
  for (std::string line; std::getline(mounts, line);) {
    std::stringstream ss(line);
    std::vector<std::string> f;
    for (std::string w; ss >> w;) f.push_back(w);
    const auto dash = std::find(f.begin(), f.end(), "-");
    if (f.size() < 5 || dash == f.end() || f.end() - dash < 4) continue;
    const std::string& type = dash[1];
    const std::string& super = dash[3];
    if (type == "cgroup2" && in_v2) hierarchy_limits(v2_path, f[3], root + f[4], true, l);
    if (type == "cgroup" && in_v1 && has_token(super, "memory"))
      hierarchy_limits(v1_path, f[3], root + f[4], false, l);
  }
}

int64_t mem_available(const std::string& root) {
  std::stringstream info(read_text(root + "/proc/meminfo"));
  for (std::string line; std::getline(info, line);) {
    long long kb = 0;
    if (std::sscanf(line.c_str(), "MemAvailable: %lld kB", &kb) == 1) return kb * 1024;
  }
  return -1;
}

// memory_text into a buffer, without the heap.
void format_memory(char* buf, size_t room, int64_t bytes, bool up) {
  const double b = static_cast<double>(std::max<int64_t>(bytes, 0));
  if (b < 1e9) {
    const double mb = up ? std::ceil(b / 1e6) : std::round(b / 1e6);
    std::snprintf(buf, room, "%.0f MB", mb);
  } else {
    const double gb = up ? std::ceil(b / 1e8) / 10 : std::round(b / 1e8) / 10;
    std::snprintf(buf, room, "%.1f GB", gb);
  }
}

}  // namespace

memory_limits read_memory_limits(const std::string& root) {
  memory_limits l;
  rlimit rl{};
  if (getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY)
    l.address_space = static_cast<int64_t>(rl.rlim_cur);
  cgroup_limits(root, l);
  l.available = mem_available(root);
  return l;
}

int64_t usable_memory(const memory_limits& l) {
  int64_t u = l.cgroup_room;
  if (l.available >= 0) u = u < 0 ? l.available : std::min(u, l.available);
  return u;
}

int64_t address_space_in_use() {
  char buf[256];
  if (!read_small("/proc/self/statm", buf, sizeof buf)) return 0;
  return std::strtoll(buf, nullptr, 10) * sysconf(_SC_PAGESIZE);
}

void set_expected_address_space(int64_t bytes) {
  if (current_call != nullptr) current_call->expected_address_space.store(bytes, std::memory_order_relaxed);
}

std::string memory_text(int64_t bytes, bool up) {
  char buf[32];
  format_memory(buf, sizeof buf, bytes, up);
  return buf;
}

void refuse_memory(int64_t more) {
  const int64_t expected =
      current_call != nullptr ? current_call->expected_address_space.load(std::memory_order_relaxed) : 0;
  const int64_t need = std::max(expected,
                                address_space_in_use() + std::max<int64_t>(more, 0));
  char need_text[32], limit_text[32];
  format_memory(need_text, sizeof need_text, need, true);
  rlimit rl{};
  if (getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) {
    format_memory(limit_text, sizeof limit_text, static_cast<int64_t>(rl.rlim_cur), false);
    fail_as(failure_kind::memory,
            "this file needs about %s of memory; the address-space limit (ulimit -v) is %s",
            need_text, limit_text);
  }
  format_memory(limit_text, sizeof limit_text, more, true);
  fail_as(failure_kind::memory, "this file needs about %s of memory; the system refused %s more",
          need_text, limit_text);
}

}  // namespace vesk
