#pragma once
// The tagging engine's way to the user on the desktop: Qt message boxes and the
// confirmation dialog.

#include "VelorizeUi.h"

namespace velorizer {

class DesktopUi : public VelorizeUi {
public:
    // Style 16: critical icon, 64: information icon, 0: none; always one OK button.
    void MsgBox(const std::string& prompt, int style, const std::string& title) override;
    int32_t GetConfirmReadOnly(const std::string& title, const std::string& message) override;
};

}  // namespace velorizer
