#include "platform/Console.h"

#include <io.h>
#include <windows.h>

namespace platform {
namespace {

volatile LONG g_requests = 0;

// The first Ctrl-C (or Ctrl-Break, or the console closing) asks the program to stop where it
// looks; a second one is left to the system, which ends the program at once.
BOOL WINAPI OnConsoleControl(DWORD) {
    if (::InterlockedCompareExchange(&g_requests, 0, 0) > 0) return FALSE;
    ::InterlockedIncrement(&g_requests);
    return TRUE;
}

}  // namespace

bool IsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

void InstallStopHandlers() { ::SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

int StopRequests() { return static_cast<int>(::InterlockedCompareExchange(&g_requests, 0, 0)); }

}  // namespace platform
