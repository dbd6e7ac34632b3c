// The format is frozen: the archives in tests/cli/frozen must decode byte
// for byte to their sources forever, and the sources (the frozen recipes)
// must compress to exactly those archives. A change that makes this suite
// fail changes the coded bits, which takes its own decision: new archives
// would need a new trailer marker so that these still decode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/recipes.h"
#include "support/support.h"

namespace vesk::test {
namespace {

const std::string frozen = VESK_SOURCE_DIR "/tests/cli/frozen/";

void expect_archives_decode(const std::vector<recipe>& recipes) {
  for (const recipe& r : recipes) {
    SCOPED_TRACE(r.name);
    scratch_dir d;
    run_result res = run_vesk({"-d", frozen + r.name + ".arc", d.path("out")});
    ASSERT_EQ(res.status, 0) << res.out;
    EXPECT_TRUE(read_bytes(d.path("out")) == r.data);
  }
}

// flags stand before -c.
void expect_sources_compress(const std::vector<recipe>& recipes,
                             const std::vector<std::string>& flags) {
  for (const recipe& r : recipes) {
    SCOPED_TRACE(r.name);
    scratch_dir d;
    write_bytes(d.path(r.name), r.data);
    std::vector<std::string> args = flags;
    args.insert(args.end(), {"-c", d.path(r.name), d.path("packed")});
    run_result res = run_vesk(args);
    ASSERT_EQ(res.status, 0) << res.out;
    EXPECT_TRUE(read_bytes(d.path("packed")) == read_bytes(frozen + r.name + ".arc"));
  }
}

TEST(FrozenFormat, ArchivesDecodeToTheirSources) {
  expect_archives_decode(frozen_recipes());
}

TEST(FrozenFormat, SourcesCompressToTheArchives) {
  expect_sources_compress(frozen_recipes(), {});
}

// The frozen archives cover every method and, in the mixed one, every
// stream: binary, record, x86 with its branch transform, text.
TEST(FrozenFormat, ArchivesCoverEveryMethodAndStream) {
  auto word = [](const bytes& a, size_t at) {
    return uint32_t{a[at]} | uint32_t{a[at + 1]} << 8 | uint32_t{a[at + 2]} << 16 |
           uint32_t{a[at + 3]} << 24;
  };
  bool method_seen[3] = {};
  for (const recipe& r : frozen_recipes()) {
    const bytes a = read_bytes(frozen + r.name + ".arc");
    ASSERT_GE(a.size(), 4u) << r.name;
    ASSERT_LT(word(a, 0), 3u) << r.name;
    method_seen[word(a, 0)] = true;
  }
  EXPECT_TRUE(method_seen[0] && method_seen[1] && method_seen[2]);
  const bytes kinds = read_bytes(frozen + "kinds.dat.arc");
  ASSERT_GE(kinds.size(), 44u);
  // binaryc, recordc, blocktypec, x86c, textc, periodc, mismatchc, branchc, dispc
  for (size_t field = 8; field < 44; field += 4)
    EXPECT_GT(word(kinds, field), 0u) << "header field at " << field;
}

// The strong methods (-9, method words 4 and 5) are frozen the same way.
TEST(FrozenFormat, StrongArchivesDecodeToTheirSources) {
  expect_archives_decode(frozen_strong_recipes());
}

TEST(FrozenFormat, StrongSourcesCompressToTheArchives) {
  expect_sources_compress(frozen_strong_recipes(), {"-9"});
}

// Both strong methods, every stream of the mixed one, and a match model
// that had repeats to find.
TEST(FrozenFormat, StrongArchivesCoverBothMethodsAndEveryStream) {
  auto word = [](const bytes& a, size_t at) {
    return uint32_t{a[at]} | uint32_t{a[at + 1]} << 8 | uint32_t{a[at + 2]} << 16 |
           uint32_t{a[at + 3]} << 24;
  };
  bool method_seen[6] = {};
  for (const recipe& r : frozen_strong_recipes()) {
    const bytes a = read_bytes(frozen + r.name + ".arc");
    ASSERT_GE(a.size(), 4u) << r.name;
    ASSERT_TRUE(word(a, 0) == 4 || word(a, 0) == 5) << r.name;
    method_seen[word(a, 0)] = true;
    EXPECT_LT(a.size(), 10000u) << r.name;
  }
  EXPECT_TRUE(method_seen[4] && method_seen[5]);
  const bytes kinds = read_bytes(frozen + "kinds-9.dat.arc");
  ASSERT_GE(kinds.size(), 44u);
  for (size_t field = 8; field < 44; field += 4)
    EXPECT_GT(word(kinds, field), 0u) << "header field at " << field;
}

}  // namespace
}  // namespace vesk::test
