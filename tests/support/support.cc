#include "support/support.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "driver/containers.h"
#include "driver/frames.h"
#include "driver/method.h"
#include "support/model_support.h"
#include "support/recipes.h"
#include "text/text.h"
#include "util/arena.h"
#include "util/bytes.h"
#include "util/call.h"
#include "util/fail.h"
#include "util/prefault.h"

namespace vesk::test {

scratch_dir::scratch_dir() {
  char tmpl[] = "/tmp/vesk-test-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
  dir = tmpl;
}

scratch_dir::~scratch_dir() {
  std::error_code e;
  std::filesystem::remove_all(dir, e);
}

bytes read_bytes(const std::string& path, size_t most) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  bytes b(std::istreambuf_iterator<char>(f), {});
  if (b.size() > most) b.resize(most);
  return b;
}

void write_bytes(const std::string& path, const bytes& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

bool exists(const std::string& path) {
  std::error_code e;
  return std::filesystem::exists(path, e);
}

std::vector<std::string> list_dir(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::string vesk_command(const std::vector<std::string>& args) {
  std::string cmd = "'" VESK_BIN "'";
  for (const auto& a : args) cmd += " '" + a + "'";
  return cmd;
}

void exec_vesk(std::vector<std::string> args) {
  args.insert(args.begin(), VESK_BIN);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(VESK_BIN, argv.data());
  _exit(127);
}

run_result run_split(const std::string& command) {
  scratch_dir d;
  const std::string cmd =
      "{ " + command + "; } >'" + d.path("stdout") + "' 2>'" + d.path("stderr") + "' </dev/null";
  const int st = std::system(cmd.c_str());
  run_result r;
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  const bytes o = read_bytes(d.path("stdout")), e = read_bytes(d.path("stderr"));
  r.out.assign(o.begin(), o.end());
  r.err.assign(e.begin(), e.end());
  return r;
}

bytes cli_round_trip(const std::string& name, const std::string& method_word, const bytes& data) {
  return cli_round_trip_lines(name, data, "Compressing " + method_word,
                              "Decompressing " + method_word);
}

bytes cli_round_trip_lines(const std::string& name, const bytes& data, const std::string& start,
                           const std::string& restore) {
  scratch_dir d;
  write_bytes(d.path(name), data);
  run_result c = run_vesk({"-c", d.path(name), d.path("packed")});
  EXPECT_EQ(c.status, 0) << c.out;
  EXPECT_EQ(c.out, start + "\n");
  run_result x = run_vesk({"-d", d.path("packed"), d.path("out")});
  EXPECT_EQ(x.status, 0) << x.out;
  EXPECT_EQ(x.out, restore + "\n");
  EXPECT_TRUE(read_bytes(d.path("out")) == data) << name << ", " << data.size() << " bytes";
  return read_bytes(d.path("packed"));
}

bool is_refusal(const run_result& r) {
  const bool message = r.out.find("vesk: ") != std::string::npos &&
                       (r.out.find(" is damaged (") != std::string::npos ||
                        r.out.find(" is not a compressed file") != std::string::npos);
  return r.status == 1 && message && r.out.find("assertion") == std::string::npos &&
         r.out.find("Segmentation fault") == std::string::npos;
}

unpack_result unpack_in_process(const bytes& archive) {
  unpack_result r;
  const auto m = static_cast<int64_t>(archive.size());
  const uint32_t word = m >= 4 ? get_u32(archive.data()) : 99;
  if (word > 6) return r;
  const int64_t blocks = arena_blocks();
  const pack_output out = [&](const uint8_t* p, int64_t n) {
    r.written = true;
    r.output.assign(p, p + n);
  };
  const int fd = -1;
  try {
    const uint8_t* p = archive.data();
    switch (static_cast<method>(word)) {
      case method::stored: stored_unpack("packed", p, m, out); break;
      case method::text: case method::text_strong: text_unpack("packed", p, m, out, {false}); break;
      case method::mixed: case method::mixed_strong: mixed_unpack("packed", p, m, out, {false}); break;
      case method::stored_checked: stored_checked_unpack("packed", p, m, out); break;
      default: {
        frame_decoder d("packed", {}, 1);
        d.push(p + 4, m - 4);
        d.finish();
        r.written = true;  // tested whole: it would have been restored
      }
    }
    r.kind = unpack_result::restored;
  } catch (const failure& f) {
    r.kind = f.kind == failure_kind::internal ? unpack_result::internal : unpack_result::refused;
    r.message = f.message;
    arena_unwind(blocks);
  }
  if (fd >= 0) close(fd);
  return r;
}

std::string text_round_trip(const std::string& file) {
  const std::string a = " " + file + " ";
  text_state t;
  const char* why =
      text_forward(t, reinterpret_cast<const uint8_t*>(a.data()), static_cast<int64_t>(file.size()) + 1);
  EXPECT_EQ(why, nullptr);
  if (why != nullptr) return {};
  uint8_t* out = nullptr;
  const int64_t n = text_inverse(t.codes, t.codesc, t.list, t.listc, &out, &why);
  EXPECT_EQ(why, nullptr);
  std::string r(reinterpret_cast<char*>(out) + 1, static_cast<size_t>(n - 1));
  EXPECT_EQ(out[0], ' ');
  EXPECT_EQ(out[n], ' ');
  std::free(out);
  text_release_streams(t);
  return r;
}

bytes pack_in_process(uint32_t method_word, const bytes& data) {
  const pack_input in{"data", static_cast<int64_t>(data.size()),
                      [&](uint8_t* dst) { std::copy(data.begin(), data.end(), dst); }};
  bytes archive;
  const pack_output keep = [&](const uint8_t* p, int64_t n) { archive.assign(p, p + n); };
  const pack_settings strong{true, true};
  switch (static_cast<method>(method_word)) {
    case method::text: text_pack(in, keep, {}); break;
    case method::mixed: mixed_pack(in, keep, {}); break;
    case method::text_strong: text_pack(in, keep, strong); break;
    case method::mixed_strong: mixed_pack(in, keep, strong); break;
    case method::stored_checked: stored_checked_pack(in, keep); break;
    default: stored_pack(in, keep); break;
  }
  return archive;
}

void exit_on_failure(const std::function<void()>& f) {
  try {
    f();
  } catch (const failure& e) {
    std::fprintf(stderr, "vesk: %s\n", e.message.c_str());
    std::_Exit(1);
  }
  std::_Exit(0);
}

void init_runtime() {
  // The tests run as one call of the core's, on two threads at most: the
  // streams of a file coded side by side, as the program codes them.
  static call_state call;
  static prefault_queue prefaulter;
  if (current_call == nullptr) {
    call.threads = 2;
    call.prefault = &prefaulter;
    current_call = &call;
  }
}

namespace {
struct runtime : testing::Environment {
  void SetUp() override { init_runtime(); }
};
[[maybe_unused]] testing::Environment* const runtime_env =
    testing::AddGlobalTestEnvironment(new runtime);
}  // namespace

bytes random_bytes(size_t n, uint64_t seed) {
  gen g{seed};
  bytes b(n);
  for (auto& c : b) c = static_cast<uint8_t>(g.next() >> 56);
  return b;
}

bytes every_byte() {
  bytes b(256);
  for (int i = 0; i < 256; i++) b[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  return b;
}

bytes text_sample(size_t n, uint64_t seed) { return pin_text(n, 120, seed); }

std::string letter_word(int i) {
  std::string w;
  for (int v = i;; v /= 26) {
    w += static_cast<char>('a' + v % 26);
    if (v < 26) return w;
  }
}

uint64_t fnv64(const bytes& b) {
  uint64_t h = 0xcbf29ce484222325;
  for (uint8_t c : b) h = (h ^ c) * 0x100000001b3;
  return h;
}

constexpr size_t model_history = 1024;

bytes model_encode(const model_call& model, const bytes& data, const model_options& options) {
  bytes in(model_history, 0);
  in.insert(in.end(), data.begin(), data.end());
  in.resize(in.size() + 64, 0);
  bytes out(2 * data.size() + 4096);
  coder k;
  coder_init_encode(k, out.data(), out.size());
  model(in.data() + model_history, static_cast<int32_t>(data.size()), k, 1, options);
  EXPECT_EQ(k.overrun, 0u);
  out.resize(coder_length(k));
  return out;
}

bytes model_decode(const model_call& model, bytes coded, size_t n, bool* exact,
                   const model_options& options) {
  bytes out(model_history + n + 64, 0xCD);
  std::fill(out.begin(), out.begin() + model_history, 0);
  coder k;
  coder_init_decode(k, coded.data(), coded.size());
  model(out.data() + model_history, static_cast<int32_t>(n), k, 0, options);
  if (exact != nullptr) *exact = coder_length(k) == coded.size() && k.overrun == 0;
  return bytes(out.begin() + model_history, out.begin() + static_cast<long>(model_history + n));
}

size_t model_round_trip(const model_call& model, const bytes& data,
                        const model_options& options) {
  const int64_t blocks = arena_blocks(), allocated = arena_allocated();
  const bytes coded = model_encode(model, data, options);
  bool exact = false;
  EXPECT_TRUE(model_decode(model, coded, data.size(), &exact, options) == data)
      << "stream of " << data.size() << " bytes";
  EXPECT_TRUE(exact);
  EXPECT_EQ(arena_blocks(), blocks);
  EXPECT_EQ(arena_allocated(), allocated);
  return coded.size();
}

bytes slots_of(const std::vector<uint32_t>& indices) {
  bytes b(4 * indices.size());
  for (size_t i = 0; i < indices.size(); i++) put_u32(&b[4 * i], code_slot(indices[i]));
  return b;
}

bytes codes_of(const bytes& text) {
  bytes a(text.size() + 2, ' ');
  std::copy(text.begin(), text.end(), a.begin() + 1);
  text_state t;
  EXPECT_EQ(text_forward(t, a.data(), static_cast<int64_t>(text.size()) + 1), nullptr);
  bytes codes(t.codes, t.codes + 4 * t.codesc);
  text_release_streams(t);
  return codes;
}

}  // namespace vesk::test
