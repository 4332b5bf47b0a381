#pragma once
// Running the Windows programs under Wine in the tests' own prefix (in the build tree).
#include <string>

#include "TestSupport.h"

namespace winetest {

// "wine", or the wine64 loader; empty when Wine is not installed.
std::string WineLoader();
// A Windows path for a Linux one, through Wine's Z: drive.
std::string WinPath(const std::string& path);
// Runs a Windows program, one Wine run at a time (the first creates the prefix); standard
// output only. `display`: under a virtual X server, for programs that open windows.
testing_support::CommandResult RunWine(const std::string& exe, const std::string& args, const std::string& cwd,
                                       bool display = false);

// Runs `exe` under a virtual X server while the clicker program plays the user: `steps`
// are its "TITLE:CONTROL-ID" arguments. Returns the program's exit status; `clickerDone`
// tells whether every step was found and clicked.
testing_support::CommandResult RunWineClicking(const std::string& exe, const std::string& steps, const std::string& cwd,
                                               bool& clickerDone);
std::string ClickerPath();

// Waits up to ten seconds for a file that a Windows program makes after it has been
// started (Wine lets the program run on after the start returns); true once it is there.
bool WaitForFile(const std::string& path);

}  // namespace winetest
