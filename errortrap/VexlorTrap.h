#pragma once
// The error trap: records a run-time error of an instrumented procedure with
// its category and its place in the call tree, decodes the levels a component
// passed up, writes the error line and files the report.

#include "RunTimeError.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace modVexlor {

// Traps the exception being handled (call it inside a catch block); 5 after a
// completed trap, 0 when the trap itself failed.
int16_t vxERROR(std::string_view module, std::string_view signature) noexcept;
// Traps a given run-time error.
int16_t vxERROR(std::string_view module, std::string_view signature, const vb::RunTimeError& error) noexcept;
// Traps the exception being handled for the procedure whose wrapper stands at
// `procedure` in its source. The line reported is the one that raised the
// error when that lies in the procedure's own source file; an error raised in
// another file (by a helper the procedure called) is reported at the wrapper's
// line, so that the number always points into the procedure the report names.
// A helper that raises on its caller's behalf takes the caller's location (as
// vb::ErrnoError does) and so gives the line of the call.
int16_t vxERROR(std::string_view module, std::string_view signature, const vb::SourceLocation& procedure) noexcept;

// The category code of an error number, and the name of a code.
int32_t ErrorCategory(int32_t number) noexcept;
std::string CategoryName(int32_t code);

}  // namespace modVexlor
