#pragma once
// Everything the core needs from the user interface. The wizard answers with windows, the
// batch front end from the console, tests with a recorder. All calls come from the one
// thread that runs the work.
#include <string>

namespace app {

class UserInterface {
public:
    virtual ~UserInterface() = default;

    // Shows a message and returns when the user has seen it. Lines are separated by CR or
    // CR LF, as the program's messages are written.
    virtual void ShowNote(const std::string& text) = 0;

    // The progress display: a bar from 0 to `maximum` (at least 0); BeginProgress clears the
    // cancel flag. EndProgress closes the display.
    virtual void BeginProgress(int maximum) = 0;
    virtual void SetProgress(int position, const std::string& text) = 0;
    virtual void EndProgress() = 0;
    // True once the user asked to cancel, until the next BeginProgress.
    virtual bool ProgressCancelled() const = 0;

    // Lets pending window messages through (repaints, the Cancel button).
    virtual void ProcessMessages() = 0;
    virtual void SetHourglass(bool on) = 0;
    virtual void Beep() = 0;

    // The zip component's simple message dialog: one OK button, the application's title.
    virtual void ShowMessage(const std::string& text) = 0;
    // The general error report for an error that reached an event handler.
    virtual void ReportError(const std::string& text) = 0;
};

// The interface in force; a silent one until SetUserInterface is called. Not owned.
UserInterface& UI();
void SetUserInterface(UserInterface* ui);

}  // namespace app
