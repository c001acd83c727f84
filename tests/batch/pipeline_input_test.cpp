// The engine's order and bounds with records of our own, and the input rules on a real
// folder tree.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "input.h"
#include "pipeline.h"
#include "read_record.h"
#include "readers/byte_source.h"

namespace batch {
namespace {

std::atomic<int> g_processed{0};
std::atomic<int> g_processedWhileTheFirstWasMade{0};
std::string g_exhaustedAt;  // the item whose line finds no memory

class EchoWorker final : public Worker {
 public:
  void Process(const Item& item, std::string& line) override {
    if (item.path == g_exhaustedAt) throw std::bad_alloc();
    // The first item is slow: everything else must wait for it within the ring's bound.
    const int micros = item.path == "0" ? 100000 : static_cast<int>(random_() % 200);
    std::this_thread::sleep_for(std::chrono::microseconds(micros));
    line = item.path + (item.known ? " known" : "") + "\n";
    if (item.path == "0") g_processedWhileTheFirstWasMade = g_processed.load();
    ++g_processed;
  }

 private:
  std::minstd_rand random_{std::random_device{}()};
};

class CollectLines final : public LineSink {
 public:
  void Write(std::string_view text, std::uint64_t count) override {
    for (std::size_t end; (end = text.find('\n')) != std::string_view::npos; text.remove_prefix(end + 1)) {
      lines.emplace_back(text.substr(0, end + 1));
      --count;
    }
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(text.empty());
  }
  std::vector<std::string> lines;
};

TEST(Pipeline, WritesInInputOrderAndHoldsBackAtMostTheRing) {
  // With memory exhausted at item 300, the lines before it and none after.
  for (const auto& [workers, exhaustedAt] : {std::pair{1u, -1}, {4u, -1}, {1u, 300}, {4u, 300}}) {
    g_processed = 0;
    g_exhaustedAt = std::to_string(exhaustedAt);
    CollectLines sink;
    // Items in bursts with input to read between them, as from a list.
    struct Numbers final : ItemSource {
      Next Take(Item& item) override {
        if (produced == 500) return Next::kEnd;
        if (produced % 50 == 0 && !read) return Next::kFetch;
        read = false;
        item.path = std::to_string(produced);
        item.known = produced % 7 == 0;
        ++produced;
        return Next::kItem;
      }
      void Fetch() override { read = true; }
      int produced = 0;
      bool read = false;
    } numbers;
    const RunEnd end = RunPipeline(
        workers, numbers, [] { return std::make_unique<EchoWorker>(); }, sink);
    EXPECT_EQ(end, exhaustedAt < 0 ? RunEnd::kDone : RunEnd::kMemoryExhausted);
    ASSERT_EQ(sink.lines.size(), exhaustedAt < 0 ? 500u : static_cast<std::size_t>(exhaustedAt));
    for (std::size_t i = 0; i < sink.lines.size(); ++i) {
      EXPECT_EQ(sink.lines[i], std::to_string(i) + (i % 7 == 0 ? " known\n" : "\n"));
    }
    EXPECT_LT(g_processedWhileTheFirstWasMade, static_cast<int>(std::max(kMinSlots, kSlotsPerWorker * workers)));
  }
}

struct Seen {
  std::string path;
  bool known;
  Status status;
  bool check;
  std::string openedByName = {};  // the name, when the item carries its folder
};

std::vector<Seen> Gather(PathSource& source) {
  std::vector<Seen> seen;
  Item item;
  for (Next next; (next = source.Take(item)) != Next::kEnd;) {
    if (next == Next::kFetch) {
      source.Fetch();
    } else {
      seen.push_back({item.path, item.known, item.status, item.check});
      if (item.folder != nullptr) {
        // The folder held is the document's: its name opens there.
        struct stat st = {};
        EXPECT_EQ(::fstatat(item.folder->fd(), item.name.c_str(), &st, 0), 0) << item.name;
        seen.back().openedByName = item.name;
      }
    }
  }
  return seen;
}

TEST(Input, WalksSortedAndNeverFollowsOrOpensWhatIsNoRegularFile) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("batch-walk-" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "d" / "inner");
  for (const char* name : {"b", "a", "C", "d/z", "d/inner/y"}) std::fclose(std::fopen((root / name).c_str(), "w"));
  fs::create_directory_symlink(root / "d", root / "e");   // a link to a folder
  fs::create_directory_symlink(root, root / "d" / "up");  // a loop, were links followed
  ASSERT_EQ(::mkfifo((root / "f").c_str(), 0600), 0);     // opening it for reading would block
  fs::create_symlink(root / "nowhere", root / "g");
  fs::create_symlink(root / "a", root / "h");
  const std::string r = root.string();

  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "f\nd\n", 4), 4);
  ::close(fds[1]);
  // Given twice, a folder is walked once; a list is read once, and never walked.
  PathSource source({r, r + "/d", r + "/f", "-", "-"}, fds[0], '\n');
  const std::vector<Seen> seen = Gather(source);
  ::close(fds[0]);
  const std::vector<Seen> expected = {
      {r + "/C", false, Status::kOk, false},
      {r + "/a", false, Status::kOk, false},
      {r + "/b", false, Status::kOk, false},
      {r + "/d/inner/y", false, Status::kOk, false},
      {r + "/d/up", true, Status::kNotRegularFile, false},
      {r + "/d/z", false, Status::kOk, false},
      {r + "/e", true, Status::kNotRegularFile, false},
      {r + "/f", true, Status::kNotRegularFile, false},
      {r + "/g", false, Status::kOk, false},  // left to the reader: not found
      {r + "/h", false, Status::kOk, false},
      {r + "/f", true, Status::kNotRegularFile, false},
      {"f", false, Status::kOk, true},
      {"d", false, Status::kOk, true},
  };
  ASSERT_EQ(seen.size(), expected.size());
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].path, expected[i].path);
    EXPECT_EQ(seen[i].known, expected[i].known) << seen[i].path;
    EXPECT_EQ(seen[i].status, expected[i].status) << seen[i].path;
    EXPECT_EQ(seen[i].check, expected[i].check) << seen[i].path;
  }
  // A path from a list is looked at before it is opened: only a regular file is.
  const auto looked = [](const fs::path& path) {
    Record record;
    outline::ReaderState state;
    ReadRecord(path.c_str(), record, state, true);
    return record.status;
  };
  EXPECT_EQ(looked(root / "f"), Status::kNotRegularFile);
  EXPECT_EQ(looked(root / "e"), Status::kNotRegularFile);
  EXPECT_EQ(looked(root / "h"), Status::kUnknownFormat);  // an empty file, opened
  EXPECT_EQ(looked(root / "g"), Status::kNotFound);
  fs::remove_all(root);
}

// A walk 2,000 folders deep (paths of 8,000 bytes) under a limit of 64 descriptors:
// every entry gets its item, documents beyond the longest path the system opens carry
// their folder, and coming back up opens the folders closed on the way down again.
TEST(Input, WalksDeeperThanTheLongestPathWithFewDescriptors) {
  const std::string root = std::filesystem::temp_directory_path() / ("batch-deep-" + std::to_string(::getpid()));
  ASSERT_EQ(::mkdir(root.c_str(), 0700), 0);
  std::string path = root;
  std::vector<Seen> expected;
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
  for (int depth = 1; depth <= 2000 && fd >= 0; ++depth) {
    const int next = ::mkdirat(fd, "abc", 0700) == 0 ? ::openat(fd, "abc", O_RDONLY | O_DIRECTORY) : -1;
    ::close(fd);
    fd = next;
    path += "/abc";
    if (depth == 1 || depth == 1100 || depth == 2000) {  // "abc" sorts first: the documents come out climbing back
      ::close(::openat(fd, "doc", O_WRONLY | O_CREAT, 0600));
      const bool deep = path.size() + 4 > kLongestOpenedPath;
      expected.insert(expected.begin(), {path + "/doc", false, Status::kOk, false, deep ? "doc" : ""});
    }
  }
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::mkfifoat(fd, "fifo", 0600), 0);
  // The reader opens a document by its name in its folder, however deep, as by its path:
  // a regular file only, never blocking on a FIFO, whichever way it looks.
  for (const readers::Look look : {readers::Look::kFirst, readers::Look::kAfterOpening}) {
    std::unique_ptr<readers::ByteSource> opened;
    std::optional<readers::FileStamp> stamp;
    EXPECT_TRUE(readers::OpenSourceAt(fd, "doc", opened, &stamp, look).ok());
    EXPECT_TRUE(opened != nullptr && stamp.has_value() && stamp->size == 0);
    opened.reset();
    EXPECT_EQ(readers::OpenSourceAt(fd, "fifo", opened, &stamp, look).defect, readers::Defect::kNotRegularFile);
    EXPECT_FALSE(stamp.has_value());
  }
  ::close(fd);
  expected.insert(expected.begin() + 1, {path + "/fifo", true, Status::kNotRegularFile, false});

  struct rlimit saved = {};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  const struct rlimit few = {64, saved.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
  PathSource source({root}, -1, '\n');
  const std::vector<Seen> seen = Gather(source);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  ASSERT_EQ(seen.size(), expected.size());
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].path, expected[i].path);
    EXPECT_EQ(seen[i].known, expected[i].known) << seen[i].path;
    EXPECT_EQ(seen[i].status, expected[i].status) << seen[i].path;
    EXPECT_EQ(seen[i].openedByName, expected[i].openedByName) << seen[i].path;
  }
  EXPECT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0);
}

// The list, served a few bytes per read, then its end or the failure of a read.
std::string_view g_list;
int g_listError = 0;
ssize_t ReadServedList(int, void* buffer, std::size_t size) {
  if (g_list.empty() && g_listError != 0) {
    errno = g_listError;
    return -1;
  }
  const std::size_t n = std::min({size, g_list.size(), std::size_t{7}});
  std::copy_n(g_list.data(), n, static_cast<char*>(buffer));
  g_list.remove_prefix(n);
  return static_cast<ssize_t>(n);
}

TEST(Input, ListsSplitOnTheSeparatorOnlyAndEndWhereAReadFails) {
  struct Case {
    std::string list;
    char separator;
    std::vector<std::string> paths;
    int error = 0;  // the read after the list fails with it
  };
  const Case cases[] = {
      {"a\n\nb c\n", '\n', {"a", "b c"}},
      {"a\nb", '\n', {"a", "b"}},
      {std::string("new\nline\0\0last", 15), '\0', {"new\nline", "last"}},
      {"a\r\nb\r\n\r\n\rc\r", '\n', {"a", "b", "\rc\r"}},  // CR LF line ends; a CR elsewhere is kept
      {std::string("a\r\0b\r\n", 7), '\0', {"a\r", "b\r\n"}},
      {std::string(70000, 'x') + "\ny", '\n', {std::string(kMaxListedPath, 'x'), "y"}},  // cut, never unbounded
      {"a\nb\npart", '\n', {"a", "b"}, EIO},  // no record of the part read, nor of what follows
  };
  for (const Case& c : cases) {
    g_list = c.list;
    g_listError = c.error;
    PathSource source({"-", "after"}, 0, c.separator, &ReadServedList);
    const std::vector<Seen> seen = Gather(source);
    EXPECT_EQ(source.ListError(), c.error);
    std::vector<std::string> paths;
    for (const Seen& s : seen) paths.push_back(s.path);
    std::vector<std::string> expected = c.paths;
    if (c.error == 0) expected.push_back("after");
    EXPECT_EQ(paths, expected);
  }
}

}  // namespace
}  // namespace batch
