#pragma once
// One batch run: every file of a list tagged, in list order, with the loop
// properties of one panel choice; Yes to All and Cancel carried from file to
// file in the two answer variables; a Cancel answer ends the run. The desktop
// program and the command line both drive it, each with its own way to the
// user (VelorizeUi) and its own way of showing progress (BatchObserver). What
// happened to each file is the engine's typed outcome, and the counts come
// from those outcomes alone.

#include "ChangeRecorder.h"
#include "Inspect.h"
#include "Outcome.h"
#include "PanelChoice.h"
#include "ReadAhead.h"
#include "Velorize.h"
#include "VelorizeUi.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace velorizer {

struct BatchResult {
    size_t visited = 0;  // files the run went to, the cancelled one included
    size_t written = 0;
    size_t unchanged = 0;  // nothing to write, or taken under another name already
    size_t declined = 0;
    size_t failed = 0;  // left alone, failed or damaged: a message named each
    bool cancelled = false;
    bool journalFailed = false;      // the journal could not be kept: the run stopped there
    bool journalUnfinished = false;  // the journal's end could not be written (told)
};

// Keeps a record of a run's changes (RunJournal): told of the run's start and
// end, and of each change before the file is touched.
class RunRecorder : public ChangeRecorder {
public:
    // Before the first file. False, with the message for the user, stops the
    // run before it touches any file.
    virtual bool Begin(std::string& message) = 0;
    // The changes planned for the next files, to be recorded with the next
    // record that must reach the disk (a change then not made is harmless).
    virtual void Upcoming(std::vector<FileChange> /*changes*/) {}
    // Whether a record has failed; the run then stops.
    virtual bool Broken() const = 0;
    // How one file's change ended, after it was made or not.
    virtual void Done(const Outcome& /*outcome*/) {}
    // Adds to an outcome what the records know of the file (a run that left
    // it as it is), before it is shown.
    virtual void Annotate(Outcome& /*outcome*/) const {}
    // False, with the message for the user, when the end of the run could
    // not be recorded.
    virtual bool End(const BatchResult& result, std::string& message) = 0;
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
    virtual void AfterFile(size_t /*number*/, const std::string& /*path*/, const Outcome& /*outcome*/) {}
    // After the last file visited, before the closing message.
    virtual void RunEnding(const BatchResult& /*result*/) {}
};

// The closing message of a run the journal stopped.
inline constexpr const char* kJournalStoppedText =
    "Operation stopped: the journal of this run could not be written, so no further file was changed.";

// The files a run has taken, by identity: each is taken once, under the
// first name that reaches it. Safe to share between threads.
class FileClaims {
public:
    bool Claim(uint64_t device, uint64_t inode);

private:
    std::mutex mutex_;
    std::set<std::pair<uint64_t, uint64_t>> taken_;
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
    // are finished. 1, the default, is the ordinary run. Where threads can't
    // be had, fewer do the work, down to the caller's own.
    void Jobs(unsigned jobs) { jobs_ = jobs < 1 ? 1 : jobs; }

    // Chooses the loop properties anew for each file, from what the look at
    // it found, just before it is tagged: the hook gets the run's choice to
    // change for this file, or leaves the file alone. It may be called for
    // several files at once.
    using FileHook = std::function<FileDecision(const std::string& path, const Inspection& found, PanelChoice& choice)>;
    void PerFile(FileHook hook) { perFile_ = std::move(hook); }

    // Tags the files and ends with "Operation completed." or "Operation
    // cancelled." (or says that there were none, or that the journal stopped
    // it). A file reached under two names (two links, a folder named twice) is
    // tagged once, under the first. Every run starts with fresh settings and
    // answers. A run-time error from the user interface leaves it at once, to
    // the caller.
    BatchResult Run(BatchObserver* observer = nullptr);

    const std::vector<std::string>& Files() const { return files_; }

private:
    // Tags or cleans one file.
    Outcome DoFile(const std::string& path, clsAcidSettings& settings, int32_t& readOnlyAnswer, int32_t& retagAnswer,
                   VelorizeUi& ui, const FileHooks& hooks) const;
    void RunInOrder(BatchObserver& watch, BatchResult& result, int32_t preset, FileClaims& claims);
    void RunConcurrently(BatchObserver& watch, BatchResult& result, int32_t preset, FileClaims& claims);
    // What plans the next files, so that their journal records share a sync;
    // none without a journal.
    ReadAhead::Planner PlannerFor(const clsAcidSettings& settings, const FileHooks& hooks) const;
    static unsigned PlanningThreads(size_t readers, const ReadAhead::Planner& planner);

    std::vector<std::string> files_;
    PanelChoice choice_;
    VelorizeUi& ui_;
    int32_t preset_ = kAnswerNone;
    RunRecorder* recorder_ = nullptr;
    bool remove_ = false;
    unsigned jobs_ = 1;
    FileHook perFile_;
};

// Adds one file's outcome to the counts.
void Count(BatchResult& result, const Outcome& outcome);

// The engine's hooks for one file of a run with this choice, per-file hook and
// claims: what a run and its dry run share.
FileHooks HooksFor(const PanelChoice& choice, const BatchRun::FileHook& perFile, FileClaims& claims);

}  // namespace velorizer
