// Terminals: the built binary runs under a pseudo-terminal, draws its
// progress line, clears it at the end, and codes exactly what it codes
// without a terminal, where standard error stays empty; as a filter it
// refuses a terminal for its data.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <regex>
#include <stdexcept>

#include "support/support.h"

namespace vesk::test {
namespace {

// Random bytes: the mixed method's slowest input, a few tenths of a second
// each way. The display's quiet start is shortened to 40 ms (redrawn every
// 10 ms) so that such a run shows its line; the default second is kept for
// the short run that must show nothing.
constexpr size_t noise_bytes = 150'000;

// Runs vesk with a pseudo-terminal of 80 columns as its standard output
// and error; `out` is everything the terminal received.
run_result run_on_terminal(const std::vector<std::string>& args, bool quick = true) {
  winsize ws{24, 80, 0, 0};
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
  if (pid < 0) throw std::runtime_error("forkpty");
  if (pid == 0) {
    if (quick) setenv("VESK_PROGRESS_QUIET_MS", "40", 1);
    exec_vesk(args);
  }
  run_result r;
  char buf[4096];
  // Until EIO: the child has closed the terminal.
  for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR);)
    if (n > 0) r.out.append(buf, static_cast<size_t>(n));
  int st = 0;
  waitpid(pid, &st, 0);
  close(master);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// Checks what a terminal received: the run's first line, then progress
// lines, each drawn from the line's start ("\r") and padded over the one
// before, then the line blanked in full, the cursor back at its start, and
// what matches `after`. Returns the highest percent shown.
int check_terminal(const std::string& s, const std::string& first, const std::string& after) {
  EXPECT_EQ(s.substr(0, first.size() + 2), first + "\r\n") << s;
  std::vector<std::string> lines;  // the progress lines, padding removed
  size_t widest = 0, at = first.size() + 2;
  bool cleared = false;
  while (!cleared && at < s.size() && s[at] == '\r') {
    const size_t end = std::min(s.find('\r', at + 1), s.size());
    const std::string piece = s.substr(at + 1, end - at - 1);
    cleared = piece.find_first_not_of(' ') == std::string::npos;
    if (cleared) {
      EXPECT_TRUE(end < s.size() && !lines.empty() && piece.size() >= widest) << s;
    } else {
      widest = std::max(widest, piece.size());
      lines.push_back(piece.substr(0, piece.find_last_not_of(' ') + 1));
    }
    at = cleared ? end + 1 : end;
  }
  EXPECT_TRUE(cleared) << s;
  EXPECT_TRUE(std::regex_match(s.substr(std::min(at, s.size())), std::regex(after)))
      << s.substr(std::min(at, s.size()));
  EXPECT_GE(lines.size(), 2u) << "a run of several seconds redraws its line";
  const std::regex phase(R"([a-z ]+ [0-9.]+ (B|KB|MB)  [0-9]+s)"),
      stream(R"(([a-z0-9 ]+) [0-9.]+ (B|KB|MB)  ([0-9]+)%(  [0-9.]+ (KB|MB)/s  [0-9hms]+ left)?)");
  int most = -1;
  bool rate_shown = false;
  for (const auto& line : lines) {
    std::smatch m;
    EXPECT_LT(line.size(), 80u);
    if (std::regex_match(line, phase)) continue;
    EXPECT_TRUE(std::regex_match(line, m, stream)) << "'" << line << "'";
    if (m.size() > 4) {
      most = std::max(most, std::atoi(m[3].str().c_str()));
      rate_shown |= m[4].matched;
    }
  }
  EXPECT_TRUE(rate_shown);
  return most;
}

// Both ways: the line is drawn and cleared, and the coded bytes are those
// of a run without a terminal, whose standard error stays empty.
TEST(TerminalProgress, ShownOnATerminalClearedAtTheEndAndCodesTheSame) {
  scratch_dir d;
  const bytes data = random_bytes(noise_bytes, 77);
  write_bytes(d.path("noise.dat"), data);
  const struct {
    const char* mode;
    std::string tty_in, plain_in, out;  // the plain run writes out + "-plain"
    const char* first;
  } runs[] = {{"-c", d.path("noise.dat"), d.path("noise.dat"), d.path("packed"), "Compressing mixed"},
              {"-d", d.path("packed"), d.path("packed-plain"), d.path("restored"),
               "Decompressing mixed"}};
  for (const auto& r : runs) {
    SCOPED_TRACE(r.first);
    const run_result t = run_on_terminal({r.mode, r.tty_in, r.out});
    ASSERT_EQ(t.status, 0) << t.out;
    // The run ends with its summary on the clean line.
    EXPECT_GT(check_terminal(t.out, r.first, ".* -> .*: [0-9,]+ -> [0-9,]+ bytes \\([0-9.]+%\\), mixed, "
                                             "[0-9.]+ s, [0-9.]+ MB/s\r\n"),
              0);
    const run_result p = run_split(vesk_command({r.mode, r.plain_in, r.out + "-plain"}));
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.out, std::string(r.first) + "\n");
    EXPECT_EQ(p.err, "");
  }
  EXPECT_TRUE(read_bytes(d.path("packed-plain")) == read_bytes(d.path("packed")));
  EXPECT_TRUE(read_bytes(d.path("restored")) == data);
  EXPECT_TRUE(read_bytes(d.path("restored-plain")) == data);
}

TEST(TerminalProgress, AFailureMessageStartsOnACleanLine) {
  scratch_dir d;
  write_bytes(d.path("noise.dat"), random_bytes(noise_bytes, 78));
  ASSERT_EQ(run_vesk({"-q", "-c", d.path("noise.dat"), d.path("packed")}).status, 0);
  // A damaged archive: the run fails once it has decoded, after the
  // progress line has been shown.
  bytes b = read_bytes(d.path("packed"));
  b[b.size() / 2] ^= 0x10;
  write_bytes(d.path("packed"), b);
  const run_result r = run_on_terminal({"-d", d.path("packed"), d.path("out")});
  EXPECT_EQ(r.status, 1);
  check_terminal(r.out, "Decompressing mixed",
                 "vesk: " + d.path("packed") + " is damaged \\(.*\\); nothing was written\r\n");
}

// A filter's data never comes from or goes to a terminal.
TEST(Frames, TerminalsAreRefused) {
  for (const auto& args : {std::vector<std::string>{}, {"-d"}, {"-c", "-", "-"}}) {
    const run_result r = run_on_terminal(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("terminal; give"), std::string::npos) << r.out;
  }
}

TEST(TerminalProgress, ShortRunOnATerminalShowsNothing) {
  scratch_dir d;
  write_bytes(d.path("small.txt"), text_sample(2000, 5));
  // The start line and the summary, no progress line.
  const std::regex summary("(Compressing|Decompressing) text\r\n[^\r]* -> [^\r]*, text, [0-9.]+ s, [0-9.]+ MB/s\r\n");
  EXPECT_TRUE(std::regex_match(run_on_terminal({"-c", d.path("small.txt"), d.path("packed")}, false).out, summary));
  EXPECT_TRUE(std::regex_match(run_on_terminal({"-d", d.path("packed"), d.path("out")}, false).out, summary));
  EXPECT_TRUE(read_bytes(d.path("out")) == text_sample(2000, 5));
}

}  // namespace
}  // namespace vesk::test
