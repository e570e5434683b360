// Replays a fuzz target's corpus as an ordinary test: every file below the
// folders named on the command line is fed once to LLVMFuzzerTestOneInput,
// after the empty input.
// A crash, a sanitizer report or a hang fails the ctest case.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  // The empty input first, as libFuzzer runs it, and without a pointer: the
  // program's own empty views and vectors may carry a null one too.
  LLVMFuzzerTestOneInput(nullptr, 0);
  size_t count = 1;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path root(argv[i]);
    if (!std::filesystem::exists(root)) {
      std::fprintf(stderr, "corpus folder %s does not exist\n", argv[i]);
      return 1;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++count;
    }
  }
  std::printf("replayed %zu corpus inputs\n", count);
  return 0;
}
