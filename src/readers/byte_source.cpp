#include "readers/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace readers {

int MemorySource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return kSourceEnded;
  std::copy_n(bytes_.subspan(static_cast<std::size_t>(offset)).begin(), out.size(), out.begin());
  return 0;
}

namespace {

// Every reader starts with the file's first bytes (the signature, then its container's
// header), and in a small document the structures it needs next often lie close behind
// them. So the first read inside the first page reads the whole page, and later reads
// inside it are served from memory: one call where there were two or three.
constexpr std::size_t kHeadBytes = 4096;

class FileSource final : public ByteSource {
 public:
  FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~FileSource() override { ::close(fd_); }  // also drops the read lock
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
  bool headRead_ = false;
  std::size_t headHeld_ = 0;  // bytes of the first page the file still held when it was read
  std::array<std::uint8_t, kHeadBytes> head_;
};

// Takes a shared read lock on the whole file. A conflicting write lock held elsewhere
// fails the open; a file system without such locks is read unlocked, since refusing
// every document there would help no one.
//
// Where the system has open-file-description locks, the lock belongs to this open file.
// Elsewhere, on a kernel too old for them, or when the build defines
// DOCOUTLINE_CLASSIC_LOCK, it is a classic fcntl record lock, which belongs to the
// process: closing any descriptor of the file in this process drops it. The reader
// opens a document once and closes that descriptor only when it is done with it, so
// where one document is read at a time either lock holds for the whole read. Two
// threads of one process that read the same file at once hold one classic lock between
// them, and the first to close drops it for both.
bool LockForReading(int fd) {
  struct flock lock = {};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // the whole file, however long
#if defined(F_OFD_SETLK) && !defined(DOCOUTLINE_CLASSIC_LOCK)
  if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
  if (errno != EINVAL) return errno != EAGAIN && errno != EACCES;
#endif
  if (::fcntl(fd, F_SETLK, &lock) == 0) return true;
  return errno != EAGAIN && errno != EACCES;
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

Fault OpenFile(const char* path, std::unique_ptr<ByteSource>& out, std::optional<FileStamp>* stamp) {
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    switch (errno) {
      case ENOENT:
      case ENOTDIR: return OpenFault(Defect::kNotFound);
      case EACCES:
      case EPERM: return OpenFault(Defect::kPermissionDenied);
      case ENXIO:  // a socket, or a device with nothing behind it
        return OpenFault(Defect::kNotRegularFile);
      default: return OpenFault(Defect::kIo, errno);
    }
  }
  Fault fault;
  struct stat st = {};
  if (::fstat(fd, &st) != 0) {
    fault = OpenFault(Defect::kIo, errno);
  } else if (!S_ISREG(st.st_mode) || st.st_size < 0) {
    fault = OpenFault(Defect::kNotRegularFile);
  } else {
    if (stamp != nullptr) *stamp = StampOf(st);
    if (!LockForReading(fd)) fault = OpenFault(Defect::kLocked);
  }
  if (!fault.ok()) {
    ::close(fd);
    return fault;
  }
  out = std::make_unique<FileSource>(fd, static_cast<std::uint64_t>(st.st_size));
  return kOk;
}

SourceOpener g_opener = nullptr;

}  // namespace

SourceOpener SetSourceOpener(SourceOpener opener) {
  const SourceOpener previous = g_opener;
  g_opener = opener;
  return previous;
}

Fault OpenSource(const char* path, std::unique_ptr<ByteSource>& out, std::optional<FileStamp>* stamp) {
  out.reset();
  if (stamp != nullptr) stamp->reset();
  if (g_opener == nullptr) return OpenFile(path, out, stamp);
  out = g_opener(path);
  return out ? kOk : OpenFault(Defect::kNotFound);
}

}  // namespace readers
