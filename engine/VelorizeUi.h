#pragma once
// How a program talks to its user about files: the questions the engine asks
// while it changes a file, and the messages a program shows. The desktop
// program, the command line and the tests each supply their own.

#include "MsgBoxStyle.h"
#include "Outcome.h"

#include <cstdint>
#include <string>

namespace velorizer {

using enum vb::MsgBoxStyle;

// Answers of the change confirmation.
enum ConfirmAnswer : int32_t {
    kAnswerNone = 0,
    kAnswerYes = 1,
    kAnswerNo = 2,
    kAnswerYesToAll = 3,
    kAnswerCancel = -1,
};

// What a change confirmation is about.
enum class ChangeQuestion { ReadOnly, Retag };

class VelorizeUi {
public:
    virtual ~VelorizeUi() = default;
    // A message box with an OK button. An empty title means the application title.
    virtual void MsgBox(const std::string& prompt, int style, const std::string& title) = 0;
    // The change confirmation: returns 1 (Yes), 2 (No), 3 (Yes to All) or -1 (Cancel);
    // anything else is taken as a refusal that does not stop the run.
    virtual int32_t GetConfirmReadOnly(const std::string& title, const std::string& message) = 0;
    // The tagger asks through this; a user interface that needs to know what is
    // asked about, and which file, overrides it.
    virtual int32_t AskToChange(ChangeQuestion /*question*/, const std::string& /*path*/, const std::string& title,
                                const std::string& message) {
        return GetConfirmReadOnly(title, message);
    }
    // How one file's change ended, told to the user: by default the message
    // boxes the outcome gives, in their order, after what the per-file choice
    // said about the file.
    virtual void ShowOutcome(const Outcome& outcome) {
        if (!outcome.note.empty()) MsgBox(outcome.note, vbInformation, "");
        for (const Message& m : OutcomeMessages(outcome)) MsgBox(m.prompt, m.style, m.title);
    }
};

}  // namespace velorizer
