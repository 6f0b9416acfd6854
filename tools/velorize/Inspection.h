#pragma once
// What velorize tells without writing: the acid fields of files as data for
// scripts (JSON lines or CSV), and what a run would write (--dry-run); and the
// hook that chooses a run's loop properties per file.

#include "BatchRun.h"
#include "PanelChoice.h"
#include "PerFile.h"

#include <optional>
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

// How a run would answer its questions: an answer given beforehand, or a
// terminal to ask on.
struct Answers {
    int32_t preset = kAnswerNone;
    bool terminal = false;
};

// For each file, what tagging with `choice` and `rules` would write, or why it
// would leave the file alone, from the plan the run itself makes; writes
// nothing and asks nothing; `jobs` threads look at the files. With `format`,
// one record a file, with the fields of ShowAsData (the acid fields those it
// would write) and where the beats and root note came from. Exit status 0, or
// 1 when the run would leave a file alone or skip it unasked.
int DryRun(const std::vector<std::string>& files, const PanelChoice& choice, const PerFileRules& rules, unsigned jobs,
           const Answers& answers, std::optional<DataFormat> format = std::nullopt);

// The batch run's per-file hook for `rules`.
BatchRun::FileHook FileHook(const PerFileRules& rules);

}  // namespace velorizer::cli
