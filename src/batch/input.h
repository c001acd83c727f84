// The documents of a run, in order: paths given as arguments (folders walked), and paths
// read from standard input.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

#include "batch/record.h"

namespace batch {

// One document to report. When `known` is set its record is already decided (a FIFO met
// in a walk, a folder that cannot be listed) and the document is never opened.
struct Item {
  std::string path;
  bool known = false;
  Status status = Status::kOk;
  std::string detail;
};

// Receives each item in order; returns false to stop the input.
using Emit = std::function<bool(Item&&)>;

// The folders entered so far, by device and inode: none is entered twice.
using VisitedFolders = std::set<std::pair<dev_t, ino_t>>;

// Emits the documents under the folder `root`, without recursion: each folder's entries
// in byte order of their names, a subfolder's documents where its name sorts. Symbolic
// links to folders are not followed (they are reported as not-regular-file, like FIFOs,
// devices and sockets, none of which is opened); a link to a regular file is a document.
// A folder that cannot be listed gets a record of its own. False when `emit` stopped.
bool WalkFolder(const std::string& root, VisitedFolders& visited, const Emit& emit);

// Emits one path given by the user (an argument, or a line of standard input). A folder
// given as an argument is walked (`walkFolders`); anything that exists and is not a
// regular file is reported as not-regular-file without being opened.
bool EmitPath(std::string path, bool walkFolders, VisitedFolders& visited, const Emit& emit);

// Reads paths from `fd` separated by `separator` ('\n' or '\0') until its end, emitting
// each as EmitPath does without walking. Empty entries are skipped; the last path needs
// no separator. Returns false when `emit` stopped, or on a read error (`error` = errno).
bool ReadPathList(int fd, char separator, VisitedFolders& visited, const Emit& emit, int& error);

}  // namespace batch
