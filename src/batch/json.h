// The JSON Lines output: one object per document on one line. A writer of our own, since
// the output is one fixed shape of strings, numbers and arrays, and writing it directly
// into a reused buffer costs no allocation per document.
#pragma once

#include <string>
#include <string_view>

#include "record.h"

namespace batch {

// Appends `text` as a JSON string: quoted, '"' and '\' escaped, control characters as
// \n, \t ... or \u00XX; any byte that does not begin a valid UTF-8 sequence as U+FFFD.
// The result is valid UTF-8 and valid JSON whatever `text` holds.
void AppendJsonString(std::string& out, std::string_view text);

// Appends standard Base64 (with '=' padding) of `bytes`.
void AppendBase64(std::string& out, std::string_view bytes);

// Appends `time` in RFC 3339 form, UTC: "2026-12-09T07:41:39.123456789Z", with as many
// digits of the second's fraction as the file system keeps (none for whole seconds).
void AppendRfc3339(std::string& out, const outline::FileTime& time);

// Appends the document's record as one line (ending in '\n'):
//   {"path":P,["path_base64":B,]"status":S,["detail":D,]"container":K|null,"codepage":N|null,
//    ["size":Z,"mtime":T,]["headings":[{"heading":H,"count":C},...],]["parts":[...]]}
// "path_base64" holds the path's exact bytes when they are not valid UTF-8 ("path" then
// shows them with U+FFFD). "detail" appears where the record has one (damaged, io-error,
// unknown-format; encrypted when the scheme is known); "container" is
// "compound-file" or "zip" as the first bytes showed; "size" and "mtime" whenever the file
// was reached; "headings" and "parts" whenever they were read.
void FormatRecord(std::string& out, std::string_view path, const Record& record);

// The same record for a document that came with no path (bytes in memory, a file object):
// "path" is null, and there is no "path_base64".
void FormatRecord(std::string& out, const Record& record);

}  // namespace batch
