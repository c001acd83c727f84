// Drops the page cache's copy of every file listed, so that the next run reads them from
// the disk as on a machine that has not read them lately:
//
//   evict LIST
//
// LIST holds one path a line. Each file is opened and told posix_fadvise(POSIX_FADV_DONTNEED)
// over its whole length, which drops its clean pages; folders' own entries stay cached,
// as they would on a file server that serves its listings often. Exit status 1 when a
// file could not be opened or advised (the rest are still evicted).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: evict LIST\n");
    return 2;
  }
  std::ifstream list(argv[1]);
  if (!list) {
    std::fprintf(stderr, "evict: cannot read %s\n", argv[1]);
    return 2;
  }
  int status = 0;
  for (std::string path; std::getline(list, path);) {
    if (path.empty()) continue;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int error = fd < 0 ? errno : ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    if (error != 0) {
      std::fprintf(stderr, "evict: %s: %s\n", path.c_str(), std::strerror(error));
      status = 1;
    }
    if (fd >= 0) ::close(fd);
  }
  return status;
}
