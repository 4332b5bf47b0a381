#pragma once
// Late-bound automation: objects created from a programmatic identifier through the
// automation registry (the folder "automation" beside the program, then each folder of
// TALLOMIR_AUTOMATION_PATH), called by method name with one text argument.
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// A call the server rejected, or a method it does not have; what() is the server's message.
class AutomationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class AutomationObject;

// The folders searched for plugins, in order.
std::vector<std::string> AutomationSearchPath();

// Creates an object of the class `progId`. Throws AutomationError when the class is not
// registered ("Class not registered") or the server does not start.
std::shared_ptr<AutomationObject> CreateOleObject(const std::string& progId);

class AutomationObject {
public:
    ~AutomationObject();
    AutomationObject(const AutomationObject&) = delete;
    AutomationObject& operator=(const AutomationObject&) = delete;

    // Calls `method` with one text argument and returns the answer; throws AutomationError
    // with the server's message when the call is rejected or the method is unknown.
    std::string Invoke(const std::string& method, const std::string& argument);
    const std::string& ProgId() const { return m_progId; }

    struct Impl;  // the plugin library and the object it created

private:
    friend std::shared_ptr<AutomationObject> CreateOleObject(const std::string& progId);
    explicit AutomationObject(std::unique_ptr<Impl> impl, std::string progId);
    std::unique_ptr<Impl> m_impl;
    std::string m_progId;
};

}  // namespace platform
