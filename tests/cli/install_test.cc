// cmake --install puts the program, its manual page and libvesk (the
// library, its header and pkg-config file) under a prefix, and cpack -G DEB
// packs exactly them, versioned as the project; the page renders with man
// without a warning from the formatter, and the README's C example builds
// against the installed library with pkg-config and round-trips a file.
#include <gtest/gtest.h>

#include <algorithm>

#include <sstream>

#include "support/support.h"

namespace vesk::test {
namespace {

TEST(Install, ProgramAndManualPage) {
  scratch_dir d;
  const std::string prefix = d.path("prefix");
  const run_result i = run_split("'" VESK_CMAKE "' --install '" VESK_BUILD_DIR "' --prefix '" + prefix + "'");
  ASSERT_EQ(i.status, 0) << i.out << i.err;
  // The installed program is the one built.
  const std::string bin = prefix + "/bin/vesk", page = prefix + "/share/man/man1/vesk.1";
  EXPECT_TRUE(read_bytes(bin) == read_bytes(VESK_BIN));
  const run_result u = run_split("'" + bin + "' --help");
  EXPECT_EQ(u.status, 0);
  EXPECT_EQ(u.out.substr(0, 15), "Vesk version 4\n");
  ASSERT_TRUE(exists(page));
  EXPECT_TRUE(read_bytes(page) == read_bytes(VESK_SOURCE_DIR "/doc/vesk.1"));

  // The C example, compiled and linked as a user would, against the copy
  // under the prefix alone (the run finds the library by LD_LIBRARY_PATH).
  const std::string env = "export PKG_CONFIG_PATH='" + prefix + "/lib/pkgconfig'; ";
  const run_result flags = run_split(env + "pkg-config --cflags --libs vesk");
  ASSERT_EQ(flags.status, 0) << flags.err;
  EXPECT_NE(flags.out.find("-I" + prefix + "/lib/pkgconfig/../../include"), std::string::npos) << flags.out;
#if defined(__SANITIZE_ADDRESS__)
  // A library built with the sanitizers needs their runtime in the program.
  const std::string sanitize = "-fsanitize=address,undefined ";
#else
  const std::string sanitize;
#endif
  const run_result cc = run_split(env + "cc -Wall -Werror " + sanitize + "'" VESK_SOURCE_DIR
                                  "/doc/examples/example.c' $(pkg-config --cflags --libs vesk) -o '" +
                                  d.path("example") + "'");
  ASSERT_EQ(cc.status, 0) << cc.out << cc.err;
  const bytes text = text_sample(20000, 62);
  write_bytes(d.path("sample"), text);
  const run_result ex = run_split("LD_LIBRARY_PATH='" + prefix + "/lib' '" + d.path("example") + "' '" +
                                  d.path("sample") + "'");
  EXPECT_EQ(ex.status, 0) << ex.out << ex.err;
  EXPECT_NE(ex.out.find("20000 -> "), std::string::npos) << ex.out;
  EXPECT_NE(ex.out.find(" bytes, restored\n"), std::string::npos) << ex.out;
  // It runs on the installed library, not the build's.
  const run_result ldd = run_split("LD_LIBRARY_PATH='" + prefix + "/lib' ldd '" + d.path("example") + "'");
  EXPECT_NE(ldd.out.find(prefix + "/lib/libvesk.so.1"), std::string::npos) << ldd.out;

  // scripts/test.sh installs man-db and groff-base.
  if (run_shell("command -v man && command -v groff").status != 0) GTEST_SKIP() << "no man or groff";
  // --warnings=w: every warning the formatter knows.
  const run_result m = run_split("MANWIDTH=80 man --warnings=w -l '" + page + "'");
  EXPECT_EQ(m.status, 0) << m.err;
  EXPECT_EQ(m.err, "");
  for (const char* part : {"NAME", "SYNOPSIS", "vesk -c input output", "vesk -d input output",
                           "METHODS", "EXIT STATUS", "LIMITS AND MEMORY", "EXAMPLES",
                           "1,001,000,001", "tar -cf project.tar project/", "&& echo intact",
                           "tar -I 'vesk -T0'", "FRAMES"})
    EXPECT_NE(m.out.find(part), std::string::npos) << part;
  // man finds the page by name under the prefix's manual tree.
  const run_result n = run_split("MANWIDTH=80 man -M '" + prefix + "/share/man' vesk");
  EXPECT_EQ(n.status, 0) << n.err;
  EXPECT_EQ(n.out, m.out);
}

TEST(Package, DebianPackageHoldsTheProgramAndItsManualPage) {
  scratch_dir d;
  const std::string cmake = VESK_CMAKE, deb = d.path("out/vesk_4_amd64.deb");
  const run_result p = run_split("cd '" + d.dir + "' && '" + cmake.substr(0, cmake.rfind('/')) +
                                 "/cpack' -G DEB --config '" VESK_BUILD_DIR "/CPackConfig.cmake' -B '" +
                                 d.path("out") + "'");
  ASSERT_EQ(p.status, 0) << p.out << p.err;
  ASSERT_TRUE(exists(deb)) << p.out;
  const run_result f = run_split("dpkg-deb -f '" + deb + "' Package Version Architecture Depends");
  ASSERT_EQ(f.status, 0) << f.err;
  // From the binary: the C and C++ libraries and xxHash.
  for (const char* field : {"Package: vesk\n", "Version: 4\n", "Architecture: amd64\n", "libc6",
                            "libstdc++6", "libxxhash0"})
    EXPECT_NE(f.out.find(field), std::string::npos) << field << " in " << f.out;
  // Exactly the program, the manual page and the library, as files;
  // directories aside.
  const run_result c = run_split("dpkg-deb -c '" + deb + "'");
  ASSERT_EQ(c.status, 0) << c.err;
  std::istringstream listing(c.out);
  std::vector<std::string> entries;
  for (std::string line; std::getline(listing, line);) {
    if (line.empty() || line[0] == 'd') continue;
    // A link ends "./path -> target"; a file "./path".
    const size_t arrow = line.find(" -> ");
    const size_t name = line.rfind(' ', arrow == std::string::npos ? std::string::npos : arrow - 1);
    entries.push_back(line.substr(name + 1));
  }
  std::sort(entries.begin(), entries.end());
  std::string files;
  for (const std::string& e : entries) files += e + "\n";
  EXPECT_EQ(files, "./usr/bin/unvesk -> vesk\n./usr/bin/vesk\n./usr/include/vesk.h\n"
                   "./usr/lib/libvesk.so -> libvesk.so.1\n./usr/lib/libvesk.so.1 -> libvesk.so.1.0.0\n"
                   "./usr/lib/libvesk.so.1.0.0\n./usr/lib/pkgconfig/vesk.pc\n"
                   "./usr/share/man/man1/unvesk.1 -> vesk.1\n./usr/share/man/man1/vesk.1\n") << c.out;
  ASSERT_EQ(run_shell("dpkg-deb -x '" + deb + "' '" + d.path("root") + "'").status, 0);
  EXPECT_TRUE(read_bytes(d.path("root/usr/share/man/man1/vesk.1")) ==
              read_bytes(VESK_SOURCE_DIR "/doc/vesk.1"));
  const bytes text = text_sample(3000, 61);
  write_bytes(d.path("a.txt"), text);
  const std::string bin = d.path("root/usr/bin/vesk");
  const run_result r = run_split("'" + bin + "' -c '" + d.path("a.txt") + "' '" + d.path("a.vsk") +
                                 "' && '" + bin + "' -d '" + d.path("a.vsk") + "' '" + d.path("b") + "'");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(read_bytes(d.path("b")) == text);
}

}  // namespace
}  // namespace vesk::test
