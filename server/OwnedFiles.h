// The files the server made in its data folder, so that it never replaces
// one it did not make (a vendor's own certificate, a real package). The
// record is "DATA/.korvane-updsrv-made": one line per file, its size, its
// modification time in nanoseconds and its name relative to the data folder.
// A recorded file that was changed since (another size or time) counts as
// the vendor's.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace updsrv {

class TOwnedFiles {
 public:
  explicit TOwnedFiles(std::string dataDir);

  // The file exists, this server made it, and it is unchanged since.
  bool Made(const std::string& name) const;
  // The file does not exist, or Made(name).
  bool MayWrite(const std::string& name) const;
  // Writes through a temporary file and a rename (fsynced), with mode, and
  // records the file. Throws std::runtime_error, also when !MayWrite(name).
  void Write(const std::string& name, const std::string& data, mode_t mode);
  // Records a file this server has just written some other way.
  void Record(const std::string& name);

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  void Save();

  std::string dir_;
  std::map<std::string, std::pair<int64_t, int64_t>> made_;  // name -> size, mtime
};

}  // namespace updsrv
