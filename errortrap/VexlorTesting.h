#pragma once
// Hooks for tests: reset the module, and replace what the real program takes
// from its surroundings.

#include "Vexlor.h"

#include <optional>
#include <string>

namespace modVexlor::testhooks {

// Puts a fresh, uninitialised module state in place of the current one, which
// goes with its circular log and monitor link; mail still in flight is given
// up. Hooks set below stay. References into the old state are void.
void Reset();
// Folder used instead of the executable's ("" = the executable's folder).
void SetApplicationFolder(std::string folder);
// Executable name used instead of the real one ("" = the real one).
void SetExecutableName(std::string name);
// Whether the program counts as running in its development environment
// (nullopt = ask whether a debugger is attached).
void SetDevelopmentEnvironment(std::optional<bool> value);
// Bounds of a mail delivery, in milliseconds.
void SetMailTimeouts(long connectMs, long totalMs);
// Decimal separator used by FormatSeconds (nullopt = the user's locale's).
void SetDecimalSeparator(std::optional<std::string> separator);
// Settings, writable, for cases that need a value no file gives.
SettingsType& MutableSettings();

}  // namespace modVexlor::testhooks
