#pragma once
// The console of a program run from a terminal or a script: whether a stream is a
// terminal, and the user's requests to stop (Ctrl-C, or a request to end the program).
#include <cstdio>

namespace platform {

// True when `stream` writes to a terminal, where a progress line may be redrawn in place.
bool IsTerminal(std::FILE* stream);

// Takes over the requests to stop: the first is only counted (the program stops where it
// looks, see StopRequests); a second ends the program at once, as the system would have.
void InstallStopHandlers();
// How many requests to stop came since the handlers were installed.
int StopRequests();

}  // namespace platform
