#include "app/Globals.h"

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

bool FileInUse(const std::string& path) { return platform::HeldByAnother(path, platform::Access::Exclusive); }

}  // namespace app
