#pragma once
// The wizard's answer to the core's user-interface seam: notes in the message window,
// progress in the progress window, the hourglass as an override cursor, message boxes.
#include "app/UserInterface.h"

namespace ui {

class TGuiUserInterface final : public app::UserInterface {
public:
    ~TGuiUserInterface() override;

    void ShowNote(const std::string& text) override;
    void BeginProgress(int maximum) override;
    void SetProgress(int position, const std::string& text) override;
    void EndProgress() override;
    bool ProgressCancelled() const override;
    void ProcessMessages() override;
    void SetHourglass(bool on) override;
    void Beep() override;
    // A simple message box titled "Tallomir" with one OK button.
    void ShowMessage(const std::string& text) override;
    // The general error report (caption "Tallomir", error icon).
    void ReportError(const std::string& text) override;

private:
    bool m_hourglass = false;
};

}  // namespace ui
