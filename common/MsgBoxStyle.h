#pragma once
// Message box styles and answers as the runtime numbers them: buttons in the
// low bits, the icon above. Shared by every part that asks the user something.

namespace vb {

enum MsgBoxStyle : int {
    vbOKOnly = 0,
    vbOKCancel = 1,
    vbCritical = 16,
    vbQuestion = 32,
    vbExclamation = 48,
    vbInformation = 64,
};

enum MsgBoxResult : int { vbOK = 1, vbCancel = 2 };

}  // namespace vb
