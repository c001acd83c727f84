#include "batch/input.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace batch {
namespace {

// A path read from a list longer than this is cut there (and so names no file): no list
// can make the reader hold an unbounded line. Far above any real path (PATH_MAX is 4096).
constexpr std::size_t kMaxListedPath = 1u << 16;

Item Known(std::string path, Status status, std::string detail = {}) {
  Item item;
  item.path = std::move(path);
  item.known = true;
  item.status = status;
  item.detail = std::move(detail);
  return item;
}

// The record of a folder that could not be listed, from the failed call's errno.
Item FolderFailure(std::string path, const char* call, int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return Known(std::move(path), Status::kPermissionDenied);
    case ENOENT:
      return Known(std::move(path), Status::kNotFound);
    default:
      return Known(std::move(path), Status::kIoError, std::string(call) + ": " + std::strerror(error));
  }
}

std::string Join(const std::string& folder, const char* name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path.push_back('/');
  path.append(name);
  return path;
}

struct Entry {
  std::string name;
  unsigned char type;  // DT_* from the folder listing
};

struct Folder {
  std::string path;
  std::vector<Entry> entries;
  std::size_t next = 0;
};

// Lists a folder, sorted. Opens it without following a final symbolic link, so that a
// folder replaced by a link after it was listed is not entered either. Returns 0 or the
// errno of the failed call, named by `call`.
int ListFolder(const std::string& path, bool followLink, VisitedFolders& visited, bool& seen, Folder& folder,
               const char*& call) {
  call = "open";
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
  if (fd < 0) return errno;
  struct stat st = {};
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    call = "stat";
    return error;
  }
  seen = !visited.emplace(st.st_dev, st.st_ino).second;
  if (seen) {
    ::close(fd);
    return 0;
  }
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    const int error = errno;
    ::close(fd);
    return error;
  }
  const std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
  folder.path = path;
  folder.entries.clear();
  folder.next = 0;
  call = "readdir";
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      if (errno != 0) return errno;
      break;
    }
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    folder.entries.push_back({entry->d_name, entry->d_type});
  }
  std::sort(folder.entries.begin(), folder.entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return 0;
}

constexpr unsigned char kRegular = DT_REG;
constexpr unsigned char kOther = DT_FIFO;  // FIFOs, devices and sockets are all reported alike

unsigned char TypeOf(mode_t mode) {
  if (S_ISREG(mode)) return DT_REG;
  if (S_ISDIR(mode)) return DT_DIR;
  if (S_ISLNK(mode)) return DT_LNK;
  return kOther;
}

}  // namespace

bool WalkFolder(const std::string& root, VisitedFolders& visited, const Emit& emit) {
  std::vector<Folder> stack(1);
  const char* call = nullptr;
  bool seen = false;
  if (const int error = ListFolder(root, true, visited, seen, stack.back(), call); error != 0) {
    return emit(FolderFailure(root, call, error));
  }
  if (seen) return true;
  while (!stack.empty()) {
    Folder& top = stack.back();
    if (top.next == top.entries.size()) {
      stack.pop_back();
      continue;
    }
    const Entry& entry = top.entries[top.next++];
    std::string path = Join(top.path, entry.name.c_str());
    unsigned char type = entry.type;
    struct stat st = {};
    if (type == DT_UNKNOWN) type = ::lstat(path.c_str(), &st) == 0 ? TypeOf(st.st_mode) : kRegular;
    if (type == DT_LNK) {
      // Followed only to a regular file; a link that leads nowhere is left to the reader,
      // which reports it as not found.
      type = ::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) ? kRegular : kOther;
    }
    if (type == DT_REG) {
      Item item;
      item.path = std::move(path);
      if (!emit(std::move(item))) return false;
    } else if (type == DT_DIR) {
      Folder folder;
      if (const int error = ListFolder(path, false, visited, seen, folder, call); error != 0) {
        if (!emit(FolderFailure(std::move(path), call, error))) return false;
      } else if (!seen) {
        stack.push_back(std::move(folder));  // `top` is not used past this point
      }
    } else if (!emit(Known(std::move(path), Status::kNotRegularFile))) {
      return false;
    }
  }
  return true;
}

bool EmitPath(std::string path, bool walkFolders, VisitedFolders& visited, const Emit& emit) {
  struct stat st = {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    if (walkFolders && S_ISDIR(st.st_mode)) return WalkFolder(path, visited, emit);
    return emit(Known(std::move(path), Status::kNotRegularFile));
  }
  Item item;
  item.path = std::move(path);
  return emit(std::move(item));
}

bool ReadPathList(int fd, char separator, VisitedFolders& visited, const Emit& emit, int& error) {
  error = 0;
  std::vector<char> buffer(1u << 16);
  std::string path;
  bool cut = false;  // the current path reached kMaxListedPath
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return false;
    }
    if (got == 0) break;
    const std::string_view chunk(buffer.data(), static_cast<std::size_t>(got));
    std::size_t at = 0;
    while (at < chunk.size()) {
      const std::size_t end = std::min(chunk.find(separator, at), chunk.size());
      const std::string_view piece = chunk.substr(at, end - at);
      if (!cut) {
        path.append(piece.substr(0, kMaxListedPath - path.size()));
        cut = path.size() == kMaxListedPath;
      }
      at = end;
      if (at == chunk.size()) break;  // the path goes on in the next read
      ++at;
      if (!path.empty() && !EmitPath(std::move(path), false, visited, emit)) return false;
      path.clear();
      cut = false;
    }
  }
  return path.empty() || EmitPath(std::move(path), false, visited, emit);
}

}  // namespace batch
