#pragma once
// Taking back a change the engine recorded, byte for byte, and only from the
// state the change left the file in.

#include "ChangeRecorder.h"
#include "VelorizeUi.h"

#include <cstdint>

namespace velorizer {

enum class RevertOutcome {
    Restored,       // the file is as it was before the change again
    AlreadyBefore,  // it was already: nothing was written
    LeftAlone,      // it is no longer as the change left it (told)
    Declined,       // the read-only question was not answered Yes
    Failed,         // a failure was told
};

// Puts the file back as it was before `change`, when it is still the file the
// change was made to (device and inode) and holds, at every place the change
// wrote, either the bytes written or the bytes that were there before: a
// change stopped half-way, or an earlier revert stopped half-way, is taken
// back too. Anything else is left alone, with a message that names the file
// and what differs. A length is put back before the bytes in place, so that a
// revert stopped between the two leaves a form that declares more than the
// file holds, which the tagger refuses, never an acid chunk behind the form,
// which it would take in; running the revert again finishes it.
RevertOutcome RevertFileChange(const FileChange& change, int32_t& readOnlyAnswer, VelorizeUi& ui);

}  // namespace velorizer
