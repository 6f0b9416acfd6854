#pragma once
// A Qt message box set up as the runtime shows one, for every part of the
// program that asks or tells the user something, and text that holds names
// made safe to show in it and in any other window.

#include <QMessageBox>
#include <QString>

#include <string>

namespace vxqt {

// Whether a text's own line breaks and tabs are shown as such.
enum class Lines { Kept, Pictured };

// A name, or a text that holds names, as the windows show it: control
// characters as control pictures (U+2400 on), and characters that are
// invisible or reorder the text around them as escapes (\u202e), as velorize
// writes them; so that a name can neither hide part of itself, nor reorder
// or break what is shown around it.
QString ShownText(const QString& text, Lines lines = Lines::Pictured);

// Caption (empty = the application title), the prompt as plain text, and the
// icon of the style's icon bits. The buttons are the caller's. Both texts are
// shown as ShownText shows them; the prompt keeps its line breaks when told.
void PrepareMsgBox(QMessageBox& box, const std::string& prompt, int style, const std::string& caption,
                   Lines lines = Lines::Kept);
// Widens a box whose buttons are set so that a window manager's title bar has
// room for the whole caption.
void KeepCaptionWhole(QMessageBox& box);

}  // namespace vxqt
