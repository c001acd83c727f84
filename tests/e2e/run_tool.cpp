#include "run_tool.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace e2e {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/docoutline-e2e-XXXXXX";
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
  std::filesystem::remove_all(path_, ignored);
}

RunResult RunTool(const std::vector<std::string>& args, const std::string& workDir, unsigned long long addressSpaceLimit,
                  const std::string& program) {
  const TempDir temp;
  const std::string& dir = temp.path();
  const std::string outPath = dir + "/stdout";
  const std::string errPath = dir + "/stderr";
  RunResult result;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(120);
    if (!workDir.empty() && ::chdir(workDir.c_str()) != 0) ::_exit(121);
    if (addressSpaceLimit != 0) {
      struct rlimit limit = {addressSpaceLimit, addressSpaceLimit};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    std::vector<char*> argv;
    std::string name = program;
    argv.push_back(name.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(122);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = Slurp(outPath);
  result.err = Slurp(errPath);
  return result;
}

}  // namespace e2e
