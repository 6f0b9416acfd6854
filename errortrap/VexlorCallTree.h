#pragma once
// The call tree: entry and exit of every instrumented procedure, and the
// timed trace lines they write.

#include "VexlorState.h"

#include <string>
#include <string_view>

namespace modVexlor {

// Entry and exit of an instrumented procedure. Never raise.
void vxPUSH(std::string_view module, std::string_view signature, std::string_view arguments = {}) noexcept;
void vxPOP(std::string_view module, std::string_view signature, std::string_view arguments = {}) noexcept;
// The trace line of the frame at the current depth, for an entry or an exit.
std::string FormatTraceLine(Milliseconds4 overhead, bool isExit);
// Seconds as "00000.000" with a point as decimal separator.
std::string FormatSeconds(double seconds);

}  // namespace modVexlor
