#include "readers/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace readers {

int MemorySource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return kSourceEnded;
  std::copy_n(bytes_.subspan(static_cast<std::size_t>(offset)).begin(), out.size(), out.begin());
  return 0;
}

namespace {

// The files being read under a classic lock, by (device, inode). A classic lock belongs
// to the process, and closing any descriptor of a file drops it for every thread of
// the process, so one such file is read by one thread at a time: a thread that opens a
// file another is reading waits, with its own descriptor open and not yet locked, until
// that thread has closed its descriptor; then it locks the file and reads. A descriptor
// of a file is only ever closed by the thread that holds it here, so no thread's lock
// is dropped while it reads. Open-file-description locks need none of this.
class ClassicLockHolders {
 public:
  void Enter(dev_t device, ino_t inode) {
    std::unique_lock lock(mutex_);
    left_.wait(lock, [&] { return std::find(held_.begin(), held_.end(), File{device, inode}) == held_.end(); });
    held_.push_back({device, inode});
  }
  void Leave(dev_t device, ino_t inode) {
    {
      const std::lock_guard lock(mutex_);
      held_.erase(std::find(held_.begin(), held_.end(), File{device, inode}));
    }
    left_.notify_all();
  }

 private:
  using File = std::pair<dev_t, ino_t>;
  std::mutex mutex_;
  std::condition_variable left_;
  std::vector<File> held_;  // at most one entry per reading thread
};

ClassicLockHolders g_classicHolders;

// Every reader starts with the file's first bytes (the signature, then its container's
// header), and in a small document the structures it needs next often lie close behind
// them. So the first read inside the first page reads the whole page, and later reads
// inside it are served from memory: one call where there were two or three.
constexpr std::size_t kHeadBytes = 4096;

// A thread opens one document after another: the memory of the last source it freed is
// kept for the next one it opens, instead of going back to the allocator each time.
struct SpareSource {
  void* memory = nullptr;
  ~SpareSource() { ::operator delete(memory); }
};
thread_local SpareSource t_spareSource;

class FileSource final : public ByteSource {
 public:
  static void* operator new(std::size_t bytes) {
    return t_spareSource.memory != nullptr ? std::exchange(t_spareSource.memory, nullptr) : ::operator new(bytes);
  }
  static void operator delete(void* memory) {
    if (t_spareSource.memory == nullptr) {
      t_spareSource.memory = memory;
    } else {
      ::operator delete(memory);
    }
  }

  // `classic`: the file is locked with a classic lock, and entered in g_classicHolders.
  FileSource(int fd, const struct stat& st, bool classic)
      : fd_(fd),
        size_(static_cast<std::uint64_t>(st.st_size)),
        device_(st.st_dev),
        inode_(st.st_ino),
        classic_(classic) {}
  ~FileSource() override {
    ::close(fd_);  // also drops the read lock
    if (classic_) g_classicHolders.Leave(device_, inode_);
  }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  std::uint64_t Size() const override { return size_; }

  int ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    if (offset >= kHeadBytes || out.size() > kHeadBytes - offset) return Read(offset, out);
    if (!headRead_) {
      const std::span<std::uint8_t> head =
          std::span<std::uint8_t>(head_).first(static_cast<std::size_t>(std::min<std::uint64_t>(kHeadBytes, size_)));
      std::size_t got = 0;
      if (const int error = Read(0, head, &got); error != 0 && error != kSourceEnded) return error;
      headRead_ = true;
      headHeld_ = got;
    }
    if (offset + out.size() > headHeld_) return kSourceEnded;
    std::copy_n(head_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    return 0;
  }

 private:
  // Reads all of `out` at `offset`; `got`, when given, counts what was read.
  int Read(std::uint64_t offset, std::span<std::uint8_t> out, std::size_t* got = nullptr) {
    std::size_t done = 0;
    int result = 0;
    while (done < out.size()) {
      const ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        result = n < 0 ? errno : kSourceEnded;  // no bytes: the file shrank after it was opened
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    if (got != nullptr) *got = done;
    return result;
  }

  int fd_;
  std::uint64_t size_;
  dev_t device_;
  ino_t inode_;
  bool classic_;
  bool headRead_ = false;
  std::size_t headHeld_ = 0;  // bytes of the first page the file still held when it was read
  std::array<std::uint8_t, kHeadBytes> head_;
};

#if defined(F_OFD_SETLK) && !defined(DOCOUTLINE_CLASSIC_LOCK)
std::atomic<bool> g_classicLock{false};
#else
std::atomic<bool> g_classicLock{true};
#endif

// What the lock of a file came to.
enum class Lock : std::uint8_t {
  kOwn,       // held by the open file, or the file system has no locks: read it
  kClassic,   // a classic lock is held, and the file is entered in g_classicHolders
  kConflict,  // another process holds a write lock: the descriptor is closed
};

// Takes a shared read lock on the whole file. A conflicting write lock held elsewhere
// fails the open; a file system without such locks is read unlocked, since refusing
// every document there would help no one.
//
// Where the system has open-file-description locks, the lock belongs to this open file.
// Elsewhere, on a kernel too old for them, or when the build defines
// DOCOUTLINE_CLASSIC_LOCK, it is a classic fcntl record lock, which belongs to the
// process; g_classicHolders keeps it held for as long as any thread reads the file.
Lock LockForReading(int fd, struct stat& st) {
  struct flock lock = {};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // the whole file, however long
#if defined(F_OFD_SETLK)
  if (!g_classicLock.load(std::memory_order_relaxed)) {
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return Lock::kOwn;
    if (errno != EINVAL) {
      if (errno != EAGAIN && errno != EACCES) return Lock::kOwn;
      ::close(fd);
      return Lock::kConflict;
    }
    g_classicLock.store(true, std::memory_order_relaxed);  // a kernel without them: ask no more
    // The classic lock keeps track of files by the open file's identity, which a look
    // at the path before the open may not have given.
    if (struct stat own = {}; ::fstat(fd, &own) == 0) st = own;
  }
#endif
  g_classicHolders.Enter(st.st_dev, st.st_ino);
  if (::fcntl(fd, F_SETLK, &lock) == 0 || (errno != EAGAIN && errno != EACCES)) return Lock::kClassic;
  ::close(fd);  // before leaving: the next reader's lock must not be dropped by this close
  g_classicHolders.Leave(st.st_dev, st.st_ino);
  return Lock::kConflict;
}

FileStamp StampOf(const struct stat& st) {
  FileStamp stamp;
  stamp.size = static_cast<std::uint64_t>(st.st_size);
#if defined(__APPLE__)
  stamp.seconds = st.st_mtimespec.tv_sec;
  stamp.nanoseconds = static_cast<std::uint32_t>(st.st_mtimespec.tv_nsec);
#else
  stamp.seconds = st.st_mtim.tv_sec;
  stamp.nanoseconds = static_cast<std::uint32_t>(st.st_mtim.tv_nsec);
#endif
  return stamp;
}

Fault OpenFault(Defect defect, int error = 0) { return Fault{defect, Structure::kFile, error}; }

// The fault of an open, or of a look at the path, that failed with `error`.
Fault PathFault(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: return OpenFault(Defect::kNotFound);
    case EACCES:
    case EPERM: return OpenFault(Defect::kPermissionDenied);
    case ENXIO:  // a socket, or a device with nothing behind it
      return OpenFault(Defect::kNotRegularFile);
    default: return OpenFault(Defect::kIo, error);
  }
}

bool IsRegular(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_size >= 0; }

// Opens `path`, relative to the folder `at` (AT_FDCWD: as open(2) would).
Fault OpenFile(int at, const char* path, Look look, std::unique_ptr<ByteSource>& out, std::optional<FileStamp>* stamp) {
  struct stat st = {};
  if (look == Look::kFirst) {
    if (::fstatat(at, path, &st, 0) != 0) return PathFault(errno);
    if (!IsRegular(st)) return OpenFault(Defect::kNotRegularFile);
  }
  const int fd = ::openat(at, path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return PathFault(errno);
  // The classic lock keeps track of files by the open file's own identity.
  if (look == Look::kAfterOpening || g_classicLock.load(std::memory_order_relaxed)) {
    Fault fault;
    if (::fstat(fd, &st) != 0) {
      fault = OpenFault(Defect::kIo, errno);
    } else if (!IsRegular(st)) {
      fault = OpenFault(Defect::kNotRegularFile);
    }
    if (!fault.ok()) {
      // Not a file that any thread here locks (and a failed fstat, which no file system
      // gives for an open file, names no file to wait for): closing it drops no lock.
      ::close(fd);
      return fault;
    }
  }
  if (stamp != nullptr) *stamp = StampOf(st);
  const Lock lock = LockForReading(fd, st);
  if (lock == Lock::kConflict) return OpenFault(Defect::kLocked);  // closed already
  out = std::make_unique<FileSource>(fd, st, lock == Lock::kClassic);
  return kOk;
}

SourceOpener g_opener = nullptr;

}  // namespace

bool SetClassicLock(bool classic) { return g_classicLock.exchange(classic); }

SourceOpener SetSourceOpener(SourceOpener opener) {
  const SourceOpener previous = g_opener;
  g_opener = opener;
  return previous;
}

Fault OpenSource(const char* path, std::unique_ptr<ByteSource>& out, std::optional<FileStamp>* stamp, Look look) {
  return OpenSourceAt(AT_FDCWD, path, out, stamp, look);
}

Fault OpenSourceAt(int folder, const char* name, std::unique_ptr<ByteSource>& out, std::optional<FileStamp>* stamp,
                   Look look) {
  out.reset();
  if (stamp != nullptr) stamp->reset();
  if (g_opener == nullptr) return OpenFile(folder, name, look, out, stamp);
  out = g_opener(name);
  return out ? kOk : OpenFault(Defect::kNotFound);
}

}  // namespace readers
