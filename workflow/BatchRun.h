#pragma once
// One batch run: every file of a list tagged, in list order, with the loop
// properties of one panel choice; Yes to All and Cancel carried from file to
// file in the two answer variables; a Cancel answer ends the run. The desktop
// program and the command line both drive it, each with its own way to the
// user (VelorizeUi) and its own way of showing progress (BatchObserver).

#include "ChangeRecorder.h"
#include "PanelChoice.h"
#include "VelorizeUi.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velorizer {

// How one file of a run went, as far as the user was told.
enum class FileOutcome {
    Done,       // tagged, or left as it was with nothing to say
    Declined,   // a question about it was answered No, or not at all
    Failed,     // an error message named it
    Cancelled,  // a question about it was answered Cancel: the run ends here
};

struct BatchResult {
    size_t visited = 0;  // files the run went to, the cancelled one included
    size_t failed = 0;
    bool cancelled = false;
    bool journalFailed = false;  // the journal could not be kept: the run stopped there
};

// Keeps a record of a run's changes (RunJournal): told of the run's start and
// end, and of each change before the file is touched.
class RunRecorder : public ChangeRecorder {
public:
    // Before the first file. False, with the message for the user, stops the
    // run before it touches any file.
    virtual bool Begin(std::string& message) = 0;
    // Whether a record has failed; the run then stops.
    virtual bool Broken() const = 0;
    virtual void End(const BatchResult& result) = 0;
};

// What a per-file hook decided for one file.
struct FileDecision {
    bool skip = false;  // leave the file alone (it counts as failed)
    std::string note;   // told to the user: why it is left alone, or what it lacks
};

// Follows a run from the outside: a progress window, a progress line, and
// whatever needs to act before or after each file.
class BatchObserver {
public:
    virtual ~BatchObserver() = default;
    // Once, before the first file, when there are files.
    virtual void RunStarting(size_t /*count*/) {}
    // `number` counts the files from 1.
    virtual void BeforeFile(size_t /*number*/, const std::string& /*path*/) {}
    virtual void AfterFile(size_t /*number*/, const std::string& /*path*/, FileOutcome /*outcome*/) {}
    // After the last file visited, before the closing message.
    virtual void RunEnding(const BatchResult& /*result*/) {}
};

class BatchRun {
public:
    // The files are taken as they are now: nothing that happens to the list
    // they came from during the run changes what it visits.
    BatchRun(std::vector<std::string> files, const PanelChoice& choice, VelorizeUi& ui);

    // An answer given before the run (Yes to All) stands for both questions
    // from its first file on.
    void PresetAnswer(int32_t answer) { preset_ = answer; }
    // Every change of the run is recorded there first.
    void Record(RunRecorder* recorder) { recorder_ = recorder; }
    // The run takes the loop metadata out of the files instead of tagging them.
    void RemoveTags() { remove_ = true; }

    // Tags `jobs` files at once instead of one after another: only for a run
    // in which no question can be asked (the answers are preset, or the user
    // interface answers without asking). Files are handed out in list order;
    // the user interface and the observer are then called from the workers,
    // one call at a time, and AfterFile may come out of order. A Cancel
    // answer or a broken journal stops the handing out; the files in hand
    // are finished. 1, the default, is the ordinary run.
    void Jobs(unsigned jobs) { jobs_ = jobs < 1 ? 1 : jobs; }

    // Chooses the loop properties anew for each file, just before it is
    // tagged: the hook gets the run's choice to change for this file, or
    // leaves the file alone. It may be called for several files at once.
    using FileHook = std::function<FileDecision(const std::string& path, PanelChoice& choice)>;
    void PerFile(FileHook hook) { perFile_ = std::move(hook); }

    // Tags the files and ends with "Operation completed." or "Operation
    // cancelled." (or says that there were none). Every run starts with fresh
    // settings and answers. A run-time error from the user interface leaves it
    // at once, to the caller.
    BatchResult Run(BatchObserver* observer = nullptr);

    const std::vector<std::string>& Files() const { return files_; }

private:
    // The file's own settings when a hook chose them; false when it is left alone.
    bool ChooseForFile(const std::string& path, clsAcidSettings& settings, VelorizeUi& ui) const;
    // Tags or cleans one file; its outcome is what `ui` noted.
    void DoFile(const std::string& path, clsAcidSettings& settings, int32_t& readOnlyAnswer, int32_t& retagAnswer,
                VelorizeUi& ui) const;
    void RunInOrder(BatchObserver& watch, BatchResult& result, int32_t preset);
    void RunConcurrently(BatchObserver& watch, BatchResult& result, int32_t preset);

    std::vector<std::string> files_;
    PanelChoice choice_;
    VelorizeUi& ui_;
    int32_t preset_ = kAnswerNone;
    RunRecorder* recorder_ = nullptr;
    bool remove_ = false;
    unsigned jobs_ = 1;
    FileHook perFile_;
};

}  // namespace velorizer
