// The format is frozen: the archives in tests/cli/frozen must decode byte
// for byte to their sources forever, and the sources (the frozen recipes)
// must compress to exactly those archives. A change that makes this suite
// fail changes the coded bits, which takes its own decision: new archives
// would need a new trailer marker so that these still decode.
#include <gtest/gtest.h>

#include <string>

#include "support/recipes.h"
#include "support/support.h"

namespace vesk::test {
namespace {

const std::string frozen = VESK_SOURCE_DIR "/tests/cli/frozen/";

TEST(FrozenFormat, ArchivesDecodeToTheirSources) {
  for (const recipe& r : frozen_recipes()) {
    SCOPED_TRACE(r.name);
    scratch_dir d;
    run_result res = run_vesk({"-d", frozen + r.name + ".arc", d.path("out")});
    ASSERT_EQ(res.status, 0) << res.out;
    EXPECT_TRUE(read_bytes(d.path("out")) == r.data);
  }
}

TEST(FrozenFormat, SourcesCompressToTheArchives) {
  for (const recipe& r : frozen_recipes()) {
    SCOPED_TRACE(r.name);
    scratch_dir d;
    write_bytes(d.path(r.name), r.data);
    run_result res = run_vesk({"-c", d.path(r.name), d.path("packed")});
    ASSERT_EQ(res.status, 0) << res.out;
    EXPECT_TRUE(read_bytes(d.path("packed")) == read_bytes(frozen + r.name + ".arc"));
  }
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

}  // namespace
}  // namespace vesk::test
