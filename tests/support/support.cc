#include "support/support.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "util/arena.h"

namespace vesk::test {

scratch_dir::scratch_dir() {
  char tmpl[] = "/tmp/vesk-test-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
  dir = tmpl;
}

scratch_dir::~scratch_dir() {
  std::string cmd = "rm -rf '" + dir + "'";
  int r = std::system(cmd.c_str());
  (void)r;
}

bytes read_bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  return bytes(std::istreambuf_iterator<char>(f), {});
}

void write_bytes(const std::string& path, const bytes& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_dir(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  return names;
}

std::string vesk_command(const std::vector<std::string>& args) {
  std::string cmd = "'" VESK_BIN "'";
  for (const auto& a : args) cmd += " '" + a + "'";
  return cmd;
}

split_result run_split(const std::string& command) {
  scratch_dir d;
  const std::string cmd =
      command + " >'" + d.path("stdout") + "' 2>'" + d.path("stderr") + "' </dev/null";
  const int st = std::system(cmd.c_str());
  split_result r;
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  const bytes o = read_bytes(d.path("stdout")), e = read_bytes(d.path("stderr"));
  r.out.assign(o.begin(), o.end());
  r.err.assign(e.begin(), e.end());
  return r;
}

run_result run_vesk(const std::vector<std::string>& args) {
  return run_shell(vesk_command(args));
}

run_result run_shell(const std::string& command) {
  const std::string cmd = "{ " + command + "; } 2>&1";
  run_result r;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) throw std::runtime_error("popen");
  char buf[4096];
  size_t got;
  while ((got = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, got);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

bytes cli_round_trip(const std::string& name, const std::string& method_word, const bytes& data) {
  scratch_dir d;
  write_bytes(d.path(name), data);
  run_result c = run_vesk({"-c", d.path(name), d.path("packed")});
  EXPECT_EQ(c.status, 0) << c.out;
  EXPECT_EQ(c.out, "Compressing " + method_word + "\n");
  run_result x = run_vesk({"-d", d.path("packed"), d.path("out")});
  EXPECT_EQ(x.status, 0) << x.out;
  EXPECT_EQ(x.out, "Decompressing " + method_word + "\n");
  EXPECT_TRUE(read_bytes(d.path("out")) == data) << name << ", " << data.size() << " bytes";
  return read_bytes(d.path("packed"));
}

bool is_refusal(const run_result& r) {
  const bool message = r.out.find(" is damaged (") != std::string::npos ||
                       r.out.find(" is not a compressed file") != std::string::npos;
  return r.status == 1 && message && r.out.find("assertion") == std::string::npos &&
         r.out.find("Segmentation fault") == std::string::npos;
}

run_result expect_clean_failure(const bytes& archive, const std::string& what) {
  scratch_dir d;
  write_bytes(d.path("packed"), archive);
  write_bytes(d.path("kept"), {1, 2, 3});
  run_result r = run_vesk({"-d", d.path("packed"), d.path("kept")});
  EXPECT_TRUE(is_refusal(r)) << what << ": status " << r.status << ": " << r.out;
  EXPECT_EQ(read_bytes(d.path("kept")), (bytes{1, 2, 3})) << what;
  EXPECT_EQ(list_dir(d.dir).size(), 2u) << what;  // no temporary left
  return r;
}

void expect_flips_fail_cleanly(const bytes& good, size_t from, int trials, uint32_t seed) {
  std::mt19937 g(seed);
  for (int trial = 0; trial < trials; trial++) {
    bytes b = good;
    size_t at = from + g() % (b.size() - from);
    b[at] ^= static_cast<uint8_t>(1 + g() % 255);
    expect_clean_failure(b, "flip at " + std::to_string(at));
  }
}

void expect_all_damage_refused(const bytes& archive, const bytes& original) {
  scratch_dir d;
  const std::string packed = d.path("packed"), out = d.path("out");
  auto refused = [&](const bytes& b, const std::string& what) {
    write_bytes(packed, b);
    run_result r = run_vesk({"-d", packed, out});
    EXPECT_TRUE(is_refusal(r)) << what << ": status " << r.status << ": " << r.out;
    EXPECT_EQ(list_dir(d.dir).size(), 1u) << what;  // no output, no temporary
    if (exists(out)) std::remove(out.c_str());
  };
  const size_t trailer_at = archive.size() - 12;
  for (size_t len = 0; len < archive.size(); len++) {
    bytes b(archive.begin(), archive.begin() + static_cast<long>(len));
    if (len != trailer_at) {
      refused(b, "cut to " + std::to_string(len));
      continue;
    }
    // Without its trailer the archive reads as one of the first revision,
    // decoded with the first probability rows: they either code these
    // streams alike (the original comes back) or the damage is refused.
    write_bytes(packed, b);
    run_result r = run_vesk({"-d", packed, out});
    if (r.status == 0) {
      EXPECT_EQ(read_bytes(out), original) << "cut before the trailer";
      std::remove(out.c_str());
    } else {
      refused(b, "cut before the trailer");
    }
  }
  for (size_t at = 0; at < archive.size(); at++) {
    for (const uint8_t mask : {static_cast<uint8_t>(1u << (at % 8)), uint8_t{0xFF}}) {
      bytes b = archive;
      b[at] ^= mask;
      if (at == 0 && b[0] == 0) {
        // The stored layout has no check: this is a valid stored file.
        write_bytes(packed, b);
        run_result r = run_vesk({"-d", packed, out});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(read_bytes(out), bytes(b.begin() + 4, b.end()));
        std::remove(out.c_str());
        continue;
      }
      refused(b, "byte " + std::to_string(at) + " ^ " + std::to_string(mask));
    }
  }
}

void init_runtime() {
  static bool done = false;
  if (done) return;
  done = true;
  arena_init();
}

bytes random_bytes(size_t n, uint64_t seed) {
  std::mt19937_64 g(seed);
  bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(g());
  return b;
}

bytes every_byte() {
  bytes b(256);
  for (int i = 0; i < 256; i++) b[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  return b;
}

bytes text_sample(size_t n, uint64_t seed) {
  static const char* words[] = {
      "the",   "of",    "and",      "a",      "to",          "in",      "is",     "you",    "that",
      "it",    "he",    "was",      "for",    "on",          "are",     "as",     "with",   "his",
      "they",  "I",     "at",       "be",     "this",        "have",    "from",   "or",     "one",
      "had",   "by",    "word",     "but",    "not",         "what",    "all",    "were",   "we",
      "when",  "your",  "can",      "said",   "there",       "use",     "an",     "each",   "which",
      "she",   "do",    "how",      "their",  "if",          "will",    "up",     "other",  "about",
      "out",   "many",  "then",     "them",   "these",       "so",      "some",   "her",    "would",
      "make",  "like",  "him",      "into",   "time",        "has",     "look",   "two",    "more",
      "write", "go",    "see",      "number", "no",          "way",     "could",  "people", "my",
      "than",  "first", "water",    "been",   "call",        "who",     "oil",    "its",    "now",
      "find",  "long",  "down",     "day",    "did",         "get",     "come",   "made",   "may",
      "part",  "NASA",  "McDonald", "Paris",  "compression", "context", "mixing", "model"};
  constexpr size_t nwords = sizeof words / sizeof words[0];
  std::mt19937_64 g(seed);
  bytes b;
  b.reserve(n + 16);
  bool sentence_start = true;
  while (b.size() < n) {
    // Zipf-like choice: small indices far more often.
    double u = std::uniform_real_distribution<double>(0, 1)(g);
    size_t w = static_cast<size_t>(static_cast<double>(nwords) * u * u * u);
    std::string word = words[w];
    if (sentence_start && word[0] >= 'a' && word[0] <= 'z')
      word[0] = static_cast<char>(word[0] - 32);
    sentence_start = false;
    b.insert(b.end(), word.begin(), word.end());
    uint64_t r = g() % 20;
    if (r == 0) {
      b.push_back('.');
      sentence_start = true;
    } else if (r == 1) {
      b.push_back(',');
    }
    b.push_back(g() % 12 == 0 ? '\n' : ' ');
  }
  b.resize(n);
  return b;
}

}  // namespace vesk::test
