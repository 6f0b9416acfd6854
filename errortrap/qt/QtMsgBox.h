#pragma once
// A Qt message box set up as the runtime shows one, for every part of the
// program that asks or tells the user something.

#include <QMessageBox>

#include <string>

namespace vxqt {

// Caption (empty = the application title), the prompt as plain text, and the
// icon of the style's icon bits. The buttons are the caller's.
void PrepareMsgBox(QMessageBox& box, const std::string& prompt, int style, const std::string& caption);
// Widens a box whose buttons are set so that a window manager's title bar has
// room for the whole caption.
void KeepCaptionWhole(QMessageBox& box);

}  // namespace vxqt
