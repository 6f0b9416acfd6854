#pragma once
// Taking back a change the engine recorded, byte for byte, and only from the
// state the change left the file in.

#include "ChangeRecorder.h"
#include "Outcome.h"
#include "VelorizeUi.h"

#include <cstdint>

namespace velorizer {

enum class RevertOutcome {
    Restored,       // the file is as it was before the change again
    AlreadyBefore,  // it was already: nothing was written
    LeftAlone,      // it is no longer as the change left it
    Declined,       // the read-only question was not answered Yes
    Failed,         // a write failed
};

// Puts the file back as it was before `change`, when it is still the file the
// change was made to (device and inode) and holds, at every place the change
// wrote, either the bytes written or the bytes that were there before: a
// change stopped half-way, or an earlier revert stopped half-way, is taken
// back too. Anything else is left alone, with a message that names the file
// and what differs. A length is put back before the bytes in place, so that a
// revert stopped between the two leaves a form that declares more than the
// file holds, which the tagger refuses, never an acid chunk behind the form,
// which it would take in; running the revert again finishes it. The file
// must still be a RIFF WAVE form, and the record one a change could make.
// `told`, when given, receives the outcome to show.
//
// With `leftAs`, what the change left the file as: a file since changed
// elsewhere too is put back where the change wrote, and the outcome says so;
// any other gets its modification time of before the change back as well.
struct LeftAs {
    int64_t length = -1;
    int64_t modifiedNs = 0;
};
RevertOutcome RevertFileChange(const FileChange& change, int32_t& readOnlyAnswer, VelorizeUi& ui,
                               Outcome* told = nullptr, const LeftAs* leftAs = nullptr);

// Where a file stands against a change, read without writing: as before it,
// changed by it (wholly or in part), or neither (gone, replaced, or changed
// since in a place the change wrote).
enum class ChangeState { Before, Changed, Other };
ChangeState StateOf(const FileChange& change);

}  // namespace velorizer
