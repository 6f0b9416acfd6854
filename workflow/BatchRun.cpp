#include "BatchRun.h"

#include "Descriptors.h"
#include "ReadAhead.h"
#include "RemoveAcid.h"
#include "Velorize.h"
#include "clsAcidSettings.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

namespace velorizer {

namespace {

// Descriptors a run leaves free for the journal and for whatever the user
// interface opens while it runs.
constexpr size_t kDescriptorsKept = 4;

// Passes everything on to the user and notes what it says about the file.
class OutcomeUi : public VelorizeUi {
public:
    // With `talk`, every call to the user holds it: workers take turns.
    explicit OutcomeUi(VelorizeUi& user, std::mutex* talk = nullptr) : user_(user), talk_(talk) {}

    void StartFile() { outcome_ = FileOutcome::Done; }
    FileOutcome Outcome() const { return outcome_; }

    void MsgBox(const std::string& prompt, int style, const std::string& title) override {
        // A critical message, or a write the disk refused, names a file left
        // untagged or half-tagged.
        if ((style & vbCritical) != 0 || prompt == kWriteFailedText) Note(FileOutcome::Failed);
        const Turn turn(talk_);
        user_.MsgBox(prompt, style, title);
    }
    int32_t GetConfirmReadOnly(const std::string& title, const std::string& message) override {
        const Turn turn(talk_);
        return Answered(user_.GetConfirmReadOnly(title, message));
    }
    int32_t AskToChange(ChangeQuestion question, const std::string& path, const std::string& title,
                        const std::string& message) override {
        const Turn turn(talk_);
        return Answered(user_.AskToChange(question, path, title, message));
    }

private:
    struct Turn {
        explicit Turn(std::mutex* m) : m_(m) {
            if (m_) m_->lock();
        }
        ~Turn() {
            if (m_) m_->unlock();
        }
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        std::mutex* m_;
    };

    int32_t Answered(int32_t answer) {
        if (answer == kAnswerCancel) Note(FileOutcome::Cancelled);
        else if (answer != kAnswerYes && answer != kAnswerYesToAll) Note(FileOutcome::Declined);
        return answer;
    }
    // The weightiest outcome stands: Cancelled, then Failed, then Declined.
    void Note(FileOutcome outcome) {
        if (static_cast<int>(outcome) > static_cast<int>(outcome_)) outcome_ = outcome;
    }

    VelorizeUi& user_;
    std::mutex* talk_;
    FileOutcome outcome_ = FileOutcome::Done;
};

}  // namespace

BatchRun::BatchRun(std::vector<std::string> files, const PanelChoice& choice, VelorizeUi& ui)
    : files_(std::move(files)), choice_(choice), ui_(ui) {}

bool BatchRun::ChooseForFile(const std::string& path, clsAcidSettings& settings, VelorizeUi& ui) const {
    if (!perFile_) return true;
    PanelChoice choice = choice_;
    const FileDecision decided = perFile_(path, choice);
    // A critical message marks the file as failed.
    if (!decided.note.empty()) ui.MsgBox(decided.note, decided.skip ? vbCritical : vbInformation, "");
    if (decided.skip) return false;
    settings = clsAcidSettings();
    FillSettings(settings, choice);
    return true;
}

void BatchRun::DoFile(const std::string& path, clsAcidSettings& settings, int32_t& readOnlyAnswer, int32_t& retagAnswer,
                      VelorizeUi& ui) const {
    if (remove_) RemoveAcidChunks(path, readOnlyAnswer, ui, recorder_);
    else if (ChooseForFile(path, settings, ui))
        VelorizeFile(path, settings, readOnlyAnswer, retagAnswer, ui, recorder_);
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
    watch.RunStarting(files_.size());
    if (jobs_ > 1 && files_.size() > 1) RunConcurrently(watch, result, preset);
    else RunInOrder(watch, result, preset);
    watch.RunEnding(result);
    if (recorder_) recorder_->End(result);
    ui_.MsgBox(result.cancelled ? "Operation cancelled." : "Operation completed.", vbInformation, "");
    return result;
}

void BatchRun::RunInOrder(BatchObserver& watch, BatchResult& result, int32_t preset) {
    int32_t readOnlyAnswer = preset;
    int32_t retagAnswer = preset;
    clsAcidSettings settings;
    FillSettings(settings, choice_);

    OutcomeUi ui(ui_);
    // While one file is tagged, the next ones are fetched from the disk, by
    // as many threads as leave the tagging its descriptor.
    const size_t spare = SpareDescriptors();
    const size_t readers = spare > kDescriptorsKept + 1 ? spare - kDescriptorsKept - 1 : 0;
    ReadAhead ahead(files_, ReadAhead::kWindow, static_cast<unsigned>(std::min<size_t>(readers, ReadAhead::kThreads)));
    for (const std::string& path : files_) {
        ahead.At(result.visited);
        ++result.visited;
        watch.BeforeFile(result.visited, path);
        ui.StartFile();
        DoFile(path, settings, readOnlyAnswer, retagAnswer, ui);
        result.journalFailed = recorder_ && recorder_->Broken();
        result.cancelled = readOnlyAnswer == kAnswerCancel || retagAnswer == kAnswerCancel || result.journalFailed;
        if (ui.Outcome() == FileOutcome::Failed) ++result.failed;
        const bool answeredCancel = result.cancelled && !result.journalFailed;
        watch.AfterFile(result.visited, path, answeredCancel ? FileOutcome::Cancelled : ui.Outcome());
        if (result.cancelled) break;
    }
}

void BatchRun::RunConcurrently(BatchObserver& watch, BatchResult& result, int32_t preset) {
    std::mutex stateMutex;  // the hand-out and the result
    std::mutex talkMutex;   // the user interface and the observer
    size_t next = 0;
    bool stop = false;
    bool answeredCancel = false;
    std::exception_ptr error;

    const auto work = [&] {
        // Each worker its own settings (a loop's tempo is set per file) and
        // answers (which can only hold the preset here).
        clsAcidSettings settings;
        FillSettings(settings, choice_);
        int32_t readOnlyAnswer = preset;
        int32_t retagAnswer = preset;
        OutcomeUi ui(ui_, &talkMutex);
        try {
            for (;;) {
                size_t index = 0, number = 0;
                {
                    std::lock_guard<std::mutex> lock(stateMutex);
                    if (stop || next == files_.size()) return;
                    index = next++;
                    number = ++result.visited;
                }
                const std::string& path = files_[index];
                {
                    std::lock_guard<std::mutex> lock(talkMutex);
                    watch.BeforeFile(number, path);
                }
                ui.StartFile();
                DoFile(path, settings, readOnlyAnswer, retagAnswer, ui);
                const bool broken = recorder_ && recorder_->Broken();
                const bool cancel = readOnlyAnswer == kAnswerCancel || retagAnswer == kAnswerCancel;
                {
                    std::lock_guard<std::mutex> lock(stateMutex);
                    if (ui.Outcome() == FileOutcome::Failed) ++result.failed;
                    result.journalFailed = result.journalFailed || broken;
                    answeredCancel = answeredCancel || cancel;
                    if (broken || cancel) stop = true;
                }
                {
                    std::lock_guard<std::mutex> lock(talkMutex);
                    watch.AfterFile(number, path, cancel && !broken ? FileOutcome::Cancelled : ui.Outcome());
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
    workers.reserve(count);
    for (size_t i = 1; i < count; ++i) workers.emplace_back(work);
    work();
    for (std::thread& t : workers) t.join();
    if (error) std::rethrow_exception(error);
    result.cancelled = answeredCancel || result.journalFailed;
}

}  // namespace velorizer
