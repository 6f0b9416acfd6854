#pragma once
// Taking the loop metadata out of a WAVE file in place: the inverse of
// the tagger's append where the acid chunk ends the file, a rename elsewhere.

#include "ChangeRecorder.h"
#include "Outcome.h"
#include "Velorize.h"
#include "VelorizeUi.h"

#include <cstdint>
#include <string>

namespace velorizer {

// Removes every acid chunk of the file at `path`. One that is the last chunk of
// a form ending at the end of the file is cut off and the RIFF size lowered to
// match; one elsewhere is renamed "JUNK" in place, which every reader skips; a
// chunk an interrupted append left behind the form is cut off. A file without
// one is left alone (Unchanged). A read-only file is asked about as tagging
// asks (the answers carried in `readOnlyAnswer`), only when there is something
// to remove. The recorder, when given, is told the change before the file is
// touched; `hooks.claim` is asked right after the first look.
Outcome RemoveAcidChunks(const std::string& path, int32_t& readOnlyAnswer, VelorizeUi& ui,
                         ChangeRecorder* recorder = nullptr, const FileHooks& hooks = {});

}  // namespace velorizer
