#pragma once
// The report of the last trapped error: appended to the error-log file, and
// mailed with the report attached.

#include <chrono>
#include <string>

namespace modVexlor {

// The full report of the last trapped error, as WriteErrorLog appends it.
std::string ComposeErrorReport();
void WriteErrorLog() noexcept;
// Writes the report to a file of its own and hands it to the sending thread;
// returns without waiting for the mail server.
void MailErrorReport() noexcept;
// At the end of the program: waits up to `bound` for reports still being
// mailed, then gives up on the rest. True when every mail was done.
bool FinishMail(std::chrono::milliseconds bound) noexcept;

}  // namespace modVexlor
