// Runs the built docoutline as a child process and collects what it wrote.
#pragma once

#include <string>
#include <vector>

namespace e2e {

struct RunResult {
  int exitStatus = -1;  // the process exit code, or -1 when it died of a signal
  int signal = 0;
  std::string out;
  std::string err;
};

// Runs the tool (or `program`) with the given arguments (not counting the program's own
// path), in `workDir` when not empty. `addressSpaceLimit` (bytes, 0 for none) caps its
// memory.
RunResult RunTool(const std::vector<std::string>& args, const std::string& workDir = "",
                  unsigned long long addressSpaceLimit = 0, const std::string& program = DOCOUTLINE_BINARY);

// A fresh empty directory under the temporary folder, removed with everything in it
// when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  operator const std::string&() const { return path_; }

 private:
  std::string path_;
};

}  // namespace e2e
