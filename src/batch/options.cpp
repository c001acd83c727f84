#include "options.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace batch {

const char* const kUsage =
    "Usage: docoutline-batch [OPTION]... [PATH]...\n"
    "Print the outline of each office document as one JSON line: its heading pairs and part\n"
    "names, or why it has none. Compound files (.doc, .xls, .ppt ...) and Office Open XML\n"
    "packages (.docx, .xlsx, .pptx ...) are read, told apart by their content. Folders are\n"
    "walked; with no PATH, or a PATH of '-', paths are read from standard input, one per line.\n"
    "\n"
    "  -0, --null         paths on standard input end in NUL, not newline\n"
    "  -j, --jobs N       read with N threads, at most 32 (default: one per core)\n"
    "      --progress     show a progress line on standard error, and the records counted\n"
    "                     by status at the end\n"
    "      --no-progress  do not (default: shown when standard error is a terminal)\n"
    "      --fail-on=WORDS\n"
    "                     exit with status 4, once every record is written, when a record\n"
    "                     has one of these status words (separated by commas); 'any' is\n"
    "                     every status but ok, no-outline and no-summary\n"
    "      --help         print this help and exit\n"
    "      --version      print the version and exit\n"
    "\n"
    "Each record's status is one word:\n"
    "  ok                 heading pairs and part names read\n"
    "  no-outline         the summary reads, but holds no heading pairs or no parts\n"
    "  no-summary         no summary properties (compound file) or extended properties\n"
    "                     (package)\n"
    "  not-found, not-regular-file, permission-denied, locked\n"
    "                     the file could not be opened for that reason\n"
    "  io-error           a read failed (the detail names the call)\n"
    "  unknown-format     neither a compound file nor a package (the detail says what)\n"
    "  damaged            a structure is broken (the detail names it)\n"
    "  too-large          the summary, or a package part, is over the readers' limit\n"
    "  encrypted          the outline is encrypted (the detail names the scheme, where\n"
    "                     the file states it)\n"
    "\n"
    "Exit status: 0 when every document got its record, 1 when standard output could not\n"
    "be written or standard input could not be read, 2 on a usage error, 3 when memory\n"
    "ran out (the records before that point are written), 4 for --fail-on.\n"
    "See docoutline-batch(1) for the record's fields.\n";

namespace {

bool ParseJobs(const std::string& text, unsigned& jobs, std::string& error) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  const bool whole = !text.empty() && end == text.data() + text.size();
  if (!whole || (ec != std::errc() && ec != std::errc::result_out_of_range) || (ec == std::errc() && value < 1)) {
    error = "the number of jobs must be a whole number of 1 or more, not '" + text + "'";
    return false;
  }
  // More threads than the cap gain nothing a machine can show and cost memory: the
  // cap is used instead, so that `-j "$(nproc)"` works on any machine.
  jobs = ec == std::errc() && value <= kMaxJobs ? value : kMaxJobs;
  return true;
}

// The statuses of a document that was read and is simply without an outline: "any"
// leaves them out, since such documents are what a collection is made of.
constexpr std::string_view kReadWithoutOutline[] = {"ok", "no-outline", "no-summary"};

// WORDS of --fail-on=WORDS: status words separated by commas, or "any".
bool ParseFailOn(std::string_view words, StatusSet& set, std::string& error) {
  for (;;) {
    const std::size_t comma = std::min(words.find(','), words.size());
    const std::string_view word = words.substr(0, comma);
    const auto* const found = std::find(std::begin(kStatusWords), std::end(kStatusWords), word);
    if (found != std::end(kStatusWords)) {
      set[static_cast<std::size_t>(found - std::begin(kStatusWords))] = true;
    } else if (word == "any") {
      for (std::size_t i = 0; i < set.size(); ++i) {
        if (std::find(std::begin(kReadWithoutOutline), std::end(kReadWithoutOutline), kStatusWords[i]) ==
            std::end(kReadWithoutOutline)) {
          set[i] = true;
        }
      }
    } else {
      error = "--fail-on takes status words separated by commas, or 'any'; '" + std::string(word) + "' is none";
      return false;
    }
    if (comma == words.size()) return true;
    words.remove_prefix(comma + 1);
  }
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
      options.paths.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-0" || arg == "--null") {
      options.nulSeparated = true;
    } else if (arg == "--progress") {
      options.progress = Options::Progress::kOn;
    } else if (arg == "--no-progress") {
      options.progress = Options::Progress::kOff;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "-j" || arg == "--jobs") {
      if (i + 1 == args.size()) {
        error = "option '" + arg + "' needs a number";
        return false;
      }
      if (!ParseJobs(args[++i], options.jobs, error)) return false;
    } else if (arg == "--fail-on") {
      if (i + 1 == args.size()) {
        error = "option '--fail-on' needs status words";
        return false;
      }
      if (!ParseFailOn(args[++i], options.failOn, error)) return false;
    } else if (arg.rfind("--fail-on=", 0) == 0) {
      if (!ParseFailOn(arg.substr(10), options.failOn, error)) return false;
    } else if (arg.rfind("--jobs=", 0) == 0) {
      if (!ParseJobs(arg.substr(7), options.jobs, error)) return false;
    } else if (arg.rfind("-j", 0) == 0) {
      if (!ParseJobs(arg.substr(2), options.jobs, error)) return false;
    } else {
      error = "unknown option '" + arg + "'";
      return false;
    }
  }
  return true;
}

}  // namespace batch
