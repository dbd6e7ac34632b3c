// Runs a fuzz target over every file of the directories (or files) named
// on the command line, as libFuzzer would replay a corpus. Any crash,
// internal check or failed property ends the process abnormally.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

std::vector<std::string> inputs(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return {};
  if (!S_ISDIR(st.st_mode)) return {path};
  std::vector<std::string> files;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') files.push_back(path + "/" + e->d_name);
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  LLVMFuzzerInitialize(&argc, &argv);
  int runs = 0;
  for (int i = 1; i < argc; i++) {
    for (const std::string& f : inputs(argv[i])) {
      std::ifstream in(f, std::ios::binary);
      const std::vector<uint8_t> data(std::istreambuf_iterator<char>(in), {});
      std::fprintf(stderr, "%s (%zu bytes)\n", f.c_str(), data.size());
      LLVMFuzzerTestOneInput(data.data(), data.size());
      runs++;
    }
  }
  std::fprintf(stderr, "%d inputs ran\n", runs);
  return runs > 0 ? 0 : 1;
}
