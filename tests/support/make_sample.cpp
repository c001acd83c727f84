// Writes the sample document that ships with the repository: a small workbook-like
// compound file whose outline has four heading groups, so a run shows the first and
// the last two groups listed and the second stepped over.
#include <cstdio>

#include "doc_writer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample OUTPUT\n");
    return 2;
  }
  const std::vector<testdoc::Group> groups = {
      {"Worksheets", 2}, {"Modules", 1}, {"Charts", 1}, {"Named Ranges", 2}};
  const std::vector<std::string> parts = {"Summary", "Q3 Sales", "Macros", "Revenue Chart", "Print_Area", "Totals"};
  testdoc::WriteFile(argv[1], testdoc::SimpleDocument(groups, parts));
  return 0;
}
