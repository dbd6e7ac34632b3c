// Runs a fuzz target over every file of the directories named on the
// command line, as libFuzzer would replay a corpus. Any crash,
// internal check or failed property ends the process abnormally.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  LLVMFuzzerInitialize(&argc, &argv);
  std::set<fs::path> files;  // in order of name
  for (int i = 1; i < argc; i++)
    for (const auto& e : fs::directory_iterator(argv[i]))
      if (e.path().filename().string()[0] != '.') files.insert(e.path());
  for (const fs::path& f : files) {
    std::ifstream in(f, std::ios::binary);
    const std::vector<uint8_t> data(std::istreambuf_iterator<char>(in), {});
    std::fprintf(stderr, "%s (%zu bytes)\n", f.c_str(), data.size());
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  std::fprintf(stderr, "%zu inputs ran\n", files.size());
  return files.empty() ? 1 : 0;
}
