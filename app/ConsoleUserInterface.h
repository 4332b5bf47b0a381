#pragma once
// The user interface of the batch front end: notes go to stderr prefixed "note: ",
// progress is a line redrawn on stderr when stderr is a terminal, and Ctrl-C or a request
// to end the program sets the cancel flag exactly as the progress window's Cancel button does.
#include <atomic>
#include <cstdio>
#include <string>

#include "app/UserInterface.h"

namespace app {

class ConsoleUserInterface : public UserInterface {
public:
    explicit ConsoleUserInterface(std::FILE* err = stderr);
    ~ConsoleUserInterface() override;

    void ShowNote(const std::string& text) override;
    void BeginProgress(int maximum) override;
    void SetProgress(int position, const std::string& text) override;
    void EndProgress() override;
    bool ProgressCancelled() const override;
    void ProcessMessages() override {}
    void SetHourglass(bool) override {}
    void Beep() override {}
    void ShowMessage(const std::string& text) override;
    void ReportError(const std::string& text) override;

    // Takes over Ctrl-C and the request to end the program: the first raises the cancel
    // flag, a second ends the program at once.
    void InstallSignalHandlers();
    // True once a signal arrived during this process (not cleared by BeginProgress).
    static bool Interrupted();
    // How many notes were shown: the batch front end's exit status depends on it.
    int NoteCount() const { return m_notes; }

    // The text with each CR LF, lone CR or lone LF turned into one '\n'.
    static std::string WithLineBreaks(const std::string& text);

private:
    void ClearProgressLine();

    std::FILE* m_err;
    bool m_terminal;
    bool m_progressShown = false;
    int m_maximum = 0;
    int m_notes = 0;
    int m_stopsBeforeProgress = 0;  // a stop request counts as Cancel once progress began
};

}  // namespace app
