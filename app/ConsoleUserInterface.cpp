#include "app/ConsoleUserInterface.h"

#include "app/WizardRules.h"

#include <unistd.h>

#include <csignal>

namespace app {
namespace {

volatile std::sig_atomic_t g_cancelRequested = 0;  // cleared by BeginProgress
volatile std::sig_atomic_t g_interrupted = 0;      // stays set

// The first signal asks the run to stop where it looks for Cancel; parts of the run that
// never look (packing, say) would make it wait for them, so a second signal ends the
// program at once, as the signal's default does.
extern "C" void OnSignal(int signal) {
    if (g_interrupted) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_cancelRequested = 1;
    g_interrupted = 1;
}

}  // namespace

ConsoleUserInterface::ConsoleUserInterface(std::FILE* err)
    : m_err(err), m_terminal(::isatty(::fileno(err)) != 0) {}

ConsoleUserInterface::~ConsoleUserInterface() { ClearProgressLine(); }

void ConsoleUserInterface::InstallSignalHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool ConsoleUserInterface::Interrupted() { return g_interrupted != 0; }

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
    g_cancelRequested = 0;
}

void ConsoleUserInterface::SetProgress(int position, const std::string& text) {
    if (!m_terminal) return;
    int shown = position > m_maximum ? m_maximum : position;
    std::fprintf(m_err, "\r\033[K[%d/%d] %s", shown, m_maximum, text.c_str());
    std::fflush(m_err);
    m_progressShown = true;
}

void ConsoleUserInterface::EndProgress() { ClearProgressLine(); }

bool ConsoleUserInterface::ProgressCancelled() const { return g_cancelRequested != 0; }

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
