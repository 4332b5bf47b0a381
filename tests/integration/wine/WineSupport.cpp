#include "WineSupport.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using namespace testing_support;

namespace winetest {

std::string WineLoader() {
    if (HaveTool("wine")) return "wine";
    if (::access("/usr/lib/wine/wine64", X_OK) == 0) return "/usr/lib/wine/wine64";
    return {};
}

std::string WinPath(const std::string& path) {
    std::string p = "Z:" + fs::absolute(path).string();
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

CommandResult RunWine(const std::string& exe, const std::string& args, const std::string& cwd, bool display) {
    const std::string prefix = fs::absolute(TestBinDir() + "/../wineprefix").string();
    return RunCommand("cd '" + cwd + "' && WINEPREFIX='" + prefix +
                      "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' flock '" + prefix + ".lock' " +
                      (display ? "xvfb-run -a " : "") + WineLoader() + " '" + exe + "' " + args + " 2>/dev/null");
}

std::string ClickerPath() { return TestBinDir() + "/clicker.exe"; }

CommandResult RunWineClicking(const std::string& exe, const std::string& steps, const std::string& cwd,
                              bool& clickerDone) {
    const std::string prefix = fs::absolute(TestBinDir() + "/../wineprefix").string();
    const std::string script = cwd + "/run-clicking.sh";
    WriteText(script, WineLoader() + " '" + fs::absolute(ClickerPath()).string() + "' " + steps + " &\n" +
                          WineLoader() + " '" + exe + "'\nstatus=$?\nwait $!\necho clicker=$?\nexit $status\n");
    CommandResult r = RunCommand("cd '" + cwd + "' && WINEPREFIX='" + prefix +
                                 "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' flock '" + prefix +
                                 ".lock' timeout 120 xvfb-run -a sh '" + script + "' 2>/dev/null");
    clickerDone = r.output.find("clicker=0") != std::string::npos;
    return r;
}

bool WaitForFile(const std::string& path) {
    for (int i = 0; i < 100 && !testing_support::Exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return testing_support::Exists(path);
}

}  // namespace winetest
