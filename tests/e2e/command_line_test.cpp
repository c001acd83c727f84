// The command-line rules, exit statuses and the exact bytes on standard output, through
// the built binary.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "doc_writer.h"
#include "run_tool.h"

namespace {

using e2e::RunResult;
using e2e::RunTool;

void ExpectSilent(const RunResult& r, int status) {
  EXPECT_EQ(r.exitStatus, status);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

std::string WriteDoc(const std::string& dir, const std::string& name, const testdoc::Bytes& bytes) {
  const std::string path = dir + "/" + name;
  testdoc::WriteFile(path, bytes);
  return path;
}

TEST(CommandLine, WrongArgumentCountsExitZeroSilently) {
  ExpectSilent(RunTool({}), 0);
  ExpectSilent(RunTool({"-t", "-t"}), 0);
  ExpectSilent(RunTool({"-t", "x"}), 0);
  ExpectSilent(RunTool({"a", "b", "c"}), 0);
}

TEST(CommandLine, DashTExitsMinusOneWithoutTouchingAFile) {
  const e2e::TempDir temp;
  const std::string& dir = temp.path();
  // Even a document named "-t" in the working directory is not read.
  WriteDoc(dir, "-t", testdoc::SimpleDocument({{"Worksheets", 1}}, {"Sheet1"}));
  ExpectSilent(RunTool({"-t"}, dir), 255);
}

TEST(CommandLine, AnythingElseIsADocumentPath) {
  const e2e::TempDir temp;
  const std::string& dir = temp.path();
  const testdoc::Bytes doc = testdoc::SimpleDocument({{"Worksheets", 1}}, {"Sheet1"});
  ExpectSilent(RunTool({"/t"}, dir), 0);  // a path (to nothing), not the special argument
  // Names whose bytes are not UTF-8 open the very file they name.
  for (const char* name : {"-T", "--t", "-t ", " -t", "-", "caf\xE9.xls", "\xFF\xFE", "\xED\xA0\x80-t"}) {
    WriteDoc(dir, name, doc);
    const RunResult r = RunTool({name}, dir);
    EXPECT_EQ(r.exitStatus, 0) << name;
    EXPECT_EQ(r.out, "Sheet1\r\nWorksheets\r\r\n\tSheet1\r\r\n") << name;
  }
}

TEST(CommandLine, FailuresToOpenAreSilent) {
  const e2e::TempDir temp;
  const std::string& dir = temp.path();
  std::ofstream(dir + "/plain.txt") << "just some text\n";
  ExpectSilent(RunTool({dir + "/plain.txt"}), 0);
  ExpectSilent(RunTool({dir + "/missing.doc"}), 0);
  ExpectSilent(RunTool({dir}), 0);                  // a directory
  ExpectSilent(RunTool({""}), 0);                   // an empty path
  ExpectSilent(RunTool({"/dev/null"}), 0);          // a device
  ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
  ExpectSilent(RunTool({dir + "/fifo"}), 0);        // no writer: must not block
  const std::string unreadable = WriteDoc(dir, "locked.doc", testdoc::SimpleDocument({{"H", 1}}, {"p"}));
  ::chmod(unreadable.c_str(), 0);
  if (::geteuid() != 0) ExpectSilent(RunTool({unreadable}), 0);
}

TEST(CommandLine, DocumentLockedByAWriterIsNotRead) {
  // A write lock that another process holds on the file, of either fcntl kind, keeps
  // the tool out whichever kind the tool itself takes; a flock() lock is another
  // mechanism and does not (on Linux; some BSDs map flock onto record locks).
  struct Case {
    const char* writer;
    int command;  // the fcntl lock command, or 0 for flock()
    bool blocks;
  };
  const Case cases[] = {
      {"classic fcntl", F_SETLK, true},
#ifdef F_OFD_SETLK
      {"open-file-description", F_OFD_SETLK, true},
#endif
#ifdef __linux__
      {"flock", 0, false},
#endif
  };
  const e2e::TempDir temp;
  const std::string path = WriteDoc(temp, "book.xls", testdoc::SimpleDocument({{"Worksheets", 1}}, {"Sheet1"}));
  const std::string listing = "Sheet1\r\nWorksheets\r\r\n\tSheet1\r\r\n";
  for (const Case& c : cases) {
    const int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(c.command != 0 ? ::fcntl(fd, c.command, &lock) : ::flock(fd, LOCK_EX), 0) << c.writer;
    const RunResult r = RunTool({path});
    EXPECT_EQ(r.out, c.blocks ? "" : listing) << c.writer;
    EXPECT_EQ(r.exitStatus, 0) << c.writer;
    EXPECT_EQ(r.err, "") << c.writer;
    ::close(fd);  // the writer is gone: the document reads again
    EXPECT_EQ(RunTool({path}).out, listing) << c.writer;
  }
}

TEST(CommandLine, EchoFirstThenReportWithTextModeLineEnds) {
  const e2e::TempDir temp;
  const std::string& dir = temp.path();
  const std::string path = WriteDoc(dir, "book.xls",
                                    testdoc::SimpleDocument({{"P", 2}, {"Q", 1}, {"R", 1}, {"S", 2}},
                                                            {"p1", "p2", "q1", "r1", "s1", "s2"}));
  const RunResult r = RunTool({path});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "p1\r\np2\r\nr1\r\ns1\r\ns2\r\n"
            "P\r\r\n\tp1\r\r\n\tp2\r\r\nR\r\r\n\tr1\r\r\nS\r\r\n\ts1\r\r\n\ts2\r\r\n");
}

TEST(CommandLine, FailedWritesToStandardOutputAreSilent) {
  // A pipe whose reader is gone before the tool writes, and a closed standard output:
  // the write fails, no signal kills the tool, nothing is said, the status stays 0.
  const e2e::TempDir temp;
  const std::string& dir = temp.path();
  const std::string path = WriteDoc(dir, "book.xls", testdoc::SimpleDocument({{"Worksheets", 2}}, {"A", "B"}));
  const std::string tool = std::string("'") + DOCOUTLINE_BINARY + "' '" + path + "'";
  const std::string tail = " 2>" + dir + "/err; echo $? >" + dir + "/status";
  for (const std::string& cmd : {"sh -c \"sleep 0.3; " + tool + tail + "\" | true", "sh -c \"" + tool + " >&-" + tail + "\""}) {
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream status(dir + "/status");
    int code = -1;
    status >> code;
    EXPECT_EQ(code, 0) << cmd;
    std::ifstream err(dir + "/err");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(err), {}), "") << cmd;
  }
}

}  // namespace
