// The framed archive and the filter through the built binary: round trips at
// the frames' boundaries, archives independent of the thread count, damaged
// frames refused, pipes, tar, -t and the option forms. (Terminals:
// progress_test.cc.)
#include <gtest/gtest.h>

#include <cstring>

#include "driver/frames.h"
#include "support/support.h"
#include "util/bytes.h"

namespace vesk::test {
namespace {

constexpr const char* small_frames = "--frame-size=64K";
constexpr size_t frame = 65536;

// Compresses `data` named `name` with the extra arguments, checks that it
// restores (unless told not to), and returns the archive.
bytes framed_round_trip(const std::string& name, const bytes& data,
                        std::vector<std::string> args, bool restore = true) {
  scratch_dir d;
  write_bytes(d.path(name), data);
  args.insert(args.end(), {"-q", "-c", d.path(name), d.path("packed")});
  const run_result c = run_vesk(args);
  EXPECT_EQ(c.status, 0) << c.out;
  if (restore) {
    const run_result x = run_vesk({"-q", "-d", d.path("packed"), d.path("out")});
    EXPECT_EQ(x.status, 0) << x.out;
    EXPECT_TRUE(read_bytes(d.path("out")) == data) << name << ", " << data.size() << " bytes";
  }
  return read_bytes(d.path("packed"));
}

// [start, end) of each frame record of an archive with its bytes.
std::vector<std::pair<size_t, size_t>> frame_spans(const bytes& a) {
  std::vector<std::pair<size_t, size_t>> spans;
  for (size_t at = 4; at + frame_record_bytes <= a.size() && std::memcmp(&a[at], "VFRM", 4) == 0;) {
    const size_t end = at + frame_record_bytes + get_u32(&a[at + 16]);
    spans.emplace_back(at, end);
    at = end;
  }
  return spans;
}

TEST(Frames, RoundTripsAtTheBoundaries) {
  const bytes text = text_sample(3 * frame, 5);
  const std::pair<const char*, bytes> cases[] = {
      {"empty.txt", {}}, {"one.txt", {'x'}}, {"exact.txt", bytes(text.begin(), text.begin() + frame)},
      {"plus1.txt", bytes(text.begin(), text.begin() + frame + 1)},
      {"inword.txt", bytes(frame + 5000, 'a')},  // no break to cut at
      {"three.txt", text}, {"empty.dat", {}}, {"plus1.dat", random_bytes(frame + 1, 3)},
      {"two.dat", random_bytes(2 * frame + 250, 4)},
      {"last1.bin", random_bytes(2 * frame + 1, 6)},  // a last frame of one byte
  };
  for (const auto& [name, data] : cases) {
    SCOPED_TRACE(name);
    const bytes a = framed_round_trip(name, data, {"-T2", small_frames});
    EXPECT_EQ(get_u32(a.data()), 3u);
    const auto spans = frame_spans(a);
    // Text frames may end a little early, at a line end.
    const size_t least = (data.size() + frame - 1) / frame;
    EXPECT_GE(spans.size(), least);
    EXPECT_LE(spans.size(), least + 1);
    // Every frame holds its method's archive; mixed frames hold whole blocks.
    const char kind = name[std::string(name).size() - 3];  // t, d or b
    for (size_t f = 0; f < spans.size(); f++) {
      const uint32_t m = get_u32(&a[spans[f].first + 8]);
      EXPECT_EQ(m, get_u32(&a[spans[f].first + frame_record_bytes]));
      EXPECT_TRUE(kind != 'd' || f + 1 == spans.size() || get_u32(&a[spans[f].first + 12]) % 100 == 0);
      EXPECT_TRUE(kind != 'b' || m == 0);
    }
  }
}

TEST(Frames, ArchiveDoesNotDependOnTheThreadCount) {
  const bytes text = text_sample(4 * frame, 9);
  const bytes one = framed_round_trip("t.txt", text, {"-T1", small_frames});
  for (const std::vector<std::string>& threads :
       {std::vector<std::string>{"-T2", small_frames}, {"-T", "8", small_frames},
        {"--threads=3", "--frame-size", "64K"}, {"-qT0", small_frames}})
    EXPECT_EQ(framed_round_trip("t.txt", text, threads, false), one) << threads[0];
  // Text frames end at a line end near the boundary.
  const auto spans = frame_spans(one);
  ASSERT_GE(spans.size(), 4u);
  size_t at = 0;
  for (size_t f = 0; f + 1 < spans.size(); f++) {
    at += get_u32(&one[spans[f].first + 12]);
    EXPECT_EQ(text[at - 1], '\n') << f;
  }
}

// Decoded in this process; stored frames, so that each costs little. The
// containers' own damage is tests/driver's.
TEST(Frames, DamageIsRefused) {
  const bytes good = framed_round_trip("d.txt", text_sample(3 * frame + 1000, 11),
                                       {"-T2", small_frames, "--method=stored"});
  const auto spans = frame_spans(good);
  ASSERT_EQ(spans.size(), 4u);
  const size_t end = good.size() - frame_record_bytes;  // the end record
  auto splice = [&](const std::vector<size_t>& order) {
    bytes b(good.begin(), good.begin() + 4);
    for (size_t f : order) b.insert(b.end(), &good[spans[f].first], &good[spans[f].second]);
    b.insert(b.end(), good.begin() + static_cast<long>(end), good.end());
    return b;
  };
  auto changed = [&](size_t at, uint8_t mask) {
    bytes b = good;
    b[at] ^= mask;
    return b;
  };
  std::vector<std::pair<std::string, bytes>> damaged = {
      {"dropped", splice({0, 2, 3})},
      {"duplicated", splice({0, 1, 1, 2, 3})},
      {"swapped", splice({1, 0, 2, 3})},
      {"dropped last", splice({0, 1, 2})},
      {"cut in a frame", bytes(&good[0], &good[spans[1].first + 100])},
      {"cut before the end", bytes(&good[0], &good[end])},
      {"cut in the end", bytes(good.begin(), good.end() - 5)},
      {"bytes after the end", [&] { bytes b = good; b.push_back(0); return b; }()},
      {"inside frame 2", changed(spans[2].first + frame_record_bytes + 40, 0x01)},
  };
  // An end record that is well formed but wrong: each field off by one.
  for (int field = 0; field < 3; field++) {
    bytes b = good;
    frame_end e{get_u64(&b[end + 4]), get_u64(&b[end + 12]), get_u64(&b[end + 20])};
    (field == 0 ? e.count : field == 1 ? e.total : e.hash) += 1;
    put_frame_end(&b[end], e);
    damaged.emplace_back("wrong end field " + std::to_string(field), b);
  }
  // A flipped byte in each field of a frame header and of the end record.
  for (size_t at : {0, 4, 8, 12, 16, 20, 28}) {
    damaged.emplace_back("header byte " + std::to_string(at), changed(spans[1].first + at, 0x10));
    damaged.emplace_back("end byte " + std::to_string(at), changed(end + at, 0x10));
  }
  for (const auto& [what, b] : damaged) {
    const unpack_result r = unpack_in_process(b);
    EXPECT_EQ(r.kind, unpack_result::refused) << what;
    EXPECT_NE(r.message.find(" is damaged ("), std::string::npos) << what << ": " << r.message;
  }
  EXPECT_EQ(unpack_in_process(good).kind, unpack_result::restored);
}

TEST(Frames, PipesBothWays) {
  scratch_dir d;
  const bytes text = text_sample(2 * frame + 777, 13);
  write_bytes(d.path("in"), text);
  const std::string v = vesk_command({}), in = d.path("in");
  // From a pipe the method follows each frame's content.
  const run_result c = run_split("cat '" + in + "' | " + v + " " + small_frames + " > '" +
                                 d.path("packed") + "'");
  ASSERT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.out, "");
  EXPECT_EQ(c.err, "");  // a filter prints nothing but errors
  const bytes a = read_bytes(d.path("packed"));
  ASSERT_GE(a.size(), 16u);
  EXPECT_EQ(get_u32(a.data()), 3u);  // the data starts with the archive's first byte
  EXPECT_EQ(get_u32(&a[4 + 8]), 1u);  // text, by content
  const run_result x = run_split("cat '" + d.path("packed") + "' | " + v + " -d | cmp - '" + in + "'");
  EXPECT_EQ(x.status, 0) << x.out << x.err;
  EXPECT_EQ(x.err, "");
  // A single archive to standard output, and --method for a pipe.
  const run_result s = run_split(vesk_command({"-c", in, "-"}) + " > '" + d.path("single") + "'");
  EXPECT_EQ(s.err, "Compressing text (by content)\n");
  EXPECT_EQ(read_bytes(d.path("single"))[0], 1);
  const run_result m = run_split("cat '" + in + "' | " + v + " -q --method=mixed > '" + d.path("m") + "'");
  EXPECT_EQ(m.status, 0);
  EXPECT_EQ(get_u32(&read_bytes(d.path("m"))[4 + 8]), 2u);
  // A damaged frame stops a pipe with status 1 after the frames before it.
  bytes damaged = a;
  damaged[frame_spans(a)[1].first + frame_record_bytes + 30] ^= 0x40;
  write_bytes(d.path("damaged"), damaged);
  const run_result bad = run_split(v + " -d < '" + d.path("damaged") + "' > '" + d.path("part") + "'");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("(frame 1) is damaged"), std::string::npos) << bad.err;
  EXPECT_LT(read_bytes(d.path("part")).size(), text.size());
}

TEST(Frames, TarFilter) {
  scratch_dir d;
  const std::string src = d.path("src"), back = d.path("back");
  ASSERT_EQ(run_shell("mkdir -p '" + src + "/sub' '" + back + "'").status, 0);
  for (int i = 0; i < 60; i++) {
    const std::string f = src + (i % 3 ? "/sub/f" : "/f") + std::to_string(i);
    const auto n = static_cast<size_t>(i), seed = static_cast<uint64_t>(i);
    write_bytes(f + (i % 2 ? ".txt" : ".bin"), i % 2 ? text_sample(n * 5, seed) : random_bytes(n * 3, seed));
  }
  const std::string tarball = d.path("src.tar.vsk");
  for (const std::string& filter : {std::string(VESK_BIN), std::string(VESK_BIN) + " -T0"}) {
    const run_result c = run_split("tar -I '" + filter + "' -cf '" + tarball + "' -C '" + src + "' .");
    ASSERT_EQ(c.status, 0) << c.err;
    const run_result x = run_split("tar -I '" + filter + "' -xf '" + tarball + "' -C '" + back + "'");
    ASSERT_EQ(x.status, 0) << x.err;
    EXPECT_EQ(run_shell("diff -r '" + src + "' '" + back + "'").status, 0);
  }
}

// -t tests and writes nothing; -h, -V; "--" ends the options, and -q drops
// the start line.
TEST(Frames, TestHelpVersionAndQuietOptions) {
  scratch_dir d;
  write_bytes(d.path("a.txt"), text_sample(5000, 17));
  ASSERT_EQ(run_vesk({"-q", "-c", d.path("a.txt"), d.path("single.vsk")}).status, 0);
  ASSERT_EQ(run_vesk({"-q", "-T2", "-c", d.path("a.txt"), d.path("framed.vsk")}).status, 0);
  bytes bad = read_bytes(d.path("single.vsk"));
  bad[bad.size() / 2] ^= 0x20;
  write_bytes(d.path("bad.vsk"), bad);
  write_bytes(d.path("foreign"), as_bytes("hello"));
  const run_result good = run_vesk({"-t", d.path("single.vsk"), d.path("framed.vsk")});
  EXPECT_EQ(good.status, 0);
  EXPECT_EQ(good.out, "");
  const run_result r = run_vesk({"-t", d.path("bad.vsk"), d.path("single.vsk"), d.path("foreign")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(d.path("bad.vsk") + " is damaged ("), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(d.path("foreign") + " is not a compressed file"), std::string::npos);
  EXPECT_EQ(r.out.find("single.vsk"), std::string::npos) << r.out;
  EXPECT_EQ(list_dir(d.dir).size(), 5u);  // -t writes nothing
  for (const char* h : {"-h", "--help", "-V", "--version"}) {
    const run_result o = run_split(vesk_command({h}));
    EXPECT_EQ(o.status, 0);
    const bool help = h[1] == 'h' || h[2] == 'h';
    EXPECT_EQ(o.out.rfind(help ? "Vesk version 4\n" : "vesk ", 0), 0u) << h;
    EXPECT_NE(o.out.find(help ? "--threads" : "3 (framed)"), std::string::npos) << h;
  }
  write_bytes(d.path("-odd.txt"), text_sample(100, 1));
  // A name that starts with "-" follows "--".
  const run_result q = run_shell("cd '" + d.dir + "' && " + vesk_command({"-q", "-c", "--", "-odd.txt", "o"}));
  EXPECT_EQ(q.status, 0);
  EXPECT_EQ(q.out, "");
  EXPECT_EQ(run_vesk({"-dq", d.path("o"), d.path("back")}).out, "");
  EXPECT_EQ(read_bytes(d.path("back")), read_bytes(d.path("-odd.txt")));
}

}  // namespace
}  // namespace vesk::test
