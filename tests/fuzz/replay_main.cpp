// Stands in for libFuzzer where the fuzz targets are built without it (gcc
// builds, sanitizer builds of the suite): runs LLVMFuzzerTestOneInput once on
// every file named, or on every file inside a folder named, and fails when
// there were none. A crash or a sanitizer report ends the process, which
// fails the test.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

namespace {
bool RunFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A copy of its own, so a read past the end hits the sanitizer's red zone.
  std::vector<uint8_t> input(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  std::size_t runs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("-", 0) == 0) continue;  // libFuzzer options, meaningless here
    std::error_code ec;
    if (std::filesystem::is_directory(arg, ec)) {
      std::vector<std::filesystem::path> files;
      for (const auto& entry : std::filesystem::recursive_directory_iterator(arg))
        if (entry.is_regular_file()) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const auto& f : files) {
        if (!RunFile(f)) return 1;
        ++runs;
      }
    } else {
      if (!RunFile(arg)) return 1;
      ++runs;
    }
  }
  std::printf("replayed %zu inputs\n", runs);
  return runs ? 0 : 1;
}
