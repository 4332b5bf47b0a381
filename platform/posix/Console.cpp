#include "platform/Console.h"

#include <unistd.h>

#include <csignal>

namespace platform {
namespace {

volatile std::sig_atomic_t g_requests = 0;

// The first signal asks the program to stop where it looks; parts of its work that never
// look would make it wait for them, so a second signal ends it at once, as the signal's
// default does.
extern "C" void OnStopSignal(int signal) {
    if (g_requests > 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_requests = g_requests + 1;
}

}  // namespace

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

void InstallStopHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int StopRequests() { return g_requests; }

}  // namespace platform
