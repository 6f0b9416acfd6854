#pragma once
// velorize --runs: the journaled runs, oldest first.

#include <string>

namespace velorizer {

// One line per run, or that there is none; false, with the reason, when the
// journal can't be read.
bool RunsText(std::string& out, std::string& error);

}  // namespace velorizer
