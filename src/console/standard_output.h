// Standard output as the tool's one output channel, in text mode on every platform:
// a CR is written before every LF byte, every other byte passes unchanged. The echo of
// part names and the report both write here, in program order.
//
// A write that fails (closed pipe, full disk) puts the channel in an error state that
// is never cleared: from then on nothing more is written, silently.
#pragma once

#include <string>
#include <string_view>

namespace console {

// Prepares the process for writing: a closed pipe becomes a failed write instead of a
// fatal signal, and exhausted memory ends the process as AbnormalTermination says.
void Start();

// Appends bytes to the channel's buffer (written out when full or flushed).
void Write(std::string_view bytes);

// Writes out everything buffered.
void Flush();

// The one formatted print of the report, format "%s": the text's bytes up to its NUL,
// nothing added.
void PrintString(const char* text);

// Ends the process at once: "\r\nabnormal program termination\r\n" on standard error,
// exit status 3, no destructors, nothing buffered written.
[[noreturn]] void AbnormalTermination();

// Tests: collect what would reach standard output (after the CR insertion) in `capture`
// instead, or write to standard output again when null. Also clears the error state.
void CaptureForTesting(std::string* capture);

}  // namespace console
