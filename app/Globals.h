#pragma once
// Process-wide state shared by every part of the program: the automation reference to
// MapInfo and the file-in-use test.
#include <memory>
#include <stdexcept>
#include <string>

namespace platform {
class AutomationObject;
}

namespace app {

// A MapBasic statement or expression that MapInfo rejected; what() is MapInfo's message.
class MapInfoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The one automation reference to MapInfo: empty, then connected once at start-up,
// then released when the main window closes (and again at shutdown).
class MapInfoReference {
public:
    bool IsEmpty() const { return !m_object; }
    void Assign(std::shared_ptr<platform::AutomationObject> object) { m_object = std::move(object); }
    void Release() { m_object.reset(); }

    // Runs one MapBasic statement. Throws MapInfoError with MapInfo's message.
    void Do(const std::string& statement);
    // Evaluates one MapBasic expression; the value as text. Throws MapInfoError.
    std::string Eval(const std::string& expression);

private:
    std::shared_ptr<platform::AutomationObject> m_object;
};

MapInfoReference& MapInfoApp();

// The automation classes tried at start-up, in order.
inline constexpr const char* kMapInfoClasses[] = {"MapInfo.Application", "MapInfo.Runtime"};

// Tries each class of kMapInfoClasses and stores the first that starts in MapInfoApp().
// False when none does.
bool ConnectMapInfo();

// True when the file cannot be opened for exclusive reading and writing: missing, not a
// regular file, read-only, in a read-only place, without access rights, or held by another
// program. Never creates a file, never waits on a pipe or a device.
bool FileInUse(const std::string& path);

}  // namespace app
