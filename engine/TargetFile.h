#pragma once
// One file looked at or changed in place, inside the engine: the first look at
// its path, a descriptor on that very file (a path that comes to name another
// file is refused, never followed), whether this user may write it, the
// read-only question's permissions given back afterwards, and the handling
// every change shares, which turns each failure into an outcome.

#include "ChangeRecorder.h"
#include "Mmio.h"
#include "Outcome.h"
#include "VelorizeUi.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace velorizer {

// Acts on an answer of the change confirmation; true when the change is permitted.
bool TakeAnswer(int32_t answer, int32_t& memory);
// The four little-endian bytes of a RIFF size or chunk identifier.
std::vector<uint8_t> Word32(uint32_t value);
// Flushes the handle and has the disk hold what it wrote, so that the next
// write can't reach the disk before it.
bool Settle(mmio::File& handle);

// Leaves the change being made with this outcome's verdict: thrown inside a
// change, caught by ChangeFile. `wrote`: a write was attempted and the file is
// as it was again (a failure, not a refusal).
struct Stop {
    Verdict why;
    bool wrote = false;
    bool writeRefused = false;  // the acid chunk's own write was refused ("error!")
};
// A failure after which the file may hold part of a change: it is never told
// as "did not change".
struct PartialChange {
    std::string reason;
    bool writeRefused = false;
};
// A failed system call, thrown as Stop with its errno.
[[noreturn]] void FailWith(int err);

class TargetFile {
public:
    TargetFile() = default;
    ~TargetFile();
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;

    // The first look and an open descriptor. With `forWriting` the file is
    // opened for reading and writing where this user may write it; otherwise,
    // and while it is read-only, for reading only. A folder, a special file or
    // a path that names another file by now is refused; other failures are
    // thrown.
    // `judgeWriting` false spares a look only that asks whether this user may
    // write the file (a plan made ahead, which the change itself checks).
    Verdict Open(const std::string& path, bool forWriting, bool judgeWriting = true);
    // The file's owner-write permission is off and this user may give it back:
    // the read-only question is asked before it is changed.
    bool ReadOnly() const { return readOnly_; }
    // Why this user can't write the file even with the read-only question
    // answered Yes (no permission, a read-only file system); none when it can.
    const Verdict& WriteVerdict() const { return writeVerdict_; }
    // After a Yes to the read-only question: gives the file its owner's write
    // permission, through the descriptor of the first look, and opens it again
    // for writing. A refusal when the path names another file by now.
    Verdict MakeWritable();
    // Whether the path still names the file first looked at.
    bool StillThere() const;
    // Whether the file is `length` bytes long now, asked of the descriptor;
    // what the descriptor said is kept (Now()).
    bool LengthIs(int64_t length);
    const struct stat& Now() const { return now_; }
    mmio::File& Handle() { return *handle_; }
    bool HasHandle() const { return handle_ != nullptr; }
    const struct stat& Seen() const { return seen_; }
    const std::string& Path() const { return path_; }

    // Tells `recorder` (when there is one) the change about to be made, with
    // this file's path and identity filled in. A refusal when it can't be
    // recorded.
    Verdict Record(ChangeRecorder* recorder, FileChange& change) const;

    // Closes the file; MMIOERR_CANNOTWRITE when a write it attempted failed on closing.
    int32_t Close();
    // Gives a read-only file back its permissions; false (errno set) when that failed.
    bool RestoreMode();

private:
    std::string path_;
    struct stat seen_ = {};
    struct stat now_ = {};
    bool viaLink_ = false;
    bool readOnly_ = false;
    Verdict writeVerdict_;
    std::unique_ptr<mmio::File> handle_;
    int held_ = -1;  // the descriptor of the first look, for a read-only file
    mode_t restoreMode_ = 0;
    bool restore_ = false;
};

// Runs `change` on the file at `path` and returns how it ended. Whatever is
// thrown becomes the outcome: Stop as its verdict, PartialChange as "may have
// changed", a system error as "did not change". The file is closed and a
// read-only file gets its permissions back, whatever happened.
Outcome ChangeFile(const std::string& path, const std::function<Outcome(TargetFile&)>& change);

// The outcome of leaving a file alone for `why`.
Outcome LeftAlone(const std::string& path, Verdict why);

}  // namespace velorizer
