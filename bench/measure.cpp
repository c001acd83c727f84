// Runs a program and measures the whole process: wall time, peak resident set, and the
// bytes and read calls it made. The bytes come from /proc/<pid>/io, read while the child
// is a zombie (waitid with WNOWAIT), so they are its final counts; then it is reaped with
// wait4 for its resource usage. Nothing is injected into the measured program.
//
//   measure [-n RUNS] [-o FILE] -- PROG ARG...
//       Runs PROG RUNS times (default 9) with standard output and error sent to /dev/null,
//       except that the first run's standard output goes to FILE when -o is given. Prints
//       one line:  median_ms min_ms max_rss_kib rchar syscr exit_status
//       (rchar, syscr and the status are those of the last run.)
//
//   measure --batch LIST -- PROG ARG...
//       Runs PROG ARG... PATH once for each path listed in LIST (one a line), one after
//       another, and prints:  files total_ms max_rss_kib total_rchar nonzero_exits
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Run {
  double ms = 0;
  long maxRssKib = 0;
  std::uint64_t rchar = 0;
  std::uint64_t syscr = 0;
  int status = -1;
};

std::uint64_t Field(const std::string& io, const char* key) {
  const std::size_t at = io.find(key);
  if (at == std::string::npos) return 0;
  return std::strtoull(io.c_str() + at + std::strlen(key), nullptr, 10);
}

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "measure: %s: %s\n", what, std::strerror(errno));
  std::exit(2);
}

Run RunOnce(const std::vector<char*>& argv, const char* outPath) {
  Run run;
  const auto start = std::chrono::steady_clock::now();
  // A plain fork, not a spawn that shares this process's memory until the exec: the
  // kernel folds the peak of the memory a process leaves at exec into its peak RSS, and a
  // forked copy holds only this launcher's few private pages.
  const pid_t pid = fork();
  if (pid < 0) Die("fork");
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = outPath ? open(outPath, O_WRONLY | O_CREAT | O_TRUNC, 0644) : open("/dev/null", O_WRONLY);
    const int err = open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || err < 0 || dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
        dup2(err, STDERR_FILENO) < 0) {
      _exit(126);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  siginfo_t info = {};
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
    if (errno != EINTR) Die("waitid");
  }
  const auto end = std::chrono::steady_clock::now();
  run.ms = std::chrono::duration<double, std::milli>(end - start).count();

  std::ifstream ioFile("/proc/" + std::to_string(pid) + "/io");
  const std::string io((std::istreambuf_iterator<char>(ioFile)), std::istreambuf_iterator<char>());
  run.rchar = Field(io, "rchar: ");
  run.syscr = Field(io, "syscr: ");

  int status = 0;
  struct rusage usage = {};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) Die("wait4");
  }
  run.maxRssKib = usage.ru_maxrss;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

int Usage() {
  std::fprintf(stderr,
               "usage: measure [-n RUNS] [-o FILE] -- PROG ARG...\n"
               "       measure --batch LIST -- PROG ARG...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 9;
  const char* outPath = nullptr;
  const char* batchList = nullptr;
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "-n") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      outPath = argv[++i];
    } else if (std::strcmp(argv[i], "--batch") == 0 && i + 1 < argc) {
      batchList = argv[++i];
    } else {
      return Usage();
    }
  }
  if (i + 1 >= argc) return Usage();
  std::vector<char*> command(argv + i + 1, argv + argc);

  if (batchList != nullptr) {
    std::ifstream list(batchList);
    std::vector<std::string> paths;
    for (std::string line; std::getline(list, line);) {
      if (!line.empty()) paths.push_back(line);
    }
    command.push_back(nullptr);  // slot for the path
    command.push_back(nullptr);
    double totalMs = 0;
    long maxRss = 0;
    std::uint64_t totalRchar = 0;
    int nonzero = 0;
    for (std::string& path : paths) {
      command[command.size() - 2] = path.data();
      const Run r = RunOnce(command, nullptr);
      totalMs += r.ms;
      maxRss = std::max(maxRss, r.maxRssKib);
      totalRchar += r.rchar;
      nonzero += r.status != 0;
    }
    std::printf("%zu %.1f %ld %llu %d\n", paths.size(), totalMs, maxRss,
                static_cast<unsigned long long>(totalRchar), nonzero);
    return 0;
  }

  command.push_back(nullptr);
  std::vector<Run> results;
  for (int k = 0; k < runs; ++k) results.push_back(RunOnce(command, k == 0 ? outPath : nullptr));
  std::vector<double> times;
  long maxRss = 0;
  for (const Run& r : results) {
    times.push_back(r.ms);
    maxRss = std::max(maxRss, r.maxRssKib);
  }
  std::sort(times.begin(), times.end());
  const double median = times.size() % 2 ? times[times.size() / 2]
                                         : (times[times.size() / 2 - 1] + times[times.size() / 2]) / 2;
  const Run& last = results.back();
  std::printf("%.3f %.3f %ld %llu %llu %d\n", median, times.front(), maxRss,
              static_cast<unsigned long long>(last.rchar), static_cast<unsigned long long>(last.syscr), last.status);
  return 0;
}
