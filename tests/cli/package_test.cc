// cpack -G DEB makes a Debian package of the program and its manual page,
// versioned as the project; built into the test's own directory.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/support.h"

namespace vesk::test {
namespace {

TEST(Package, DebianPackageHoldsTheProgramAndItsManualPage) {
  scratch_dir d;
  const std::string cpack = std::string(VESK_CMAKE).substr(0, std::string(VESK_CMAKE).rfind('/')) +
                            "/cpack";
  split_result p = run_split("cd '" + d.dir + "' && '" + cpack + "' -G DEB --config '" +
                             VESK_BUILD_DIR "/CPackConfig.cmake' -B '" + d.path("out") + "'");
  ASSERT_EQ(p.status, 0) << p.out << p.err;
  const std::string deb = d.path("out/vesk_4_amd64.deb");
  ASSERT_TRUE(exists(deb)) << p.out;

  split_result f = run_split("dpkg-deb -f '" + deb + "' Package Version Architecture Depends");
  ASSERT_EQ(f.status, 0) << f.err;
  EXPECT_NE(f.out.find("Package: vesk\n"), std::string::npos) << f.out;
  EXPECT_NE(f.out.find("Version: 4\n"), std::string::npos) << f.out;
  EXPECT_NE(f.out.find("Architecture: amd64\n"), std::string::npos) << f.out;
  // From the binary: the C and C++ libraries and xxHash.
  for (const char* lib : {"libc6", "libstdc++6", "libxxhash0"})
    EXPECT_NE(f.out.find(lib), std::string::npos) << lib << " in " << f.out;

  // Exactly the program and the manual page, as files; directories aside.
  split_result c = run_split("dpkg-deb -c '" + deb + "'");
  ASSERT_EQ(c.status, 0) << c.err;
  std::istringstream listing(c.out);
  std::string files;
  for (std::string line; std::getline(listing, line);)
    if (!line.empty() && line[0] != 'd') files += line.substr(line.rfind(' ') + 1) + "\n";
  EXPECT_EQ(files, "./usr/bin/vesk\n./usr/share/man/man1/vesk.1\n") << c.out;

  split_result x = run_split("dpkg-deb -x '" + deb + "' '" + d.path("root") + "'");
  ASSERT_EQ(x.status, 0) << x.err;
  EXPECT_TRUE(read_bytes(d.path("root/usr/share/man/man1/vesk.1")) ==
              read_bytes(VESK_SOURCE_DIR "/doc/vesk.1"));
  const bytes text = text_sample(3000, 61);
  write_bytes(d.path("a.txt"), text);
  const std::string bin = d.path("root/usr/bin/vesk");
  split_result r = run_split("'" + bin + "' -c '" + d.path("a.txt") + "' '" + d.path("a.vsk") +
                             "' && '" + bin + "' -d '" + d.path("a.vsk") + "' '" + d.path("b") + "'");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(read_bytes(d.path("b")) == text);
}

}  // namespace
}  // namespace vesk::test
