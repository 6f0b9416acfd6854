#include "BatchRun.h"

#include "ReadAhead.h"
#include "RemoveAcid.h"
#include "Velorize.h"
#include "clsAcidSettings.h"

#include <utility>

namespace velorizer {

namespace {

// Passes everything on to the user and notes what it says about the file.
class OutcomeUi : public VelorizeUi {
public:
    explicit OutcomeUi(VelorizeUi& user) : user_(user) {}

    void StartFile() { outcome_ = FileOutcome::Done; }
    FileOutcome Outcome() const { return outcome_; }

    void MsgBox(const std::string& prompt, int style, const std::string& title) override {
        // A critical message, or a write the disk refused, names a file left
        // untagged or half-tagged.
        if ((style & vbCritical) != 0 || prompt == kWriteFailedText) Note(FileOutcome::Failed);
        user_.MsgBox(prompt, style, title);
    }
    int32_t GetConfirmReadOnly(const std::string& title, const std::string& message) override {
        return Answered(user_.GetConfirmReadOnly(title, message));
    }
    int32_t AskToChange(ChangeQuestion question, const std::string& path, const std::string& title,
                        const std::string& message) override {
        return Answered(user_.AskToChange(question, path, title, message));
    }

private:
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
    int32_t readOnlyAnswer = preset;
    int32_t retagAnswer = preset;
    clsAcidSettings settings;
    FillSettings(settings, choice_);

    OutcomeUi ui(ui_);
    watch.RunStarting(files_.size());
    // While one file is tagged, the next ones are fetched from the disk.
    ReadAhead ahead(files_);
    for (const std::string& path : files_) {
        ahead.At(result.visited);
        ++result.visited;
        watch.BeforeFile(result.visited, path);
        ui.StartFile();
        if (remove_) RemoveAcidChunks(path, readOnlyAnswer, ui, recorder_);
        else if (ChooseForFile(path, settings, ui))
            VelorizeFile(path, settings, readOnlyAnswer, retagAnswer, ui, recorder_);
        result.journalFailed = recorder_ && recorder_->Broken();
        result.cancelled = readOnlyAnswer == kAnswerCancel || retagAnswer == kAnswerCancel || result.journalFailed;
        if (ui.Outcome() == FileOutcome::Failed) ++result.failed;
        const bool answeredCancel = result.cancelled && !result.journalFailed;
        watch.AfterFile(result.visited, path, answeredCancel ? FileOutcome::Cancelled : ui.Outcome());
        if (result.cancelled) break;
    }
    watch.RunEnding(result);
    if (recorder_) recorder_->End(result);
    ui_.MsgBox(result.cancelled ? "Operation cancelled." : "Operation completed.", vbInformation, "");
    return result;
}

}  // namespace velorizer
