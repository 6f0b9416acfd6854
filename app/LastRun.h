#pragma once
// The desktop program's way to the journal of runs, for Ctrl+Z: which run of
// this program would be taken back, in words, and taking it back as
// `velorize --undo RUN` does. The one place the window meets the journal's
// listing, so that a richer listing changes only this file.

#include "BatchRun.h"
#include "UndoRun.h"
#include "VelorizeUi.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace velorizer {

struct LastRun {
    std::string id;
    int64_t startedNs = 0;
    std::string settings;          // what it wrote, as --runs shows it
    size_t changed = 0;            // files it changed
    std::optional<size_t> failed;  // files it left alone with a message
    bool finished = true;          // false: stopped before its end
    bool cancelled = false;
};

// The latest run of the desktop program not yet undone. Nothing, with an empty
// `error`, when there is none; nothing, with the reason, when the journal
// can't be read.
std::optional<LastRun> FindLastRun(std::string& error);

// The question asked before the run is taken back.
std::string UndoQuestion(const LastRun& run);

// Takes the run back, file by file, through `ui` and `observer` as a run shows
// its files; ends with the undo's own summary.
UndoResult TakeBack(const LastRun& run, VelorizeUi& ui, BatchObserver* observer);

}  // namespace velorizer
