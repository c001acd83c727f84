// The documents of a run, in order: paths given as arguments (folders walked), and paths
// read from standard input. Pulled one at a time, so that the reading threads take the
// next document as they become free and the input is never read further ahead than that.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "record.h"

namespace batch {

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
};

// True when `path` exists and is not a regular file (a folder, FIFO, device or socket).
bool ExistsAndIsNotRegular(const char* path);

// A path read from a list longer than this is cut there (and so names no file): no list
// can make the reader hold an unbounded line. Far above any real path (PATH_MAX is 4096).
inline constexpr std::size_t kMaxListedPath = 1u << 16;

// What a source of items says when asked for the next one.
enum class Next : std::uint8_t {
  kItem,  // `item` is filled
  kEnd,   // no more items
  kRead,  // more input must be read first (ReadInput), which may wait
};

// Where the items of a run come from: PathSource, or a test's own.
class ItemSource {
 public:
  virtual ~ItemSource() = default;
  // The next item, or kEnd, or kRead when ReadInput must come first. One thread at a time.
  virtual Next Take(Item& item) = 0;
  // May wait for input: called with no lock held, never at the same time as Take.
  virtual void ReadInput() = 0;
};

class PathSource final : public ItemSource {
 public:
  // `paths` in order; each "-" stands for the list read from `listFd` (read once, at the
  // first "-"), its paths separated by `separator` ('\n' or '\0').
  PathSource(std::vector<std::string> paths, int listFd, char separator);

  // The next document, without waiting for input.
  //   A folder given as an argument is walked, without recursion: each folder's entries
  //   in byte order of their names, a subfolder's documents where its name sorts; no
  //   folder entered twice. Symbolic links to folders are not followed; they, FIFOs,
  //   devices and sockets come out known as not-regular-file, never opened. A link to a
  //   regular file is a document; one that leads nowhere is left to the reader (not
  //   found). A folder that cannot be listed comes out with its own record.
  //   Anything else given as an argument that exists and is not a regular file comes out
  //   as not-regular-file.
  //   A path from the list is never walked (a list is the result of a walk already); it
  //   comes out with `check` set. Empty entries are skipped; the last path needs no
  //   separator.
  Next Take(Item& item) override;

  // Reads the next block of the list after Take said kRead; it may wait for the list's
  // writer.
  void ReadInput() override;

  // The errno of a failed read of the list (the rest of it was then skipped), or 0.
  int ListError() const { return listError_; }

 private:
  struct Entry {
    std::string name;
    unsigned char type;  // the Kind the folder listing gives (input.cpp)
  };
  struct Folder {
    std::string path;
    std::vector<Entry> entries;
    std::size_t next = 0;
  };

  bool EnterFolder(const std::string& path, bool followLink, Item& item);
  bool WalkStep(Item& item);
  Next ListStep(Item& item);

  std::vector<std::string> paths_;
  std::size_t nextPath_ = 0;
  std::vector<Folder> walk_;                   // the folders being walked, innermost last
  std::set<std::pair<dev_t, ino_t>> visited_;  // every folder entered
  int listFd_;
  char separator_;
  bool listStarted_ = false;
  bool listOpen_ = false;
  bool listEnded_ = false;
  int listError_ = 0;
  std::vector<char> buffer_;
  std::size_t bufferAt_ = 0;
  std::size_t bufferEnd_ = 0;
  std::string listed_;  // the list's path read so far
};

}  // namespace batch
