#pragma once
// What velorize tells without writing: the acid fields of files as data for
// scripts (JSON lines or CSV), and what a run would write (--dry-run); and the
// hook that chooses a run's loop properties per file.

#include "BatchRun.h"
#include "PanelChoice.h"
#include "PerFile.h"

#include <string>
#include <vector>

namespace velorizer::cli {

enum class DataFormat { Json, Csv };

// What one file gives: its lines for standard output and the message for
// standard error, made on any thread and printed in the order of the files.
struct Printed {
    std::string out;    // whole lines
    std::string error;  // one message, or none
    bool failed = false;
};
// The message, then the lines; false when the file failed.
bool Print(const Printed& p);

// One record a file on standard output, the files looked at by `jobs` threads.
// Exit status 0, or 1 when a file's acid chunks can't be read (which standard
// error also names).
int ShowAsData(const std::vector<std::string>& files, DataFormat format, unsigned jobs);

// For each file, what tagging with `choice` and `rules` would write, or why it
// would leave the file alone; writes nothing; `jobs` threads look at the
// files. Exit status 0, or 1 when a file would be left alone.
int DryRun(const std::vector<std::string>& files, const PanelChoice& choice, const PerFileRules& rules, unsigned jobs);

// The batch run's per-file hook for `rules`, with messages that name the file.
BatchRun::FileHook FileHook(const PerFileRules& rules);

}  // namespace velorizer::cli
