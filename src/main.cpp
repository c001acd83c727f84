// docoutline: prints the outline a document records about itself, the first and the
// last two heading groups of its Document Summary Information with the names of their
// parts.
//
//   docoutline PATH   scan the document, echo each listed part name, print the report
//   docoutline -t     exit at once with status -1 (255), touching no file
//   any other number of arguments: exit 0, print nothing
//
// Failures are silent: the report is simply empty and the status 0.

#include <string>

#include "document_scan.h"
#include "heading_groups.h"
#include "property_access.h"
#include "standard_output.h"

int main(int argc, char** argv) {
  if (argc != 2) return 0;
  console::Start();
  // The argument as a wide string, without loss: the document opened is the file its
  // bytes name, whatever they are.
  const std::u16string argument = docprops::WidePath(argv[1]);
  if (argument == u"-t") return -1;
  docprops::ScanDocument(argument.c_str());
  console::PrintString(docprops::ReportText.c_str());
  console::Flush();
  return 0;
}
