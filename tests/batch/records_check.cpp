// Checks docoutline-batch's output read from standard input:
//
//   batch_records_check [DOCOUTLINE]
//   batch_records_check --expected EXPECTED.jsonl
//
// Every line must parse, with a real JSON parser, as one record of the documented shape.
// Given the docoutline executable, every ok record is also compared with docoutline's own
// output for the same path: the listing's selection (the first group and the last two)
// applied to the record's headings and parts must give the same text as docoutline's
// bytes decoded with the record's code page (docoutline lists no wide parts, so a code
// page 1200 record for which it prints nothing is counted apart). Given --expected, a file of
// one {"name", "status", "headings", "parts"} object a line (a package corpus), every record
// of a file so named must have that status, headings and parts, container "zip" and no code
// page, and every name must have its record. Prints a summary; exit status 1 on any
// difference.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "record.h"
#include "outline/text.h"

namespace {

using nlohmann::json;

// What is wrong with the record's shape, or empty.
std::string ShapeProblem(const json& r) {
  static const std::set<std::string> kKeys = {"path",     "path_base64", "status", "detail",   "container",
                                              "codepage", "size",        "mtime",  "headings", "parts"};
  if (!r.is_object()) return "not an object";
  for (const auto& [key, value] : r.items()) {
    if (kKeys.count(key) == 0) return "unknown field " + key;
  }
  if (!r.contains("path") || !r["path"].is_string()) return "no path";
  if (r.contains("path_base64") && !r["path_base64"].is_string()) return "path_base64 not a string";
  if (!r.contains("status") || !r["status"].is_string()) return "no status";
  const std::string status = r["status"];
  if (std::find(std::begin(batch::kStatusWords), std::end(batch::kStatusWords), status) ==
      std::end(batch::kStatusWords)) {
    return "unknown status " + status;
  }
  // A detail always says why a document is damaged, unreadable or of no known format; an
  // encrypted one names its scheme where the file states it; no other record has one.
  const bool detailed = status == "damaged" || status == "io-error" || status == "unknown-format";
  const bool hasDetail = r.contains("detail") && r["detail"].is_string() && !r["detail"].get<std::string>().empty();
  if (r.contains("detail") && !hasDetail) return "empty detail";
  if (status != "encrypted" && detailed != hasDetail) {
    return "detail present where it should not be, or missing";
  }
  if (!r.contains("container")) return "no container";
  const json& container = r["container"];
  if (!container.is_null() && container != "compound-file" && container != "zip") return "bad container";
  if (r.contains("size") != r.contains("mtime")) return "size without mtime, or mtime without size";
  if (r.contains("size") && !r["size"].is_number_unsigned()) return "bad size";
  if (r.contains("mtime") && !(r["mtime"].is_string() && r["mtime"].get<std::string>().back() == 'Z')) {
    return "bad mtime";
  }
  if (!r.contains("codepage")) return "no codepage";
  const json& cp = r["codepage"];
  if (!cp.is_null() && !(cp.is_number_unsigned() && cp.get<std::uint64_t>() <= 0xFFFF)) return "bad codepage";
  if (r.contains("headings")) {
    if (!r["headings"].is_array()) return "headings not an array";
    for (const json& h : r["headings"]) {
      if (!h.is_object() || h.size() != 2 || !h.contains("heading") || !h["heading"].is_string() ||
          !h.contains("count") || !h["count"].is_number_integer()) {
        return "bad heading " + h.dump();
      }
    }
  }
  if (r.contains("parts")) {
    if (!r["parts"].is_array()) return "parts not an array";
    for (const json& p : r["parts"]) {
      if (!p.is_string()) return "a part is not a string";
    }
  }
  if (status == "ok" && (!r.contains("headings") || !r.contains("parts"))) return "ok without headings and parts";
  return {};
}

// docoutline's standard output for `path`.
std::string RunDocoutline(const std::string& tool, const std::string& path) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::close(fds[1]);
    ::execl(tool.c_str(), tool.c_str(), path.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return out;
}

// What docoutline prints for these headings and parts, before text mode: the echo of
// every listed name, then the report. The selection and the running part index follow
// the listing: the first group and the last two, the groups between stepped over.
std::string Listing(const json& r) {
  const json& headings = r["headings"];
  const json& parts = r["parts"];
  const std::int64_t groups = static_cast<std::int64_t>(headings.size());
  std::string echo, report;
  std::int64_t index = 0;
  for (std::int64_t g = 0; g < groups; ++g) {
    const std::int64_t count = headings[static_cast<std::size_t>(g)]["count"];
    if (!(g == 0 || g == groups - 2 || g == groups - 1)) {
      index += count;
      continue;
    }
    report += headings[static_cast<std::size_t>(g)]["heading"].get<std::string>() + "\r\n";
    for (std::int64_t i = 0; i < count; ++i, ++index) {
      if (index < 0 || index >= static_cast<std::int64_t>(parts.size())) continue;
      const std::string name = parts[static_cast<std::size_t>(index)];
      echo += name + "\n";
      report += "\t" + name + "\r\n";
    }
  }
  std::string text;  // text mode: CR before every LF
  for (const char c : echo + report) {
    if (c == '\n') text += '\r';
    text += c;
  }
  return text;
}

// The expected records by file name.
std::map<std::string, json> LoadExpected(const std::string& path) {
  std::map<std::string, json> expected;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    json e = json::parse(line);
    expected[e["name"].get<std::string>()] = e;
  }
  return expected;
}

// What differs between a record and the expected one, or empty.
std::string Difference(const json& r, const json& e) {
  const auto field = [&r](const char* key) { return r.contains(key) ? r[key] : json(nullptr); };
  if (r["status"] != e["status"]) return "status " + r["status"].dump() + ", expected " + e["status"].dump();
  if (field("headings") != e["headings"]) return "headings " + field("headings").dump();
  if (field("parts") != e["parts"]) return "parts " + field("parts").dump();
  if (r["container"] != "zip" || !r["codepage"].is_null()) return "container or codepage";
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  const bool byName = argc > 2 && std::string(argv[1]) == "--expected";
  std::map<std::string, json> wanted = byName ? LoadExpected(argv[2]) : std::map<std::string, json>();
  const std::size_t named = wanted.size();
  int matched = 0;
  const std::string tool = argc > 1 && !byName ? argv[1] : "";
  outline::TextDecoder decoder;
  std::map<std::string, int> statuses;
  int records = 0, bad = 0, compared = 0, differ = 0, wideParts = 0;
  std::string line;
  while (std::getline(std::cin, line)) {
    ++records;
    json r;
    try {
      r = json::parse(line);
    } catch (const json::exception& e) {
      std::cout << "NOT JSON (line " << records << "): " << e.what() << "\n";
      ++bad;
      continue;
    }
    if (const std::string problem = ShapeProblem(r); !problem.empty()) {
      std::cout << "BAD RECORD (line " << records << "): " << problem << "\n";
      ++bad;
      continue;
    }
    ++statuses[r["status"]];
    if (byName) {
      const std::string path = r["path"];
      const auto e = wanted.find(path.substr(path.rfind('/') + 1));
      if (e == wanted.end()) continue;
      if (const std::string d = Difference(r, e->second); !d.empty()) {
        std::cout << "DIFFERS: " << e->first << ": " << d << "\n";
        ++differ;
      } else {
        ++matched;
      }
      wanted.erase(e);
      continue;
    }
    if (tool.empty() || r["status"] != "ok" || r.contains("path_base64")) continue;
    std::optional<std::uint16_t> codePage;
    if (!r["codepage"].is_null()) codePage = r["codepage"].get<std::uint16_t>();
    const std::string printed = RunDocoutline(tool, r["path"]);
    const std::string expected = Listing(r);
    if (printed.empty() && codePage == 1200) {
      // Code page 1200 sections store their parts as wide strings, which only the batch
      // front end takes: docoutline lists nothing for them.
      ++wideParts;
      continue;
    }
    ++compared;
    if (std::string(decoder.Decode(outline::Text{printed, false}, codePage)) != expected) {
      std::cout << "DIFFERS FROM docoutline: " << r["path"].get<std::string>() << "\n";
      ++differ;
    }
  }
  std::cout << records << " records:";
  for (const auto& [status, n] : statuses) std::cout << " " << status << " " << n << ";";
  std::cout << " " << bad << " malformed";
  if (!tool.empty())
    std::cout << "; " << compared << " ok records compared with docoutline, " << differ << " differ, " << wideParts
              << " with wide parts that docoutline does not list";
  if (byName) {
    std::cout << "; " << matched << " of " << named << " as expected, " << differ << " differ, " << wanted.size()
              << " without a record";
  }
  std::cout << "\n";
  return records > 0 && bad == 0 && differ == 0 && wanted.empty() ? 0 : 1;
}
