// The documents of a run, in order: paths given as arguments (folders walked), and paths
// read from standard input. Pulled a few at a time, so that the reading threads take the
// next documents as they become free and the input is never read further ahead than that.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "record.h"

namespace batch {

// A folder held open by a walk. What is in it is looked at and opened by name, relative
// to it, so that a walk goes as deep as the file system does, whatever the longest path
// the system takes whole (PATH_MAX). Closed when the walk and every item holding it are
// done with it.
class OpenFolder {
 public:
  explicit OpenFolder(int fd) : fd_(fd) {}
  ~OpenFolder();
  OpenFolder(const OpenFolder&) = delete;
  OpenFolder& operator=(const OpenFolder&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// The longest path the system opens whole: a walked document whose path is longer
// carries its folder, to be opened by name there.
#if defined(PATH_MAX)
inline constexpr std::size_t kLongestOpenedPath = PATH_MAX - 1;
#else
inline constexpr std::size_t kLongestOpenedPath = 1023;
#endif

// The folders a walk holds open at once: the innermost ones. A folder further out is
// closed, and opened again through ".." of the folder below it (and known again by its
// device and inode) when the walk comes back to it, so that a walk of any depth holds no
// more descriptors than this, and those of the deep documents in hand.
inline constexpr std::size_t kHeldFolders = 16;

// One document to report.
struct Item {
  std::string path;
  // The record is already decided (a FIFO met in a walk, a folder that cannot be listed):
  // the document is not opened.
  bool known = false;
  Status status = Status::kOk;
  std::string detail;
  // Not known to be a regular file (a path from a list): look before opening it, so that
  // no FIFO or device is ever opened.
  bool check = false;
  // A walked document whose path is longer than kLongestOpenedPath: its folder, held
  // open, and its name there. Empty for every other item.
  std::shared_ptr<const OpenFolder> folder;
  std::string name;
};

// A path read from a list longer than this is cut there (and so names no file): no list
// can make the reader hold an unbounded line. Far above any real path (PATH_MAX is 4096).
inline constexpr std::size_t kMaxListedPath = 1u << 16;

// What a source of items says when asked for the next one.
enum class Next : std::uint8_t {
  kItem,   // `item` is filled
  kEnd,    // no more items
  kFetch,  // a system call must come first (Fetch), which may be slow or wait
};

// Where the items of a run come from: PathSource, or a test's own.
class ItemSource {
 public:
  virtual ~ItemSource() = default;
  // The next item, or kEnd, or kFetch when Fetch must come first; asked again before
  // Fetch, it says kFetch again. Cheap: no system call. One thread at a time.
  virtual Next Take(Item& item) = 0;
  // Makes the system calls the next item needs (reading the list, looking at a path,
  // listing a folder): called with no lock held, never at the same time as Take.
  virtual void Fetch() = 0;
};

// What the input knows of a run's size, for the progress line: written by the thread
// that takes or fetches items, read by the one that writes records.
struct InputProgress {
  std::atomic<std::uint64_t> folders{0};  // folders entered by walks
  std::atomic<std::uint64_t> total{0};    // every item of the run, once that is known; 0 until then
};

// How the list is read: ::read, or a test's reader that fails on purpose.
using ListRead = ssize_t (*)(int fd, void* buffer, std::size_t size);

class PathSource final : public ItemSource {
 public:
  // `paths` in order; each "-" stands for the list read from `listFd` with `read` (once,
  // at the first "-"), its paths separated by `separator` ('\n' or '\0').
  PathSource(std::vector<std::string> paths, int listFd, char separator, ListRead read = nullptr);

  // The next document. Every system call it needs is left to Fetch:
  //   A folder given as an argument is walked, without recursion: each folder's entries
  //   in byte order of their names, a subfolder's documents where its name sorts; no
  //   folder entered twice. Entries are looked at and folders opened relative to their
  //   folder, so a walk has no depth limit. Symbolic links to folders are not followed;
  //   they, FIFOs, devices and sockets come out known as not-regular-file, never opened.
  //   A link to a regular file is a document; one that leads nowhere is left to the
  //   reader (not found). A folder that cannot be listed comes out with its own record,
  //   and so does every entry left in a folder that can no longer be opened when the
  //   walk comes back to it (moved away meanwhile): every entry listed gets one.
  //   Anything else given as an argument that exists and is not a regular file comes out
  //   as not-regular-file.
  //   A path from the list is never walked (a list is the result of a walk already); it
  //   comes out with `check` set. Empty entries are skipped; the last path needs no
  //   separator. In a newline-separated list a CR before the LF is no part of the path. A list on a descriptor that
  //   does not wait (O_NONBLOCK) is waited for with poll. When reading the list fails, the input ends there: the path
  //   it was in the middle of is dropped, and no later argument is taken.
  Next Take(Item& item) override;

  // The step Take left: reads the next block of the list (which may wait for the list's
  // writer), looks at a path, or lists a folder.
  void Fetch() override;

  // The errno of a failed read of the list (the input ended there), or 0.
  int ListError() const { return listError_; }

  // The folders given as arguments whose walk gave no item at all, in order.
  const std::vector<std::string>& EmptyFolders() const { return emptyFolders_; }

  // Counts and the run's total, kept up to date as items are taken. The total is known
  // once nothing uncounted is left: no argument left to look at, no folder left to list
  // in the walk, and a list that ended or was counted (CountList).
  const InputProgress& Progress() const { return progress_; }

  // When the list is a regular file, its paths are counted (in one pass of positioned
  // reads) before it is read, for the total. For the progress line only: it costs a pass.
  void CountList() { countList_ = true; }

 private:
  struct Entry {
    std::string name;
    unsigned char type;  // the Kind the folder listing gives (input.cpp)
  };
  struct Folder {
    std::shared_ptr<OpenFolder> open;  // null beyond the innermost kHeldFolders
    dev_t device = 0;                  // to know it again when it is opened again
    ino_t inode = 0;
    std::size_t pathSize = 0;  // its path: the first pathSize bytes of walkPath_
    std::vector<Entry> entries;
    std::size_t next = 0;
    int lost = 0;  // the errno of opening it again failed: its remaining entries say so
  };
  // What Fetch is to do for the next item.
  enum class Step : std::uint8_t {
    kNone,
    kReadList,        // read the next block of the list
    kLookAtArgument,  // a path given as an argument: a document, a folder to walk, or neither
    kLookAtEntry,     // a walked entry whose type the listing did not give, or a link
    kEnterFolder,     // a walked folder
    kReturn,          // back to a folder that was closed: open it again
  };

  Next TakeNext(Item& item);
  void FetchStep();
  void Publish();
  void CountListPaths();
  void EnterFolder(int at, const std::string& name, std::string path, bool followLink);
  void LookAtEntry(std::string path, const std::string& name, unsigned char kind);
  void Return();
  void LeaveFolder();
  void WalkedDocument(Item& item, std::string path, const std::string& name);
  void ReadList();
  Next ListStep(Item& item);

  std::vector<std::string> paths_;
  std::size_t nextPath_ = 0;
  std::vector<Folder> walk_;                   // the folders being walked, innermost last
  std::string walkPath_;                       // the innermost one's path
  std::set<std::pair<dev_t, ino_t>> visited_;  // every folder entered
  Step step_ = Step::kNone;
  std::string stepPath_;        // the path of that step
  std::string stepName_;        // for kLookAtEntry and kEnterFolder: the name in the innermost folder
  unsigned char stepKind_ = 0;  // for kLookAtEntry: what the listing said (kUnknown or kLink)
  bool hasFetched_ = false;     // Fetch made the next item itself: `fetched_`
  Item fetched_;
  int listFd_;
  ListRead read_;
  char separator_;
  bool listStarted_ = false;
  bool listOpen_ = false;
  bool listEnded_ = false;
  int listError_ = 0;
  std::vector<char> buffer_;
  std::size_t bufferAt_ = 0;
  std::size_t bufferEnd_ = 0;
  std::string listed_;  // the list's path read so far

  // For the progress line and for a folder argument with nothing in it.
  InputProgress progress_;
  std::uint64_t given_ = 0;        // items given
  std::uint64_t givenAtWalk_ = 0;  // items given when the walk of an argument began
  std::uint64_t walkItems_ = 0;    // entries left in the walk that give one item each
  std::uint64_t walkFolders_ = 0;  // entries left in the walk that may be folders
  bool countList_ = false;
  bool listCounted_ = false;
  std::uint64_t listLeft_ = 0;  // paths of a counted list not yet given
  std::vector<std::string> emptyFolders_;
};

}  // namespace batch
