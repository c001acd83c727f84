// Runs a fuzz target once per input file, without libFuzzer: the arguments are files or
// directories (walked recursively, in name order). A crash, a sanitizer report or a hang
// (caught by the test's timeout) fails the run; so does a path that does not exist or
// a run with no input at all, since a replay that replays nothing proves nothing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool RunFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A copy of exactly the input's size, so that a read past its end is caught by the
  // sanitizers as it would be under libFuzzer.
  std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
  // Named before it runs: when the run dies, the last name printed is the culprit.
  std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.c_str(), input.size());
  std::uint8_t* data = input.empty() ? nullptr : input.data();
  LLVMFuzzerTestOneInput(data, input.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t runs = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg(argv[i]);
    std::error_code ec;
    if (fs::is_regular_file(arg, ec)) {
      ok = RunFile(arg) && ok;
      ++runs;
      continue;
    }
    if (!fs::is_directory(arg, ec)) {
      std::fprintf(stderr, "replay: no such file or directory: %s\n", argv[i]);
      ok = false;
      continue;
    }
    std::vector<fs::path> files;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(arg)) {
      if (e.is_regular_file()) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files) {
      ok = RunFile(f) && ok;
      ++runs;
    }
  }
  std::fprintf(stderr, "replay: %zu inputs\n", runs);
  if (runs == 0) {
    std::fprintf(stderr, "replay: nothing to replay\n");
    return 1;
  }
  return ok ? 0 : 1;
}
