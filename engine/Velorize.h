#pragma once
// Tagging one WAVE file in place with the loop properties of a clsAcidSettings:
// first a plan (what would be written, or why the file would be left alone,
// and which questions it needs), then the change itself, which ends in a
// typed outcome. Nothing here shows a message: each program tells outcomes
// its own way.

#include "ChangeRecorder.h"
#include "Inspect.h"
#include "Outcome.h"
#include "VelorizeUi.h"
#include "clsAcidSettings.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mmio {
class File;
struct FormTable;
}  // namespace mmio

namespace velorizer {

// Finds the first "fmt " chunk of the form from chunk `next` on and reads it.
// 0 on success, -1 when there is none or it is shorter than 16 bytes. `next`
// is then the chunk behind it.
int32_t ReadWaveFormat(mmio::File& handle, const mmio::FormTable& form, size_t& next, WaveFormat& format);
// Finds the first "data" chunk of the form from chunk `next` on: 0 and its
// declared size, or -1. `next` is then the chunk behind it.
int32_t GetDataChunkSize(const mmio::FormTable& form, size_t& next, uint32_t& size);

// Whole frames in `dataSize` bytes of audio in `format`; 0 when the format
// gives no frame size (block alignment, channels or bits 0, or bits not a
// multiple of 8).
uint64_t FrameCount(const WaveFormat& format, uint32_t dataSize);
// The float nearest to num / den (ties to even); den > 0.
float NearestFloat(__int128 num, uint64_t den);

// Loop properties chosen for one file from what its look found: `settings`
// comes in as the run's and may be changed for this file. A verdict leaves
// the file alone; a note is told about the file either way.
struct Choice {
    Verdict skip;
    std::string note;
};
using ChooseSettings =
    std::function<Choice(const std::string& path, const Inspection& found, clsAcidSettings& settings)>;

// What a batch run adds to tagging one file.
struct FileHooks {
    ChooseSettings choose;
    // Called with the file's identity right after the first look: false when
    // the run has taken this file under another name already, which leaves it
    // alone, unchanged and unasked.
    std::function<bool(uint64_t device, uint64_t inode)> claim;
};

// What tagging a file would do, found without changing it.
struct FilePlan {
    std::string path;
    Verdict refusal;           // why it would be left alone; none: `change` would be made
    bool readOnly = false;     // the read-only question comes first
    bool retag = false;        // then the re-tag question: it holds an acid chunk already
    std::string note;          // what the per-file choice said about it
    FileChange change;         // exactly what would be written, its identity filled in
    clsAcidSettings settings;  // the record written (a loop's tempo derived for this file)
    Inspection found;          // what the look found
};

// Plans tagging the file at `path` with `settings`, chosen anew for it by
// `hooks.choose` when given. Reads the file, never writes it; the read-only
// question's answer is taken as Yes. Without `judgeWriting`, whether this
// user may write the file is left to the change (a plan made ahead of it).
FilePlan PlanTag(const std::string& path, const clsAcidSettings& settings, const FileHooks& hooks = {},
                 bool judgeWriting = true);

// Tags the file at `path`: plans it, asks before changing a read-only or
// already tagged file, then overwrites the existing acid body or appends a new
// acid chunk. The two answer variables carry Yes to All (3) and Cancel (-1)
// from file to file; `settings` is left with this file's record (a loop's
// tempo). A recorder, when given, is told the change before the file is
// touched; when it can't record it, the file is left as it was.
Outcome VelorizeFile(const std::string& path, clsAcidSettings& settings, int32_t& readOnlyAnswer, int32_t& retagAnswer,
                     VelorizeUi& ui, ChangeRecorder* recorder = nullptr, const FileHooks& hooks = {});

}  // namespace velorizer
