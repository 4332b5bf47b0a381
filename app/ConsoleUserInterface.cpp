#include "app/ConsoleUserInterface.h"

#include "app/WizardRules.h"
#include "platform/Console.h"

namespace app {

ConsoleUserInterface::ConsoleUserInterface(std::FILE* err) : m_err(err), m_terminal(platform::IsTerminal(err)) {}

ConsoleUserInterface::~ConsoleUserInterface() { ClearProgressLine(); }

void ConsoleUserInterface::InstallSignalHandlers() { platform::InstallStopHandlers(); }

bool ConsoleUserInterface::Interrupted() { return platform::StopRequests() > 0; }

std::string ConsoleUserInterface::WithLineBreaks(const std::string& text) { return WithNewlines(text); }

void ConsoleUserInterface::ClearProgressLine() {
    if (m_progressShown) {
        std::fputs("\r\033[K", m_err);
        m_progressShown = false;
    }
}

void ConsoleUserInterface::ShowNote(const std::string& text) {
    ClearProgressLine();
    ++m_notes;
    std::fprintf(m_err, "note: %s\n", WithLineBreaks(text).c_str());
    std::fflush(m_err);
}

void ConsoleUserInterface::BeginProgress(int maximum) {
    m_maximum = maximum;
    m_stopsBeforeProgress = platform::StopRequests();
}

void ConsoleUserInterface::SetProgress(int position, const std::string& text) {
    if (!m_terminal) return;
    int shown = position > m_maximum ? m_maximum : position;
    std::fprintf(m_err, "\r\033[K[%d/%d] %s", shown, m_maximum, text.c_str());
    std::fflush(m_err);
    m_progressShown = true;
}

void ConsoleUserInterface::EndProgress() { ClearProgressLine(); }

bool ConsoleUserInterface::ProgressCancelled() const { return platform::StopRequests() > m_stopsBeforeProgress; }

void ConsoleUserInterface::ShowMessage(const std::string& text) {
    ClearProgressLine();
    std::fprintf(m_err, "%s\n", WithLineBreaks(text).c_str());
    std::fflush(m_err);
}

void ConsoleUserInterface::ReportError(const std::string& text) {
    ClearProgressLine();
    std::fprintf(m_err, "error: %s\n", WithLineBreaks(text).c_str());
    std::fflush(m_err);
}

}  // namespace app
