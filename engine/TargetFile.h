#pragma once
// One file changed in place, inside the engine: the first look at its path, a
// descriptor on that very file (a path that comes to name another file is
// refused, never followed), the read-only question with the permissions given
// back afterwards, and the error handling every change shares, which tells
// each failure to the user with the file's name.

#include "ChangeRecorder.h"
#include "Mmio.h"
#include "RunTimeError.h"
#include "TagVerdicts.h"
#include "VelorizeUi.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace velorizer {

// The error number of the engine's own raised errors (mmioOpen, mmioDescend).
constexpr int32_t kVelorizeError = vb::kObjectError + 1;
inline constexpr const char* kChangedMeanwhile = "it changed while it was being tagged";

// "Velorizer did not change the file '<path>': <reason>." under "Error".
void Refuse(VelorizeUi& ui, const std::string& path, const std::string& reason);
// Acts on an answer of the change confirmation; true when the change is permitted.
bool TakeAnswer(int32_t answer, int32_t& memory);
// The four little-endian bytes of a RIFF size or chunk identifier.
std::vector<uint8_t> Word32(uint32_t value);
// Flushes the handle and has the disk hold what it wrote, so that the next
// write can't reach the disk before it.
bool Settle(mmio::File& handle);

// A failure after which the file may hold part of a change: it is never told
// as "did not change".
struct PartialChange {
    std::string reason;
};

class TargetFile {
public:
    TargetFile() = default;
    ~TargetFile();
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;

    // The first look and an open descriptor: readable and writable, or, while
    // the file is read-only, readable only. False when it was refused (told).
    // System failures are thrown.
    bool Open(const std::string& path, VelorizeUi& ui);
    bool ReadOnly() const { return readOnly_; }
    // For a read-only file: asks `question` unless Yes to All was given, then
    // gives the file its owner's write permission, through the descriptor of
    // the first look, and opens it again for writing. False when declined or
    // refused (told).
    bool MakeWritable(const std::string& question, int32_t& readOnlyAnswer, VelorizeUi& ui);
    // Whether the path still names the file first looked at.
    bool StillThere() const;
    mmio::File& Handle() { return *handle_; }
    bool HasHandle() const { return handle_ != nullptr; }
    const struct stat& Seen() const { return seen_; }
    const std::string& Path() const { return path_; }

    // Tells `recorder` (when there is one) the change about to be made, with
    // this file's path and identity filled in. False when it can't be
    // recorded: the file is refused with the recorder's reason.
    bool Record(ChangeRecorder* recorder, FileChange& change, VelorizeUi& ui) const;

    // Closes the file; MMIOERR_CANNOTWRITE when a write it attempted failed on closing.
    int32_t Close();
    // Gives a read-only file back its permissions; false (errno set) when that failed.
    bool RestoreMode();

private:
    std::string path_;
    struct stat seen_ {};
    bool viaLink_ = false;
    bool readOnly_ = false;
    std::unique_ptr<mmio::File> handle_;
    int held_ = -1;  // the descriptor of the first look, for a read-only file
    mode_t restoreMode_ = 0;
    bool restore_ = false;
};

// Runs `change` on the file at `path`, telling every failure: the engine's own
// errors as they are raised, system errors as "did not change" (or "may have
// changed" after a partial write). The file is closed and a read-only file
// gets its permissions back, whatever happened.
void ChangeFile(const std::string& path, VelorizeUi& ui, const std::function<void(TargetFile&)>& change);

}  // namespace velorizer
