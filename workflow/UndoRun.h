#pragma once
// Undoing a journaled run: every file it changed put back as it was before
// the run, byte for byte, the last change first. Undoing is not journaled
// itself: it writes only what takes a file back to the bytes the journal
// holds, so undoing a run again (after a kill, or to retry a file that was
// left alone) is safe and finishes what is left.

#include "BatchRun.h"
#include "VelorizeUi.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace velorizer {

struct UndoResult {
    std::string id;  // the run undone; empty when there was none
    size_t restored = 0;
    size_t already = 0;    // already as they were before the run
    size_t notUndone = 0;  // left alone, declined or failed, each told
    size_t damaged = 0;    // records of the journal that could not be read
    bool cancelled = false;
    bool refused = false;   // the run could not be undone at all (told): running, no such run
    bool unmarked = false;  // undone, but the journal could not say so (told)
};

// Undoes run `id` of the journal in `folder`; with an empty id, the latest
// run that changed a file and is not undone. A run still going is refused.
// Only files the run changed (by its notes, or, where a killed run left none,
// by their bytes) are put back, and only when every record checks out.
// Questions and messages go through `ui`, which is told a summary at the
// end; a run whose every file is back is marked undone.
UndoResult UndoRun(const std::string& folder, const std::string& id, int32_t presetAnswer, VelorizeUi& ui,
                   BatchObserver* observer = nullptr);

}  // namespace velorizer
