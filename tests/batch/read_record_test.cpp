// The reader adapter: a status for every class of document, and for damaged and io-error
// ones the detail the readers give. Documents come from the test writer, served from
// memory through the source seam; the open faults come from real files.
#include "read_record.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "doc_writer.h"
#include "json.h"
#include "pipeline.h"
#include "readers/byte_source.h"
#include "zip_writer.h"

namespace batch {
namespace {

using namespace testdoc;

const Bytes* g_served = nullptr;

std::unique_ptr<readers::ByteSource> Serve(const char*) {
  if (g_served == nullptr) return nullptr;
  return std::make_unique<readers::MemorySource>(std::span<const std::uint8_t>(*g_served));
}

// A file whose every read fails.
class FailingSource final : public readers::ByteSource {
 public:
  std::uint64_t Size() const override { return 4096; }
  int ReadAt(std::uint64_t, std::span<std::uint8_t>) override { return EIO; }
};
std::unique_ptr<readers::ByteSource> ServeFailing(const char*) { return std::make_unique<FailingSource>(); }

// A file that shrank to its first 512 bytes after the open learnt its size.
class ShrunkSource final : public readers::ByteSource {
 public:
  std::uint64_t Size() const override { return g_served->size(); }
  int ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    return readers::MemorySource(std::span<const std::uint8_t>(*g_served).first(512)).ReadAt(offset, out);
  }
};
std::unique_ptr<readers::ByteSource> ServeShrunk(const char*) { return std::make_unique<ShrunkSource>(); }

Record ReadServed(const Bytes* document, readers::SourceOpener opener = &Serve) {
  g_served = document;
  const readers::SourceOpener previous = readers::SetSourceOpener(opener);
  Record record;
  ReadRecord("served.doc", record);
  readers::SetSourceOpener(previous);
  g_served = nullptr;
  return record;
}

Bytes WithSummary(const Bytes& stream) { return BuildCompoundFile({StreamOf(kDocSummaryName, stream)}).bytes; }

Bytes Summary(Bytes headingPairs, Bytes parts, std::int16_t codePage = 1252) {
  return WithSummary(PropertySetStream({Section{
      kFmtidDocSummary, {{kPidCodepage, I2(codePage)}, {kPidHeadingPairs, headingPairs}, {kPidDocParts, parts}}}}));
}

TEST(ReadRecord, GivesEachClassOfDocumentItsStatusAndReason) {
  struct Case {
    const char* what;
    std::function<Bytes()> make;  // null: no document at all
    Status status;
    std::string detail;
    bool headings, parts;
    readers::SourceOpener opener = &Serve;
  };
  const std::vector<Case> cases = {
      {"missing", nullptr, Status::kNotFound, "", false, false},
      {"not a compound file", [] { return Bytes{'n', 'o', 't', ' ', 'a', ' ', 'd', 'o', 'c'}; }, Status::kUnknownFormat,
       "first bytes match no container", false, false},
      {"an empty file", [] { return Bytes{}; }, Status::kUnknownFormat, "empty file", false, false},
      {"a compound file cut short",
       [] {
         CfbOptions directoryLast;
         directoryLast.directoryFirst = false;
         Bytes doc = SimpleDocument({{"Sheets", 1}}, {"a"}, directoryLast);
         doc.resize(doc.size() / 2);
         return doc;
       },
       Status::kDamaged, "directory chain: ends early", false, false},
      {"an encrypted package",
       [] {
         return BuildCompoundFile({StreamOf(u"EncryptionInfo", {4, 0, 4, 0, 0x40, 0, 0, 0}),
                                   StreamOf(u"ENCRYPTEDPACKAGE", Bytes(600, 0x5A))})
             .bytes;
       },
       Status::kEncrypted, "agile", false, false},
      {"a summary held in an encrypted stream",
       [] {
         return BuildCompoundFile(
                    {StreamOf(kDocSummaryName, PropertySetStream({Section{kFmtidDocSummary, {{kPidCodepage, I2(1252)}}}})),
                     StreamOf(u"encryption", Bytes(300, 0x5A))})
             .bytes;
       },
       Status::kEncrypted, "RC4 CryptoAPI", false, false},
      {"encrypted, its outline readable",
       [] {
         return BuildCompoundFile({StreamOf(kDocSummaryName, DocSummaryStream({{"Slides", 1}}, {"a"})),
                                   StreamOf(u"EncryptedSummary", Bytes(300, 0x5A))})
             .bytes;
       },
       Status::kOk, "", true, true},
      {"no summary stream", [] { return BuildCompoundFile({StreamOf(kSummaryName, SummaryInfoStream())}).bytes; },
       Status::kNoSummary, "", false, false},
      {"only the user-defined section",
       [] {
         return WithSummary(PropertySetStream({Section{kFmtidUserDefined, {{kPidCodepage, I2(1252)}}}}));
       },
       Status::kNoSummary, "", false, false},
      {"summary stream over 2 MiB",
       [] {
         Entry big = StreamOf(kDocSummaryName, DocSummaryStream({{"Sheets", 1}}, {"a"}));
         big.fillerSize = (2u << 20) + 1;
         return BuildCompoundFile({big}).bytes;
       },
       Status::kTooLarge, "", false, false},
      {"bad sector size",
       [] {
         Bytes doc = SimpleDocument({{"Sheets", 1}}, {"a"});
         PutU16(doc, kHdrSectorShift, 10);
         return doc;
       },
       Status::kDamaged, "header: bad sector size", false, false},
      {"directory chain loops",
       [] {
         // The summary's entry is in the second directory sector; the first leads back to itself.
         Built doc = BuildCompoundFile({StreamOf(u"A", {}), StreamOf(u"B", {}), StreamOf(u"C", {}), StreamOf(u"D", {}),
                                        StreamOf(kDocSummaryName, DocSummaryStream({{"Sheets", 1}}, {"a"}))});
         EXPECT_GE(doc.indexByPath.at(std::u16string(kDocSummaryName)), 4u);
         PutU32(doc.bytes, SectorOffset(doc, doc.fatSectors[0]) + 4 * doc.dirChain[0], doc.dirChain[0]);
         return doc.bytes;
       },
       Status::kDamaged, "directory chain: loops", false, false},
      {"heading pairs count does not fit",
       [] {
         return Summary(VectorVariant({ElemLpstr("Sheets"), ElemI4(1)}, 0x7FFFFFFF), DocParts({"a"}));
       },
       Status::kDamaged, "heading pairs: count does not fit", false, true},
      {"heading element of unknown type",
       [] {
         return Summary(VectorVariant({ElemRaw(0x99, {0, 0, 0, 0}), ElemI4(1)}), DocParts({"a"}));
       },
       Status::kDamaged, "heading pairs: unknown type", false, true},
      {"parts count does not fit",
       [] {
         return Summary(HeadingPairs({{"Sheets", 1}}), VectorLpstr({"a"}, StrLayout::Unpadded, 0x7FFFFFFF));
       },
       Status::kDamaged, "parts: count does not fit", true, false},
      {"parts of a type that holds no outline",
       [] {
         return Summary(HeadingPairs({{"Sheets", 1}}), Lpstr("a"));
       },
       Status::kNoOutline, "", true, false},
      {"no heading pairs",
       [] {
         return WithSummary(PropertySetStream(
             {Section{kFmtidDocSummary, {{kPidCodepage, I2(1252)}, {kPidDocParts, DocParts({"a"})}}}}));
       },
       Status::kNoOutline, "", false, true},
      {"wide strings in a code page 1200 section",
       [] {
         return Summary(HeadingPairsW({{"Sheets", 1}}), DocPartsW({"a"}), 1200);
       },
       Status::kOk, "", true, true},
      {"a file whose reads fail", [] { return Bytes{}; }, Status::kIoError, "read (header): Input/output error", false,
       false, &ServeFailing},
      {"a file that shrank after it was opened: damage, never io-error",
       [] {
         return SimpleDocument({{"Sheets", 1}}, {"a"});
       },
       Status::kDamaged, "header: ends early", false, false, &ServeShrunk},
      {"a zip that is no package", [] { return BuildZip({ZipItem("mimetype", "application/zip", 0)}); },
       Status::kUnknownFormat, "zip without package relationships", false, false},
      {"a package that shrank under the reader",
       [] {
         return BuildZip(PackageItems(PropertiesXml(OutlineXml({{"Sheets", 1}}, {"a"}))));
       },
       Status::kDamaged, "zip end record: ends early", false, false, &ServeShrunk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes document = c.make ? c.make() : Bytes{};
    const Record record = ReadServed(c.make ? &document : nullptr, c.opener);
    EXPECT_EQ(StatusWord(record.status), StatusWord(c.status));
    EXPECT_EQ(record.detail, c.detail);
    EXPECT_EQ(record.hasHeadings, c.headings);
    EXPECT_EQ(record.hasParts, c.parts);
    // The container is what the first bytes showed, whatever became of the reading.
    const bool shown = c.make && c.status != Status::kIoError && document.size() > 4;
    using readers::Container;
    EXPECT_EQ(record.container, !shown                ? Container::kUnknown
                                : document[0] == 'P'  ? Container::kZip
                                : document[0] == 0xD0 ? Container::kCompoundFile
                                                      : Container::kUnknown);
  }
}

TEST(ReadRecord, ReadsHeadingsAndPartsByTheListingsRules) {
  // An odd element count leaves a last heading without its count (0); a heading that is
  // no string is empty; the code page is unsigned.
  const Bytes document =
      Summary(VectorVariant({ElemLpstr("Sheets"), ElemI2(-2), ElemI4(5), ElemI4(1), ElemLpwstr(u"Wide")}),
              DocParts({"caf\xE9", ""}), static_cast<std::int16_t>(0xFDE9));
  const Record record = ReadServed(&document);
  EXPECT_EQ(record.status, Status::kOk);
  EXPECT_EQ(record.codePage, std::optional<std::uint16_t>(65001));
  ASSERT_EQ(record.headings.size(), 3u);
  EXPECT_EQ(record.TextOf(record.headings[0].text), "Sheets");
  EXPECT_EQ(record.headings[0].count, -2);
  EXPECT_EQ(record.TextOf(record.headings[1].text), "");
  EXPECT_EQ(record.headings[1].count, 1);
  EXPECT_EQ(record.TextOf(record.headings[2].text), "Wide");
  EXPECT_EQ(record.headings[2].count, 0);
  ASSERT_EQ(record.parts.size(), 2u);
  EXPECT_EQ(record.TextOf(record.parts[0]), "caf\xEF\xBF\xBD");  // not UTF-8, as code page 65001 says
}

TEST(ReadRecord, ReportsOpenFaultsOfRealFiles) {
  char folder[] = "/tmp/batch-open-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/doc.xls";
  WriteFile(path, SimpleDocument({{"Sheets", 1}}, {"a"}));
  Record record;
  ReadRecord(folder, record);
  EXPECT_EQ(record.status, Status::kNotRegularFile);
  ReadRecord(path.c_str(), record);
  EXPECT_EQ(record.status, Status::kOk);
  EXPECT_EQ(record.size, std::optional<std::uint64_t>(SimpleDocument({{"Sheets", 1}}, {"a"}).size()));
  EXPECT_TRUE(record.mtime.has_value());
  // A write lock on its own open file description conflicts even within this process.
  const int fd = ::open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);
  ReadRecord(path.c_str(), record);
  EXPECT_EQ(record.status, Status::kLocked);
  ::close(fd);
  std::remove(path.c_str());
  ::rmdir(folder);
}

TEST(ReadRecord, TheSamePathOnFourThreadsNeverDropsALockAnotherThreadHolds) {
  // The classic lock belongs to the process, and closing any descriptor of the file
  // drops it. While this thread holds the file open, four threads read it over and
  // over: a writer (this process's own open file, whose lock conflicts with classic
  // locks) must be kept out throughout, and every record must be whole once it lets go.
  char folder[] = "/tmp/batch-lock-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/doc.xls";
  WriteFile(path, SimpleDocument({{"Sheets", 1}}, {"a"}));
  const int writer = ::open(path.c_str(), O_RDWR);  // closed last: its close would drop the locks too
  ASSERT_GE(writer, 0);
  const auto writerGetsIn = [writer] {
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    if (::fcntl(writer, F_OFD_SETLK, &lock) != 0) return false;
    lock.l_type = F_UNLCK;
    ::fcntl(writer, F_OFD_SETLK, &lock);
    return true;
  };
  const bool previous = readers::SetClassicLock(true);
  std::unique_ptr<readers::ByteSource> held;
  ASSERT_TRUE(readers::OpenSource(path.c_str(), held).ok());

  struct SamePath final : ItemSource {
    Next Take(Item& item) override {
      if (left == 0) return Next::kEnd;
      --left;
      item.path = path;
      return Next::kItem;
    }
    void Fetch() override {}
    std::string path;
    int left = 2000;
  } same;
  same.path = path;
  struct StatusOnly final : Worker {
    void Process(const Item& item, std::string& line) override {
      ReadRecord(item.path.c_str(), record);
      line = std::string(StatusWord(record.status)) + "\n";
    }
    Record record;
  };
  struct Tally final : LineSink {
    void Write(std::string_view lines, std::uint64_t) override {
      for (std::size_t end; (end = lines.find('\n')) != std::string_view::npos; lines.remove_prefix(end + 1)) {
        ++statuses[std::string(lines.substr(0, end + 1))];
      }
    }
    std::map<std::string, int> statuses;
  } tally;
  std::thread run([&] {
    RunPipeline(
        4, same, [] { return std::make_unique<StatusOnly>(); }, tally);
  });
  int refused = 0;
  for (int i = 0; i < 200; ++i, ++refused) {
    if (writerGetsIn()) break;
    std::this_thread::sleep_for(std::chrono::microseconds(250));
  }
  EXPECT_EQ(refused, 200) << "the writer got in while the file was held";
  held.reset();
  run.join();
  readers::SetClassicLock(previous);
  EXPECT_EQ(tally.statuses, (std::map<std::string, int>{{"ok\n", 2000}}));
  EXPECT_TRUE(writerGetsIn()) << "a lock outlived the reads";
  ::close(writer);
  std::remove(path.c_str());
  ::rmdir(folder);
}

// Documents served by name, for runs of many.
const std::map<std::string, Bytes>* g_library = nullptr;

std::unique_ptr<readers::ByteSource> ServeByName(const char* path) {
  const auto found = g_library->find(path);
  if (found == g_library->end()) return nullptr;
  return std::make_unique<readers::MemorySource>(std::span<const std::uint8_t>(found->second));
}

TEST(ReadRecord, EveryDocumentReadsAsItDoesAloneWhateverCameBeforeIt) {
  // Documents that stop a reader part way (in a part's XML, in its inflating, with
  // bytes left unread), each followed by sound ones, on one thread and on four: every
  // record is the one the document gets when it is read alone.
  const std::string outline = OutlineXml({{"Sheets", 2}}, {"a", "b"});
  const auto package = [&](const std::function<void(std::vector<ZipItem>&)>& change) {
    std::vector<ZipItem> items = PackageItems(PropertiesXml(outline));
    change(items);
    return BuildZip(items);
  };
  const std::vector<Bytes> failing = {
      package([](auto& i) { i[1].data = "<!DOCTYPE r [<!ENTITY e \"e\">]>" + i[1].data + std::string(40000, ' '); }),
      package([](auto& i) { i[1].data.insert(50, "</x>") += std::string(40000, ' '); }),
      package([](auto& i) { i[2].data.insert(200, "<x></y>") += std::string(40000, ' '); }),
      package([](auto& i) { i[1].trailing = std::string(64, 'x'); }),
      package([](auto& i) { i[2].compressed = std::string("\x02\x00", 2); }),  // no final block
      package([](auto& i) { i[2].crc = 7; }),
      package([&](auto& i) { i[2].data = PropertiesXml("<!--" + std::string(200000, 'x') + "-->" + outline); }),
      [] {
        Bytes cut = SimpleDocument({{"Sheets", 1}}, {"a"});
        cut.resize(1536);
        return cut;
      }(),
  };
  std::map<std::string, Bytes> library;
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < failing.size(); ++i) {
    library["failing" + std::to_string(i)] = failing[i];
    for (const char* sound : {"sound.xlsx", "sound.xls", "failing" }) {
      paths.push_back(std::string(sound) + (sound[0] == 'f' ? std::to_string(i) : ""));
    }
  }
  library["sound.xlsx"] = package([](auto&) {});
  library["sound.xls"] = SimpleDocument({{"Sheets", 1}}, {"a"});
  g_library = &library;
  const readers::SourceOpener previous = readers::SetSourceOpener(&ServeByName);
  struct Listed final : ItemSource {
    explicit Listed(const std::vector<std::string>& all) : paths(all) {}
    Next Take(Item& item) override {
      if (next == paths.size()) return Next::kEnd;
      item.path = paths[next++];
      return Next::kItem;
    }
    void Fetch() override {}
    const std::vector<std::string>& paths;
    std::size_t next = 0;
  };
  struct Formatting final : Worker {
    void Process(const Item& item, std::string& line) override {
      ReadRecord(item.path.c_str(), record, state);
      FormatRecord(line, item.path, record);
    }
    Record record;
    outline::ReaderState state;
  };
  struct Lines final : LineSink {
    void Write(std::string_view lines, std::uint64_t) override { all.append(lines); }
    std::string all;
  };
  std::string alone;
  for (const std::string& path : paths) {
    Item item;
    item.path = path;
    Formatting().Process(item, alone);
  }
  for (const unsigned threads : {1u, 4u}) {
    SCOPED_TRACE(threads);
    Listed listed(paths);
    Lines lines;
    RunPipeline(threads, listed, [] { return std::make_unique<Formatting>(); }, lines);
    EXPECT_EQ(lines.all, alone);
  }
  readers::SetSourceOpener(previous);
  g_library = nullptr;
}

}  // namespace
}  // namespace batch
