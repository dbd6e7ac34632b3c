// Progress on a terminal: the built binary runs under a pseudo-terminal,
// draws its progress line, clears it at the end, and codes exactly what it
// codes without a terminal, where standard error stays empty.
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
run_result run_on_terminal(std::vector<std::string> args, bool quick = true) {
  args.insert(args.begin(), VESK_BIN);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  winsize ws{24, 80, 0, 0};
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
  if (pid < 0) throw std::runtime_error("forkpty");
  if (pid == 0) {
    if (quick) setenv("VESK_PROGRESS_QUIET_MS", "40", 1);
    execv(argv[0], argv.data());
    _exit(127);
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

// What a terminal received after the run's first message: progress lines,
// each drawn from the line's start ("\r") and padded over the one before,
// then the line blanked and the cursor back at its start.
struct terminal_tail {
  std::vector<std::string> lines;  // the progress lines, padding removed
  bool cleared = false;            // the last one was blanked in full
  std::string after;               // what follows the blanking
};

terminal_tail parse_tail(const std::string& s) {
  terminal_tail t;
  size_t widest = 0, at = 0;
  while (at < s.size() && s[at] == '\r') {
    const size_t end = std::min(s.find('\r', at + 1), s.size());
    const std::string piece = s.substr(at + 1, end - at - 1);
    if (piece.find_first_not_of(' ') == std::string::npos) {
      t.cleared = end < s.size() && !t.lines.empty() && piece.size() >= widest;
      t.after = t.cleared ? s.substr(end + 1) : "";
      return t;
    }
    widest = std::max(widest, piece.size());
    t.lines.push_back(piece.substr(0, piece.find_last_not_of(' ') + 1));
    at = end;
  }
  t.after = s.substr(at);
  return t;
}

const std::regex stream_line(
    R"(([a-z0-9 ]+) [0-9.]+ (B|KB|MB)  ([0-9]+)%(  [0-9.]+ (KB|MB)/s  [0-9hms]+ left)?)");

// Checks the progress lines; returns the highest percent shown.
int check_lines(const terminal_tail& t) {
  EXPECT_GE(t.lines.size(), 2u) << "a run of several seconds redraws its line";
  int most = -1;
  bool rate_shown = false;
  for (const auto& line : t.lines) {
    std::smatch m;
    const bool phase = std::regex_match(line, std::regex(R"([a-z ]+ [0-9.]+ (B|KB|MB)  [0-9]+s)"));
    if (!phase) {
      EXPECT_TRUE(std::regex_match(line, m, stream_line)) << "'" << line << "'";
      if (m.size() > 4) {
        most = std::max(most, std::atoi(m[3].str().c_str()));
        rate_shown |= m[4].matched;
      }
    }
    EXPECT_LT(line.size(), 80u);
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
    std::vector<std::string> tty, plain;
    const char* first;
    const char* out;  // what both runs write
  } runs[] = {
      {{"-c", d.path("noise.dat"), d.path("on-terminal")},
       {"-c", d.path("noise.dat"), d.path("plain")}, "Compressing mixed", "on-terminal"},
      {{"-d", d.path("on-terminal"), d.path("restored")},
       {"-d", d.path("plain"), d.path("restored-plain")}, "Decompressing mixed", "restored"},
  };
  for (const auto& r : runs) {
    SCOPED_TRACE(r.first);
    const run_result t = run_on_terminal(r.tty);
    ASSERT_EQ(t.status, 0) << t.out;
    const std::string first = std::string(r.first) + "\r\n";
    ASSERT_EQ(t.out.substr(0, first.size()), first) << t.out;
    const terminal_tail tail = parse_tail(t.out.substr(first.size()));
    EXPECT_GT(check_lines(tail), 0);
    EXPECT_TRUE(tail.cleared) << t.out;
    EXPECT_EQ(tail.after, "");
    const run_result p = run_split(vesk_command(r.plain));
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.out, std::string(r.first) + "\n");
    EXPECT_EQ(p.err, "");
  }
  EXPECT_TRUE(read_bytes(d.path("plain")) == read_bytes(d.path("on-terminal")));
  EXPECT_TRUE(read_bytes(d.path("restored")) == data);
  EXPECT_TRUE(read_bytes(d.path("restored-plain")) == data);
}

TEST(TerminalProgress, AFailureMessageStartsOnACleanLine) {
  scratch_dir d;
  write_bytes(d.path("noise.dat"), random_bytes(noise_bytes, 78));
  // The output's folder does not exist: the run fails when it writes, after
  // the progress line has been shown.
  run_result r = run_on_terminal({"-c", d.path("noise.dat"), d.path("missing/out")});
  EXPECT_EQ(r.status, 1);
  const std::string first = "Compressing mixed\r\n";
  ASSERT_EQ(r.out.substr(0, first.size()), first) << r.out;
  const terminal_tail t = parse_tail(r.out.substr(first.size()));
  check_lines(t);
  EXPECT_TRUE(t.cleared) << r.out;
  EXPECT_EQ(t.after, "Cannot write " + d.path("missing/out") + ": No such file or directory\r\n");
}

TEST(TerminalProgress, ShortRunOnATerminalShowsNothing) {
  scratch_dir d;
  write_bytes(d.path("small.txt"), text_sample(2000, 5));
  EXPECT_EQ(run_on_terminal({"-c", d.path("small.txt"), d.path("packed")}, false).out,
            "Compressing text\r\n");
  EXPECT_EQ(run_on_terminal({"-d", d.path("packed"), d.path("out")}, false).out,
            "Decompressing text\r\n");
  EXPECT_TRUE(read_bytes(d.path("out")) == text_sample(2000, 5));
}

}  // namespace
}  // namespace vesk::test
