#pragma once
// The trace outputs: every line the module writes goes to the error log (when
// capture to disk is on), the circular log and the external monitor, which may
// hold the program paused.

#include <string_view>

namespace modVexlor {

// Writes one composed line to every active trace output.
void EmitTraceLine(std::string_view line) noexcept;
// Appends a line to the error-log file when writing to disk is on.
void AppendToErrorLog(std::string_view line) noexcept;
// Start-up's opening of the circular log: the file stays open, with the record
// size and the signature in its header. A file that can't be opened is left
// for the first line to report.
void OpenCircularLog();

}  // namespace modVexlor
