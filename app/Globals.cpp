#include "app/Globals.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/UserInterface.h"
#include "platform/Automation.h"
#include "platform/FileSystem.h"

namespace app {
namespace {

// Answers nothing and never cancels: the interface before a front end installs its own.
class SilentUserInterface final : public UserInterface {
public:
    void ShowNote(const std::string&) override {}
    void BeginProgress(int) override {}
    void SetProgress(int, const std::string&) override {}
    void EndProgress() override {}
    bool ProgressCancelled() const override { return false; }
    void ProcessMessages() override {}
    void SetHourglass(bool) override {}
    void Beep() override {}
    void ShowMessage(const std::string&) override {}
    void ReportError(const std::string&) override {}
};

UserInterface* g_ui = nullptr;

// Released again when the program ends, whatever closed the main window.
struct MapInfoHolder {
    MapInfoReference reference;
    ~MapInfoHolder() { reference.Release(); }
};

}  // namespace

UserInterface& UI() {
    static SilentUserInterface silent;
    return g_ui ? *g_ui : silent;
}

void SetUserInterface(UserInterface* ui) { g_ui = ui; }

MapInfoReference& MapInfoApp() {
    static MapInfoHolder holder;
    return holder.reference;
}

void MapInfoReference::Do(const std::string& statement) {
    if (!m_object) throw MapInfoError("MapInfo is not connected.");
    try {
        m_object->Invoke("Do", statement);
    } catch (const platform::AutomationError& e) {
        throw MapInfoError(e.what());
    }
}

std::string MapInfoReference::Eval(const std::string& expression) {
    if (!m_object) throw MapInfoError("MapInfo is not connected.");
    try {
        return m_object->Invoke("Eval", expression);
    } catch (const platform::AutomationError& e) {
        throw MapInfoError(e.what());
    }
}

bool ConnectMapInfo() {
    for (const char* progId : kMapInfoClasses) {
        try {
            MapInfoApp().Assign(platform::CreateOleObject(progId));
            return true;
        } catch (const platform::AutomationError&) {
            // not registered or failed to start: try the next class
        }
    }
    return false;
}

bool FileInUse(const std::string& path) {
    auto resolved = platform::ResolveCase(path);
    if (!resolved) return true;
    struct stat st;
    if (::stat(resolved->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return true;
    // Read-only files count as in use even for a user who could write them anyway, and so do
    // files in a read-only folder (they can be written but not replaced or removed).
    if ((st.st_mode & 0222) == 0) return true;
    struct stat folder;
    const std::string parent = resolved->substr(0, std::max<std::size_t>(resolved->rfind('/'), 1));
    if (::stat(parent.c_str(), &folder) != 0 || (folder.st_mode & 0222) == 0) return true;
    // Opened without waiting: a pipe or a device may have taken the file's place since.
    platform::OpenedFile file = platform::OpenRegularFile(*resolved, O_RDWR);
    if (file.error) return true;
    // The file closes on return, which drops the lock at once.
    return ::flock(file.fd.get(), LOCK_EX | LOCK_NB) != 0 || platform::HeldByRecordLock(file.fd.get(), true);
}

}  // namespace app
