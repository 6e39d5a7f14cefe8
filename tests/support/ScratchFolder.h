// Scratch folders and files for tests. Every folder lives under $TMPDIR (else
// /tmp), so parallel runs and sandboxes keep their files where they are told.
//
//   korvane::testing::ScratchFolder dir("kvnet");      // removed again by the destructor
//   WriteTextFile(dir.File("a.txt"), "x");
//   const std::string root = MakeScratchFolder("kvshell");  // the caller removes it
#pragma once

#include <string>

namespace korvane::testing {

// A fresh empty folder named after prefix; throws std::runtime_error when it
// cannot be made.
std::string MakeScratchFolder(const std::string& prefix);
// rm -r of a folder (or file); errors ignored.
void RemoveFolder(const std::string& path);
// Writes bytes to a file, creating its folders; throws on failure.
void WriteTextFile(const std::string& path, const std::string& bytes);
// The whole file, or "" when it cannot be read.
std::string ReadTextFile(const std::string& path);

// A scratch folder that lives as long as the object.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& prefix = "kvtest") : path_(MakeScratchFolder(prefix)) {}
  ~ScratchFolder() { RemoveFolder(path_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace korvane::testing
