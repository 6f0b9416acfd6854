#include "BatchRun.h"

#include "Descriptors.h"
#include "ReadAhead.h"
#include "RemoveAcid.h"
#include "Velorize.h"
#include "clsAcidSettings.h"

#include <algorithm>
#include <map>
#include <exception>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

namespace velorizer {

namespace {

// Descriptors a run leaves free for the journal and for whatever the user
// interface opens while it runs.
constexpr size_t kDescriptorsKept = 4;
// Files a worker takes at once when their journal records are to share a sync.
constexpr size_t kPlannedBatch = 16;

// The user interface, one call at a time: workers take turns.
class SerialUi : public VelorizeUi {
public:
    SerialUi(VelorizeUi& user, std::mutex& talk) : user_(user), talk_(talk) {}
    void MsgBox(const std::string& prompt, int style, const std::string& title) override {
        const std::lock_guard<std::mutex> lock(talk_);
        user_.MsgBox(prompt, style, title);
    }
    int32_t GetConfirmReadOnly(const std::string& title, const std::string& message) override {
        const std::lock_guard<std::mutex> lock(talk_);
        return user_.GetConfirmReadOnly(title, message);
    }
    int32_t AskToChange(ChangeQuestion question, const std::string& path, const std::string& title,
                        const std::string& message) override {
        const std::lock_guard<std::mutex> lock(talk_);
        return user_.AskToChange(question, path, title, message);
    }
    void ShowOutcome(const Outcome& outcome) override {
        const std::lock_guard<std::mutex> lock(talk_);
        user_.ShowOutcome(outcome);
    }

private:
    VelorizeUi& user_;
    std::mutex& talk_;
};

}  // namespace

bool FileClaims::Claim(uint64_t device, uint64_t inode) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return taken_.insert({device, inode}).second;
}

FileHooks HooksFor(const PanelChoice& choice, const BatchRun::FileHook& perFile, FileClaims& claims) {
    FileHooks hooks;
    hooks.claim = [&claims](uint64_t device, uint64_t inode) { return claims.Claim(device, inode); };
    if (perFile) {
        hooks.choose = [choice, perFile](const std::string& file, const Inspection& found, clsAcidSettings& chosen) {
            PanelChoice own = choice;
            FileDecision decided = perFile(file, found, own);
            if (decided.skip) return Choice{Verdict::Text(Reason::Rule, decided.note), {}};
            chosen = clsAcidSettings();
            FillSettings(chosen, own);
            return Choice{{}, std::move(decided.note)};
        };
    }
    return hooks;
}

void Count(BatchResult& result, const Outcome& outcome) {
    switch (outcome.result) {
        case Result::Written: ++result.written; break;
        case Result::Unchanged: ++result.unchanged; break;
        case Result::Declined:
        case Result::Cancelled: ++result.declined; break;
        default: break;
    }
    if (outcome.Failed()) ++result.failed;
}

BatchRun::BatchRun(std::vector<std::string> files, const PanelChoice& choice, VelorizeUi& ui)
    : files_(std::move(files)), choice_(choice), ui_(ui) {}

Outcome BatchRun::DoFile(const std::string& path, clsAcidSettings& settings, int32_t& readOnlyAnswer,
                         int32_t& retagAnswer, VelorizeUi& ui, const FileHooks& hooks) const {
    if (remove_) return RemoveAcidChunks(path, readOnlyAnswer, ui, recorder_, hooks);
    return VelorizeFile(path, settings, readOnlyAnswer, retagAnswer, ui, recorder_, hooks);
}

BatchResult BatchRun::Run(BatchObserver* observer) {
    BatchObserver none;
    BatchObserver& watch = observer ? *observer : none;
    BatchResult result;
    if (files_.empty()) {
        ui_.MsgBox("No files were found in the specified directory.", vbInformation, "");
        return result;
    }
    if (std::string message; recorder_ && !recorder_->Begin(message)) {
        ui_.MsgBox(message, vbCritical, "Error");
        result.journalFailed = true;
        return result;
    }
    const int32_t preset = preset_ == kAnswerYesToAll ? kAnswerYesToAll : kAnswerNone;
    FileClaims claims;
    watch.RunStarting(files_.size());
    if (jobs_ > 1 && files_.size() > 1) RunConcurrently(watch, result, preset, claims);
    else RunInOrder(watch, result, preset, claims);
    watch.RunEnding(result);
    if (std::string message; recorder_ && !recorder_->End(result, message)) {
        ui_.MsgBox(message, vbCritical, "Error");
        result.journalUnfinished = true;
    }
    ui_.MsgBox(result.journalFailed ? kJournalStoppedText
               : result.cancelled   ? "Operation cancelled."
                                    : "Operation completed.",
               vbInformation, "");
    return result;
}

ReadAhead::Planner BatchRun::PlannerFor(const clsAcidSettings& settings, const FileHooks& hooks) const {
    if (!recorder_ || remove_) return {};
    FileHooks planning = hooks;
    planning.claim = nullptr;  // looking ahead takes no file
    return [settings, planning](const std::string& path) { return PlanTag(path, settings, planning, false); };
}

unsigned BatchRun::PlanningThreads(size_t readers, const ReadAhead::Planner& planner) {
    // Planning every file costs processor time that reading ahead alone, which
    // skips files once the cache is warm, doesn't: two planners a core, enough
    // to keep a cold disk busy without taking a warm run's processors.
    return static_cast<unsigned>(std::min<size_t>(
        {readers, ReadAhead::kThreads, planner ? 2 * std::max(1u, std::thread::hardware_concurrency()) : SIZE_MAX}));
}

void BatchRun::RunInOrder(BatchObserver& watch, BatchResult& result, int32_t preset, FileClaims& claims) {
    int32_t readOnlyAnswer = preset;
    int32_t retagAnswer = preset;
    clsAcidSettings settings;
    FillSettings(settings, choice_);
    FileHooks hooks = HooksFor(choice_, perFile_, claims);

    // While one file is tagged, the next ones are fetched from the disk, by
    // as many threads as leave the tagging its descriptor. With a journal
    // they are planned as well: the records of their changes go to the disk
    // together, with the first of them to be written.
    const size_t spare = SpareDescriptors();
    const size_t readers = spare > kDescriptorsKept + 1 ? spare - kDescriptorsKept - 1 : 0;
    const ReadAhead::Planner planner = PlannerFor(settings, hooks);
    ReadAhead ahead(files_, ReadAhead::kWindow, PlanningThreads(readers, planner), planner);
    std::map<size_t, FilePlan> planned;
    // A file's loop properties chosen ahead are not chosen again (choosing
    // may mean listening to the whole file).
    const ChooseSettings choose = hooks.choose;
    const FilePlan* current = nullptr;
    // Plans reach the journal in the files' order, whichever thread finished
    // first: its records then list the run as it went, and undo names the
    // files back from the last.
    size_t handed = 0;
    if (choose && planner) {
        hooks.choose = [&current, choose](const std::string& path, const Inspection& found, clsAcidSettings& chosen) {
            if (current && current->found.device == found.device && current->found.inode == found.inode &&
                (current->refusal.reason == Reason::None || current->refusal.reason == Reason::Rule)) {
                chosen = current->settings;
                return Choice{current->refusal, current->note};
            }
            return choose(path, found, chosen);
        };
    }
    for (const std::string& path : files_) {
        const size_t index = result.visited;
        ahead.At(index);
        if (planner) {
            for (auto& [i, plan] : ahead.Planned()) planned.emplace(i, std::move(plan));
            std::vector<FileChange> upcoming;
            handed = std::max(handed, index);
            for (auto it = planned.find(handed); it != planned.end(); it = planned.find(++handed))
                if (!it->second.refusal.Refuses()) upcoming.push_back(it->second.change);
            if (!upcoming.empty()) recorder_->Upcoming(std::move(upcoming));
            planned.erase(planned.begin(), planned.lower_bound(index));
            const auto it = planned.find(index);
            current = it == planned.end() ? nullptr : &it->second;
        }
        ++result.visited;
        watch.BeforeFile(result.visited, path);
        Outcome outcome = DoFile(path, settings, readOnlyAnswer, retagAnswer, ui_, hooks);
        if (recorder_) recorder_->Annotate(outcome);
        Count(result, outcome);
        if (recorder_) recorder_->Done(outcome);
        result.journalFailed = recorder_ && recorder_->Broken();
        result.cancelled = outcome.result == Result::Cancelled;
        ui_.ShowOutcome(outcome);
        watch.AfterFile(result.visited, path, outcome);
        if (result.cancelled || result.journalFailed) break;
    }
}

void BatchRun::RunConcurrently(BatchObserver& watch, BatchResult& result, int32_t preset, FileClaims& claims) {
    std::mutex stateMutex;  // the hand-out and the result
    std::mutex talkMutex;   // the user interface and the observer
    SerialUi ui(ui_, talkMutex);
    const FileHooks hooks = HooksFor(choice_, perFile_, claims);
    size_t next = 0;
    bool stop = false;
    std::exception_ptr error;

    // With a journal a worker takes a few files at once and plans them first,
    // so that the records of all of them reach the disk with one sync, not a
    // sync for each few files in hand. Not where each file's choice is its
    // own: that may mean listening to the whole file, twice.
    ReadAhead::Planner planner;
    if (!perFile_) {
        clsAcidSettings settings;
        FillSettings(settings, choice_);
        planner = PlannerFor(settings, hooks);
    }
    const size_t batch = planner ? kPlannedBatch : 1;

    const auto work = [&] {
        // Each worker its own settings (a loop's tempo is set per file) and
        // answers (which can only hold the preset here).
        clsAcidSettings settings;
        FillSettings(settings, choice_);
        int32_t readOnlyAnswer = preset;
        int32_t retagAnswer = preset;
        try {
            for (;;) {
                size_t first = 0, end = 0;
                {
                    std::lock_guard<std::mutex> lock(stateMutex);
                    if (stop || next == files_.size()) return;
                    first = next;
                    end = next = std::min(files_.size(), next + batch);
                }
                if (planner && end - first > 1) {
                    std::vector<FileChange> upcoming;
                    for (size_t i = first + 1; i < end; ++i) {
                        FilePlan plan = planner(files_[i]);
                        if (!plan.refusal.Refuses()) upcoming.push_back(std::move(plan.change));
                    }
                    if (!upcoming.empty()) recorder_->Upcoming(std::move(upcoming));
                }
                for (size_t index = first; index < end; ++index) {
                    size_t number = 0;
                    {
                        std::lock_guard<std::mutex> lock(stateMutex);
                        if (stop) return;
                        number = ++result.visited;
                    }
                    const std::string& path = files_[index];
                    {
                        std::lock_guard<std::mutex> lock(talkMutex);
                        watch.BeforeFile(number, path);
                    }
                    Outcome outcome = DoFile(path, settings, readOnlyAnswer, retagAnswer, ui, hooks);
                    if (recorder_) recorder_->Annotate(outcome);
                    if (recorder_) recorder_->Done(outcome);
                    const bool broken = recorder_ && recorder_->Broken();
                    const bool cancel = outcome.result == Result::Cancelled;
                    {
                        std::lock_guard<std::mutex> lock(stateMutex);
                        Count(result, outcome);
                        result.journalFailed = result.journalFailed || broken;
                        result.cancelled = result.cancelled || cancel;
                        if (broken || cancel) stop = true;
                    }
                    ui.ShowOutcome(outcome);
                    {
                        std::lock_guard<std::mutex> lock(talkMutex);
                        watch.AfterFile(number, path, outcome);
                    }
                }
            }
        } catch (...) {
            // A run-time error from the user interface ends the run, after
            // the files in hand, and reaches the caller.
            std::lock_guard<std::mutex> lock(stateMutex);
            if (!error) error = std::current_exception();
            stop = true;
        }
    };
    // Each worker holds one file open: no more workers than descriptors to
    // spare, so that a low limit slows the run down instead of failing files.
    const size_t spare = SpareDescriptors();
    const size_t room = spare > kDescriptorsKept ? spare - kDescriptorsKept : 0;
    const size_t count = std::max<size_t>(1, std::min<size_t>({jobs_, files_.size(), room}));
    std::vector<std::thread> workers;
    for (size_t i = 1; i < count; ++i) {
        // Threads the system won't give (a limit on processes or threads)
        // are done without: the workers there are share the files.
        try {
            workers.emplace_back(work);
        } catch (const std::exception&) {
            break;
        }
    }
    work();
    for (std::thread& t : workers) t.join();
    if (error) std::rethrow_exception(error);
}

}  // namespace velorizer
