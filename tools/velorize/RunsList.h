#pragma once
// velorize --runs: the journaled runs, oldest first.

#include <ostream>
#include <string>

namespace velorizer {

// Prints one line per run, or that there is none; false, with the reason,
// when the journal can't be read.
bool PrintRuns(std::ostream& out, std::string& error);

}  // namespace velorizer
