#include "input.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

namespace batch {
namespace {

constexpr std::size_t kListBufferBytes = 1u << 16;

// What a folder entry is. FIFOs, devices and sockets are all reported alike.
enum Kind : unsigned char { kUnknown, kRegular, kFolder, kLink, kOther };

Kind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return kRegular;
  if (S_ISDIR(mode)) return kFolder;
  if (S_ISLNK(mode)) return kLink;
  return kOther;
}

// The kind a folder listing gives. Listings carry a type on most systems (d_type), but
// not on all: there every entry is looked at by itself.
Kind ListedKind([[maybe_unused]] const dirent& entry) {
#if defined(DT_UNKNOWN)
  switch (entry.d_type) {
    case DT_UNKNOWN: return kUnknown;
    case DT_REG: return kRegular;
    case DT_DIR: return kFolder;
    case DT_LNK: return kLink;
    default: return kOther;
  }
#else
  return kUnknown;
#endif
}

void Known(Item& item, std::string path, Status status, std::string detail = {}) {
  item.path = std::move(path);
  item.known = true;
  item.status = status;
  item.detail = std::move(detail);
  item.check = false;
  item.folder.reset();
  item.name.clear();
}

void Document(Item& item, std::string path, bool check) {
  item.path = std::move(path);
  item.known = false;
  item.status = Status::kOk;
  item.detail.clear();
  item.check = check;
  item.folder.reset();
  item.name.clear();
}

// How a walk opens a folder: for listing and for opening what is in it, never blocking
// (a folder replaced by a FIFO must not hang the walk).
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC;

// Whether `fd` is the folder known by `device` and `inode`.
bool IsFolder(int fd, dev_t device, ino_t inode) {
  struct stat st = {};
  return ::fstat(fd, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

// The record of a folder that could not be listed, from the failed call's errno.
void FolderFailure(Item& item, std::string path, const char* call, int error) {
  switch (error) {
    case EACCES:
    case EPERM: return Known(item, std::move(path), Status::kPermissionDenied);
    case ENOENT: return Known(item, std::move(path), Status::kNotFound);
    default: return Known(item, std::move(path), Status::kIoError, std::string(call) + ": " + std::strerror(error));
  }
}

// Waits until `fd` has something to read (or its end, or an error, which the next read
// tells). False, with errno set, when the wait itself fails.
bool WaitForInput(int fd) {
  pollfd wanted = {fd, POLLIN, 0};
  for (;;) {
    if (::poll(&wanted, 1, -1) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

std::string Join(const std::string& folder, const std::string& name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path.push_back('/');
  path.append(name);
  return path;
}

}  // namespace

OpenFolder::~OpenFolder() { ::close(fd_); }

PathSource::PathSource(std::vector<std::string> paths, int listFd, char separator, ListRead read)
    : paths_(std::move(paths)), listFd_(listFd), read_(read != nullptr ? read : &::read), separator_(separator) {}

Next PathSource::Take(Item& item) {
  const Next next = TakeNext(item);
  if (next == Next::kItem) ++given_;
  Publish();
  return next;
}

void PathSource::Fetch() {
  FetchStep();
  Publish();
}

// The total is what was given, and what is left where it is counted already; unknown
// while anything left is not (an argument not yet looked at, a folder not yet listed, an
// entry that may be one, a list neither counted nor ended).
void PathSource::Publish() {
  const bool open = step_ == Step::kLookAtArgument || step_ == Step::kEnterFolder ||
                    (step_ == Step::kLookAtEntry && stepKind_ != kLink);
  const bool known = nextPath_ == paths_.size() && walkFolders_ == 0 && !open && (!listOpen_ || listCounted_);
  const std::uint64_t pending = (hasFetched_ ? 1 : 0) + (step_ == Step::kLookAtEntry && stepKind_ == kLink ? 1 : 0);
  progress_.total.store(known ? given_ + walkItems_ + (listOpen_ ? listLeft_ : 0) + pending : 0,
                        std::memory_order_relaxed);
}

Next PathSource::TakeNext(Item& item) {
  for (;;) {
    if (hasFetched_) {
      hasFetched_ = false;
      item = std::move(fetched_);
      return Next::kItem;
    }
    if (step_ != Step::kNone) return Next::kFetch;
    if (listError_ != 0) return Next::kEnd;
    if (!walk_.empty()) {
      Folder& top = walk_.back();
      if (top.next == top.entries.size()) {
        const Folder* parent = walk_.size() > 1 ? &walk_[walk_.size() - 2] : nullptr;
        if (parent != nullptr && parent->open == nullptr && parent->lost == 0) {
          step_ = Step::kReturn;
          return Next::kFetch;
        }
        LeaveFolder();
        continue;
      }
      const Entry& entry = top.entries[top.next++];
      --(entry.type == kFolder || entry.type == kUnknown ? walkFolders_ : walkItems_);
      std::string path = Join(walkPath_, entry.name);
      if (top.lost != 0) {
        FolderFailure(item, std::move(path), "open", top.lost);
        return Next::kItem;
      }
      switch (entry.type) {
        case kRegular: WalkedDocument(item, std::move(path), entry.name); return Next::kItem;
        case kOther: Known(item, std::move(path), Status::kNotRegularFile); return Next::kItem;
        case kFolder: step_ = Step::kEnterFolder; break;
        default: step_ = Step::kLookAtEntry; break;  // kUnknown, kLink
      }
      stepKind_ = entry.type;
      stepPath_ = std::move(path);
      stepName_ = entry.name;
      return Next::kFetch;
    }
    if (listOpen_) {
      const Next next = ListStep(item);
      if (next != Next::kEnd) return next;
      listOpen_ = false;
      continue;
    }
    if (nextPath_ == paths_.size()) return Next::kEnd;
    std::string path = std::move(paths_[nextPath_++]);
    if (path == "-") {
      listOpen_ = !listStarted_;
      listStarted_ = true;
      continue;
    }
    step_ = Step::kLookAtArgument;
    stepPath_ = std::move(path);
    return Next::kFetch;
  }
}

void PathSource::FetchStep() {
  const Step step = std::exchange(step_, Step::kNone);
  std::string path = std::move(stepPath_);
  switch (step) {
    case Step::kNone: return;
    case Step::kReadList: return ReadList();
    case Step::kEnterFolder: return EnterFolder(walk_.back().open->fd(), stepName_, std::move(path), false);
    case Step::kLookAtEntry: return LookAtEntry(std::move(path), stepName_, stepKind_);
    case Step::kReturn: return Return();
    case Step::kLookAtArgument: {
      struct stat st = {};
      if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) {
        Document(fetched_, std::move(path), false);  // a failure is the reader's to report
        hasFetched_ = true;
      } else if (!S_ISDIR(st.st_mode)) {
        Known(fetched_, std::move(path), Status::kNotRegularFile);
        hasFetched_ = true;
      } else {
        givenAtWalk_ = given_;
        EnterFolder(AT_FDCWD, path, path, true);
      }
      return;
    }
  }
}

// Lists a folder, sorted, onto the walk: `name` opened relative to the folder `at`, and
// known by `path` in records. A subfolder is opened without following a final symbolic
// link, so that a folder replaced by a link after it was listed is not entered either. A
// folder that cannot be listed becomes the next item, with its record.
void PathSource::EnterFolder(int at, const std::string& name, std::string path, bool followLink) {
  const auto failed = [&](const char* call, int error) {
    FolderFailure(fetched_, std::move(path), call, error);
    hasFetched_ = true;
  };
  const int fd = ::openat(at, name.c_str(), kFolderFlags | (followLink ? 0 : O_NOFOLLOW));
  if (fd < 0) return failed("open", errno);
  Folder folder;
  folder.open = std::make_shared<OpenFolder>(fd);
  struct stat st = {};
  if (::fstat(fd, &st) != 0) return failed("stat", errno);
  if (!visited_.emplace(st.st_dev, st.st_ino).second) return;
  folder.device = st.st_dev;
  folder.inode = st.st_ino;
  // The listing reads through a descriptor of its own, closed with it; the folder's
  // stays open for what is in it.
  const int listing = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (listing < 0) return failed("open", errno);
  DIR* dir = ::fdopendir(listing);
  if (dir == nullptr) {
    const int error = errno;
    ::close(listing);
    return failed("open", error);
  }
  const std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      if (errno == 0) break;
      return failed("readdir", errno);
    }
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    folder.entries.push_back({entry->d_name, ListedKind(*entry)});
  }
  std::sort(folder.entries.begin(), folder.entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  for (const Entry& entry : folder.entries)
    ++(entry.type == kFolder || entry.type == kUnknown ? walkFolders_ : walkItems_);
  progress_.folders.fetch_add(1, std::memory_order_relaxed);
  folder.pathSize = path.size();
  walkPath_ = std::move(path);
  walk_.push_back(std::move(folder));
  if (walk_.size() > kHeldFolders) walk_[walk_.size() - 1 - kHeldFolders].open.reset();
}

// Back from the innermost folder to its parent, which the walk had closed: opened again
// through "..", or else by its path, and taken only if it is the same folder.
void PathSource::Return() {
  const Folder& child = walk_.back();
  Folder& parent = walk_[walk_.size() - 2];
  int error = ENOENT;  // what a folder that is no longer where it was reads as
  int fd = child.open != nullptr ? ::openat(child.open->fd(), "..", kFolderFlags) : -1;
  if (fd < 0 && child.open != nullptr) error = errno;
  if (fd >= 0 && !IsFolder(fd, parent.device, parent.inode)) {
    ::close(fd);
    fd = -1;
  }
  if (fd < 0 && parent.pathSize <= kLongestOpenedPath) {
    fd = ::open(walkPath_.substr(0, parent.pathSize).c_str(), kFolderFlags);
    if (fd < 0) {
      error = errno;
    } else if (!IsFolder(fd, parent.device, parent.inode)) {
      ::close(fd);
      fd = -1;
      error = ENOENT;
    }
  }
  if (fd >= 0) {
    parent.open = std::make_shared<OpenFolder>(fd);
  } else {
    parent.lost = error;
  }
  LeaveFolder();
}

void PathSource::LeaveFolder() {
  walk_.pop_back();
  if (walk_.empty() && given_ == givenAtWalk_) emptyFolders_.push_back(walkPath_);
  walkPath_.resize(walk_.empty() ? 0 : walk_.back().pathSize);
}

// A walked document; one whose path is too long to open whole carries its folder.
void PathSource::WalkedDocument(Item& item, std::string path, const std::string& name) {
  Document(item, std::move(path), false);
  if (item.path.size() > kLongestOpenedPath) {
    item.folder = walk_.back().open;
    item.name = name;
  }
}

// A walked entry the listing did not type, or a link: looked at by itself. A link that
// leads nowhere is left to the reader (not found); one to a folder is not followed.
void PathSource::LookAtEntry(std::string path, const std::string& name, unsigned char listed) {
  const int at = walk_.back().open->fd();
  auto kind = static_cast<Kind>(listed);
  struct stat st = {};
  if (kind == kUnknown)
    kind = ::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? KindOf(st.st_mode) : kRegular;
  if (kind == kLink) kind = ::fstatat(at, name.c_str(), &st, 0) != 0 || S_ISREG(st.st_mode) ? kRegular : kOther;
  if (kind == kFolder) return EnterFolder(at, name, std::move(path), false);
  if (kind == kRegular) {
    WalkedDocument(fetched_, std::move(path), name);
  } else {
    Known(fetched_, std::move(path), Status::kNotRegularFile);
  }
  hasFetched_ = true;
}

// Counts the paths of a list that is a regular file, from where it will be read to its
// end, as ListStep will give them: non-empty entries, a CR before a LF left out.
void PathSource::CountListPaths() {
  struct stat st = {};
  off_t at = ::lseek(listFd_, 0, SEEK_CUR);
  if (at < 0 || ::fstat(listFd_, &st) != 0 || !S_ISREG(st.st_mode)) return;
  std::uint64_t paths = 0;
  std::size_t length = 0;  // of the entry so far
  bool endsInCr = false;
  for (;;) {
    const ssize_t got = ::pread(listFd_, buffer_.data(), buffer_.size(), at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return;  // no total; the read of the list tells of the failure
    if (got == 0) break;
    at += got;
    std::string_view chunk(buffer_.data(), static_cast<std::size_t>(got));
    for (;;) {
      const std::size_t end = std::min(chunk.find(separator_), chunk.size());
      if (end != 0) {
        length += end;
        endsInCr = chunk[end - 1] == '\r';
      }
      if (end == chunk.size()) break;
      if (length > (separator_ == '\n' && endsInCr ? 1u : 0u)) ++paths;
      length = 0;
      endsInCr = false;
      chunk.remove_prefix(end + 1);
    }
  }
  listLeft_ = paths + (length != 0 ? 1 : 0);
  listCounted_ = true;
}

Next PathSource::ListStep(Item& item) {
  for (;;) {
    if (bufferAt_ == bufferEnd_) {
      if (!listEnded_) {
        step_ = Step::kReadList;
        return Next::kFetch;
      }
      if (listed_.empty()) return Next::kEnd;
      break;  // the last path, without a separator
    }
    const std::string_view chunk = std::string_view(buffer_.data(), bufferEnd_).substr(bufferAt_);
    const std::size_t end = std::min(chunk.find(separator_), chunk.size());
    if (listed_.size() < kMaxListedPath) {
      listed_.append(chunk.substr(0, std::min(end, kMaxListedPath - listed_.size())));
    }
    bufferAt_ += std::min(end + 1, chunk.size());
    if (end == chunk.size()) continue;
    // A list written with CR LF line ends (on another system, or by a program that writes
    // them) names the paths without the CR. A NUL-separated list is taken byte for byte.
    if (separator_ == '\n' && !listed_.empty() && listed_.back() == '\r') listed_.pop_back();
    if (!listed_.empty()) break;  // a path ends; an empty entry is skipped
  }
  Document(item, std::move(listed_), true);
  listed_.clear();
  if (listLeft_ != 0) --listLeft_;
  return Next::kItem;
}

void PathSource::ReadList() {
  // Once the list has ended it is not read again: a terminal would wait for more.
  if (listEnded_) return;
  if (buffer_.empty()) {
    buffer_.resize(kListBufferBytes);
    if (countList_) CountListPaths();
  }
  ssize_t got;
  for (;;) {
    got = read_(listFd_, buffer_.data(), buffer_.size());
    if (got >= 0) break;
    if (errno == EINTR) continue;
    // A list on a descriptor that does not wait (O_NONBLOCK, set by whoever opened it or
    // shares it) has nothing yet: wait for it here, as a read would have.
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitForInput(listFd_)) continue;
    break;
  }
  if (got <= 0) {
    listEnded_ = true;
    bufferAt_ = bufferEnd_ = 0;
    if (got < 0) {
      listError_ = errno;
      listed_.clear();  // cut short by the failure: no path
    }
    return;
  }
  bufferAt_ = 0;
  bufferEnd_ = static_cast<std::size_t>(got);
}

}  // namespace batch
