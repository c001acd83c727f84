// Writes the two gigabyte documents the Python tests read through a counting file
// object, each with its outline at the far end and its gigabyte as a hole (no disk):
//
//   compound-1g.xls   4096-byte sectors, one 1 GiB stream, the summary streams after it
//   package-1g.xlsx   a package whose parts follow a 1 GiB stored entry
//
// Usage: make_big_documents OUTDIR
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "doc_writer.h"
#include "zip_writer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_big_documents OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  constexpr std::uint64_t kGiB = 1u << 30;
  const std::vector<testdoc::Group> groups = {{"Worksheets", 2}, {"Named Ranges", 1}};
  const std::vector<std::string> parts = {"Summary", "Q3 Sales", "Print_Area"};
  try {
    testdoc::CfbOptions options;
    options.sectorShift = 12;
    options.sparse = true;
    options.placeLast = {std::u16string(testdoc::kSummaryName), std::u16string(testdoc::kDocSummaryName)};
    testdoc::Entry summary = testdoc::StreamOf(testdoc::kDocSummaryName, testdoc::DocSummaryStream(groups, parts));
    summary.fillerSize = 4096;  // a regular stream, as office applications write it
    testdoc::WriteCompoundFile(dir + "/compound-1g.xls",
                               {testdoc::FillerStream(u"Workbook", kGiB),
                                testdoc::StreamOf(testdoc::kSummaryName, testdoc::SummaryInfoStream()), summary},
                               options);
    testdoc::WriteAfterHole(dir + "/package-1g.xlsx", "xl/media/big.bin", kGiB,
                            testdoc::PackageItems(testdoc::PropertiesXml(testdoc::OutlineXml(groups, parts))));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_big_documents: %s\n", e.what());
    return 1;
  }
  return 0;
}
