// cmake --install puts the program and its manual page under a prefix; the
// page renders with man without a warning from the formatter.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/support.h"

namespace vesk::test {
namespace {

bool on_path(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(Install, ProgramAndManualPage) {
  scratch_dir d;
  const std::string prefix = d.path("prefix");
  split_result i = run_split("'" VESK_CMAKE "' --install '" VESK_BUILD_DIR "' --prefix '" +
                             prefix + "'");
  ASSERT_EQ(i.status, 0) << i.out << i.err;

  // The installed program is the one built.
  const std::string bin = prefix + "/bin/vesk";
  EXPECT_TRUE(read_bytes(bin) == read_bytes(VESK_BIN));
  split_result u = run_split("'" + bin + "'");
  EXPECT_EQ(u.status, 1);
  EXPECT_EQ(u.out.substr(0, 15), "Vesk version 4\n");

  const std::string page = prefix + "/share/man/man1/vesk.1";
  ASSERT_TRUE(exists(page));
  EXPECT_TRUE(read_bytes(page) == read_bytes(VESK_SOURCE_DIR "/doc/vesk.1"));

  // scripts/test.sh installs man-db and groff-base.
  if (!on_path("man") || !on_path("groff")) GTEST_SKIP() << "man or groff is not installed";
  // --warnings=w: every warning the formatter knows.
  split_result m = run_split("MANWIDTH=80 man --warnings=w -l '" + page + "'");
  EXPECT_EQ(m.status, 0) << m.err;
  EXPECT_EQ(m.err, "");
  for (const char* part :
       {"NAME", "SYNOPSIS", "vesk [-9] -c input output", "vesk -d input output", "METHODS",
        "STRONG MODELS", "EXIT STATUS", "LIMITS AND MEMORY", "EXAMPLES", "1,001,000,001",
        "tar -cf project.dat project/", "&& echo intact"})
    EXPECT_NE(m.out.find(part), std::string::npos) << part;

  // man finds the page by name under the prefix's manual tree.
  split_result n = run_split("MANWIDTH=80 man -M '" + prefix + "/share/man' vesk");
  EXPECT_EQ(n.status, 0) << n.err;
  EXPECT_EQ(n.out, m.out);
}

}  // namespace
}  // namespace vesk::test
