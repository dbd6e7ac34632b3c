#include "cli/files.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "cli/signals.h"
#include "util/fail.h"

namespace vesk {

namespace {

// One read() or write() moves at most this much (Linux moves at most
// 0x7ffff000 bytes per call anyway).
constexpr uint64_t io_chunk = uint64_t{1} << 30;
constexpr int most_link_hops = 40;  // the kernel's own limit
constexpr const char* partial_tag = ".vesk-partial-";
constexpr int random_chars = 6;

[[noreturn]] void cannot_read(const char* path, int err) {
  fail_as(failure_kind::io, "Cannot read %s: %s", path, std::strerror(err));
}

[[noreturn]] void cannot_write(const char* path, int err) {
  fail_as(failure_kind::io, "Cannot write %s: %s", path, std::strerror(err));
}

// Opens a regular file for reading without blocking on a FIFO that took
// its place since it was looked at.
int open_regular(const char* path) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) cannot_read(path, errno);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    const int err = errno;
    close(fd);
    cannot_read(path, err);
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    fail("%s is not a regular file", path);
  }
  return fd;
}

// Moves up to n bytes with io(offset, count), which returns what read()
// or write() does, chunk by chunk and retrying interrupted calls. Returns
// the count moved: short only when io returns 0. Errors end the run.
template <class Io>
uint64_t move_bytes(uint64_t n, const char* path, void (*error)(const char*, int), Io io) {
  uint64_t done = 0;
  while (done < n) {
    const ssize_t r = io(done, n - done < io_chunk ? n - done : io_chunk);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) error(path, errno);
    if (r <= 0) break;
    done += static_cast<uint64_t>(r);
  }
  return done;
}

uint64_t read_fully(int fd, const char* path, uint8_t* dst, uint64_t n) {
  return move_bytes(n, path, cannot_read, [&](uint64_t at, uint64_t count) {
    return read(fd, dst + at, count);
  });
}

void write_fully(int fd, const char* path, const uint8_t* src, uint64_t n) {
  const uint64_t put = move_bytes(n, path, cannot_write, [&](uint64_t at, uint64_t count) {
    return write(fd, src + at, count);
  });
  if (put < n) cannot_write(path, ENOSPC);  // write() took nothing
}

struct split_path {
  std::string dir, base;
};

split_path split(const std::string& p) {
  const size_t slash = p.rfind('/');
  if (slash == std::string::npos) return {".", p};
  return {slash == 0 ? "/" : p.substr(0, slash), p.substr(slash + 1)};
}

// Follows a chain of symlinks to the name it ends at (which need not exist).
std::string final_name(const char* path) {
  std::string p = path;
  for (int hops = 0;; hops++) {
    struct stat st;
    if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
    if (hops == most_link_hops) cannot_write(path, ELOOP);
    std::string target(static_cast<size_t>(PATH_MAX), '\0');
    const ssize_t len = readlink(p.c_str(), target.data(), target.size());
    if (len < 0) cannot_write(path, errno);
    target.resize(static_cast<size_t>(len));
    p = target[0] == '/' ? target : split(p).dir + "/" + target;
  }
}

// "<base>.vesk-partial-XXXXXX", base shortened so that the whole fits in
// name_max bytes.
std::string partial_name(const std::string& base, long name_max) {
  const size_t tail = std::strlen(partial_tag) + random_chars;
  const size_t keep = name_max > static_cast<long>(tail) ? static_cast<size_t>(name_max) - tail : 0;
  std::string name = base.substr(0, keep) + partial_tag;
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  uint8_t r[random_chars] = {};
  if (getrandom(r, sizeof r, 0) != static_cast<ssize_t>(sizeof r)) {
    const auto v = static_cast<uint64_t>(getpid()) * 0x9E3779B97F4A7C15 ^ static_cast<uint64_t>(clock());
    for (int i = 0; i < random_chars; i++) r[i] = static_cast<uint8_t>(v >> (8 * i));
  }
  for (uint8_t c : r) name += alphabet[c % (sizeof alphabet - 1)];
  return name;
}

}  // namespace

int64_t file_size(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return -1;
    cannot_read(path, errno);
  }
  if (S_ISDIR(st.st_mode)) fail("%s is a directory", path);
  if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode)) return not_regular;
  if (!S_ISREG(st.st_mode)) fail("%s is not a regular file", path);
  return st.st_size;
}

uint64_t read_file(const char* path, uint8_t* dst, uint64_t n) {
  struct closer {
    int fd;
    ~closer() { close(fd); }
  } f{open_regular(path)};
  const uint64_t length = read_fully(f.fd, path, dst, n);
  // The buffer was sized from an earlier file_size: a file that shrank or
  // grew since would be coded wrongly, so refuse it.
  uint8_t more;
  if (length != n || read_fully(f.fd, path, &more, 1) != 0)
    fail_as(failure_kind::io, "Cannot read %s: it changed while it was read", path);
  return n;
}

bool is_device_directory(const char* dir) {
  char* real = realpath(dir, nullptr);
  if (real == nullptr) return false;
  const std::string r = real;
  std::free(real);
  const auto under = [&](const std::string& top) {
    return r == top || r.compare(0, top.size() + 1, top + "/") == 0;
  };
  return under("/dev") && !under("/dev/shm");
}

output_file::output_file(output_file&& o) noexcept {
  *this = std::move(o);
}

output_file& output_file::operator=(output_file&& o) noexcept {
  if (this != &o) {
    path = o.path;
    fd = o.fd;
    owns_fd = o.owns_fd;
    dir = o.dir;
    temp = std::move(o.temp);
    base = std::move(o.base);
    written = o.written;
    attributes = o.attributes;
    like = o.like;
    o.fd = o.dir = -1;
    o.owns_fd = false;
    o.temp.clear();
  }
  return *this;
}

output_file::~output_file() {
  // Not committed: the temporary file goes, and with it the pending name.
  if (!temp.empty()) {
    const stop_signals_blocked blocked;
    unlinkat(dir, temp.c_str(), 0);
    clear_pending_output();
  }
  if (owns_fd && fd >= 0) close(fd);
  if (dir >= 0) close(dir);
}

void output_take_attributes(output_file& o, const struct stat& st) {
  o.attributes = true;
  o.like = st;
}

output_file output_open(const char* path) {
  output_file o;
  o.path = path;
  // Messages printed so far come before anything written to a terminal or
  // a pipe.
  std::fflush(stdout);
  if (std::strcmp(path, "-") == 0) {
    o.fd = STDOUT_FILENO;
    return o;
  }
  struct stat st;
  const bool present = stat(path, &st) == 0;
  if (present && S_ISDIR(st.st_mode)) cannot_write(path, EISDIR);
  auto in_place = [&] {
    o.fd = open(path, O_WRONLY | O_CLOEXEC);
    if (o.fd < 0) cannot_write(path, errno);
    o.owns_fd = true;
    return std::move(o);
  };
  if (present && !S_ISREG(st.st_mode)) return in_place();
  const std::string target = final_name(path);
  struct stat tst;
  // A regular file reached through a link that names no path (a file
  // already deleted, seen through /proc/self/fd): only in place works.
  if (present && lstat(target.c_str(), &tst) != 0) return in_place();
  const split_path where = split(target);
  if (where.base.empty()) cannot_write(path, EISDIR);
  if (is_device_directory(where.dir.c_str()))
    fail_as(failure_kind::io, "Cannot write %s: vesk creates no files in /dev", path);
  o.dir = open(where.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (o.dir < 0) cannot_write(path, errno);
  long name_max = fpathconf(o.dir, _PC_NAME_MAX);
  if (name_max <= 0) name_max = NAME_MAX;
  o.base = where.base;
  {
    stop_signals_blocked blocked;
    std::string name;
    for (int attempt = 0; o.fd < 0 && attempt < 100; attempt++) {
      name = partial_name(where.base, name_max);
      o.fd = openat(o.dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (o.fd < 0 && errno != EEXIST) break;
    }
    if (o.fd < 0) cannot_write(path, errno);
    o.temp = name;
    o.owns_fd = true;
    set_pending_output(o.dir, o.temp.c_str());
  }
  // Replacing a file keeps its permission bits; a new one gets what a plain
  // create gives (0666 less the umask).
  if (present) fchmod(o.fd, st.st_mode & 07777);
  return o;
}

void output_write(output_file& o, const uint8_t* src, uint64_t n) {
  write_fully(o.fd, o.path, src, n);
  o.written += static_cast<int64_t>(n);
}

void output_commit(output_file& o) {
  if (o.temp.empty()) {
    const int fd = o.fd;
    o.fd = -1;
    if (o.owns_fd && close(fd) != 0) cannot_write(o.path, errno);
    return;
  }
  if (o.attributes) {
    // As xz and zstd do: the owner and group when root may set them, the
    // permission bits (after the owner, which may clear set-id bits), the
    // times last, after every write.
    if (geteuid() == 0 && fchown(o.fd, o.like.st_uid, o.like.st_gid) != 0) {
      // Another owner is not always possible (a file system without
      // owners): the file stays the caller's.
    }
    fchmod(o.fd, o.like.st_mode & 0777);
    const timespec times[2] = {o.like.st_atim, o.like.st_mtim};
    futimens(o.fd, times);
  }
  if (fsync(o.fd) != 0) cannot_write(o.path, errno);
  const int fd = o.fd;
  o.fd = -1;
  if (close(fd) != 0) cannot_write(o.path, errno);
  // From the rename on the run has succeeded: a stop signal that comes
  // later stays pending until the process has ended with status 0 (or
  // until the next file of the run).
  block_stop_signals();
  if (renameat(o.dir, o.temp.c_str(), o.dir, o.base.c_str()) != 0) cannot_write(o.path, errno);
  o.temp.clear();
  clear_pending_output();
  close(o.dir);
  o.dir = -1;
}

uint64_t write_file(const char* path, const uint8_t* src, uint64_t n) {
  output_file o = output_open(path);
  output_write(o, src, n);
  output_commit(o);
  return n;
}

bool writes_new_file(const char* path) {
  struct stat st;
  return std::strcmp(path, "-") != 0 && (stat(path, &st) != 0 || S_ISREG(st.st_mode));
}

bool is_same_file(int fd, const char* path) {
  struct stat a, b;
  if (fstat(fd, &a) != 0 || stat(path, &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int input_open(const char* path) {
  if (std::strcmp(path, "-") == 0) return STDIN_FILENO;
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) fail("%s not found", path);
    cannot_read(path, errno);
  }
  return fd;
}

input_file::~input_file() {
  if (fd > STDIN_FILENO) close(fd);
}

uint64_t input_read(int fd, const char* path, uint8_t* dst, uint64_t n) {
  return read_fully(fd, path, dst, n);
}

void input_read_at(int fd, const char* path, uint8_t* dst, uint64_t n, int64_t at) {
  const uint64_t got = move_bytes(n, path, cannot_read, [&](uint64_t done, uint64_t count) {
    return pread(fd, dst + done, count, static_cast<off_t>(static_cast<uint64_t>(at) + done));
  });
  if (got != n) fail_as(failure_kind::io, "Cannot read %s: it changed while it was read", path);
}

}  // namespace vesk
